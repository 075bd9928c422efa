#include "layout/ZNFLayoutCollectionViewController.h"

#include "layout/ZNFLayoutItemInteraction.h"
#include "layout/ZNFLayoutLog.h"
#include "layout/ZNFLayoutProvider.h"
#include "platform/ZNFLog.h"

#include <cmath>

ZNFLayoutCollectionViewItem::ZNFLayoutCollectionViewItem() = default;

ZNFLayoutCollectionViewItem::~ZNFLayoutCollectionViewItem() {
    detatchContainedViewController();
}

void ZNFLayoutCollectionViewItem::removePreviousItemView() {
    QWidget* old = m_layoutItemView.data();
    // A provider that hands one view to several cells moves it; only the cell that still
    // holds it lets it go.
    if (old && isViewLoaded() && old->parentWidget() == view()) {
        // Deleted later: the click that led here may still be on its way through this view.
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    m_layoutItemView = nullptr;
    if (m_trackingArea) {
        if (isViewLoaded())
            view()->removeTrackingArea(m_trackingArea);
        m_trackingArea.reset();
    }
}

void ZNFLayoutCollectionViewItem::setLayoutItemView(QWidget* itemView) {
    // A view controller hosted before would otherwise stay on screen under the new view.
    detatchContainedViewController();
    // A reload under the pointer replaces the tracking area: the new one must still report the
    // exit, or a hover highlight would stay on.
    const std::shared_ptr<ZNFTrackingArea> previousArea = m_trackingArea;
    if (itemView && itemView == m_layoutItemView.data()) {
        // The provider reconfigured the view the cell already shows: keep it, refresh the rest.
        m_layoutItemView = nullptr;
        if (m_trackingArea) {
            view()->removeTrackingArea(m_trackingArea);
            m_trackingArea.reset();
        }
    } else {
        removePreviousItemView();
    }
    m_layoutItemView = itemView;
    if (!itemView)
        return;
    ZNFView* cellView = view();
    const QRectF bounds = cellView->bounds();
    if (auto* v = qobject_cast<ZNFView*>(itemView)) {
        v->setAutoresizingMask(ZNFView::WidthSizable | ZNFView::HeightSizable);
        if (v->parentWidget() != cellView)
            cellView->addSubview(v);
        v->setFrame(bounds);
    } else {
        ZNFView::setAutoresizingMask(itemView, ZNFView::WidthSizable | ZNFView::HeightSizable);
        if (itemView->parentWidget() != cellView)
            itemView->setParent(cellView);
        itemView->setGeometry(QRect(0, 0, static_cast<int>(std::round(bounds.width())),
                                    static_cast<int>(std::round(bounds.height()))));
    }
    itemView->show();
    ZNFLayoutItemInteraction::attach(itemView, m_layoutItem, this);
    if (m_layoutItem && m_layoutItem->hoverHandler()) {
        const QRectF area =
            qobject_cast<ZNFView*>(itemView) ? qobject_cast<ZNFView*>(itemView)->frame() : bounds;
        m_trackingArea = std::make_shared<ZNFTrackingArea>(
            area, ZNFTrackingMouseEnteredAndExited | ZNFTrackingActiveInKeyWindow, this);
        cellView->addTrackingArea(m_trackingArea, previousArea);
    }
}

void ZNFLayoutCollectionViewItem::detatchContainedViewController() {
    if (!m_containedViewController)
        return;
    const auto controller = std::move(m_containedViewController);
    m_containedViewController.reset();
    // A controller that has since moved to another cell stays where it is now.
    if (controller->isViewLoaded() && isViewLoaded() && controller->view()->parentWidget() != view())
        return;
    if (controller->isViewLoaded()) {
        ZNFView* hosted = controller->view();
        hosted->hide();
        hosted->setParent(nullptr);
    }
    controller->removeFromParentViewController();
}

void ZNFLayoutCollectionViewItem::setViewController(const std::shared_ptr<ZNFViewController>& controller,
                                                    ZNFViewController* parent) {
    if (controller == m_containedViewController) {
        removePreviousItemView();
    } else {
        detatchContainedViewController();
        removePreviousItemView();
    }
    m_containedViewController = controller;
    if (!controller)
        return;
    ZNFView* cellView = view();
    ZNFView* hosted = controller->view();
    hosted->setAutoresizingMask(ZNFView::WidthSizable | ZNFView::HeightSizable);
    if (hosted->parentWidget() != cellView)
        cellView->addSubview(hosted);
    hosted->setFrame(cellView->bounds());
    hosted->show();
    if (parent)
        parent->addChildViewController(controller);
}

void ZNFLayoutCollectionViewItem::mouseDown(const ZNFEvent& event) {
    ZNFCollectionViewItem::mouseDown(event);
    sendEventIfNecessary(event);
}

void ZNFLayoutCollectionViewItem::mouseUp(const ZNFEvent& event) {
    ZNFCollectionViewItem::mouseUp(event);
    sendEventIfNecessary(event);
}

void ZNFLayoutCollectionViewItem::rightMouseDown(const ZNFEvent& event) {
    ZNFCollectionViewItem::rightMouseDown(event);
    sendEventIfNecessary(event);
}

void ZNFLayoutCollectionViewItem::rightMouseUp(const ZNFEvent& event) {
    ZNFCollectionViewItem::rightMouseUp(event);
    sendEventIfNecessary(event);
}

void ZNFLayoutCollectionViewItem::mouseEntered(const ZNFEvent& event) {
    ZNFCollectionViewItem::mouseEntered(event);
    sendEventIfNecessary(event);
}

void ZNFLayoutCollectionViewItem::mouseExited(const ZNFEvent& event) {
    ZNFCollectionViewItem::mouseExited(event);
    sendEventIfNecessary(event);
}

void ZNFLayoutCollectionViewItem::sendEventIfNecessary(const ZNFEvent& event) {
    // Handlers may replace the screen, the item's handlers or this cell's contents: call copies.
    const std::shared_ptr<ZNFLayoutItem> item = m_layoutItem;
    if (!item)
        return;
    ZNFView* cellView = view();
    switch (event.type()) {
    case ZNFEventTypeLeftMouseDown:
    case ZNFEventTypeLeftMouseUp:
    case ZNFEventTypeRightMouseDown:
    case ZNFEventTypeRightMouseUp:
        if (const ZNFLayoutItemEventHandler handler = item->clickHandler())
            handler(event, this, cellView);
        break;
    case ZNFEventTypeMouseEntered:
    case ZNFEventTypeMouseExited:
        if (const ZNFLayoutItemEventHandler handler = item->hoverHandler())
            handler(event, this, cellView);
        break;
    default:
        break;
    }
}

ZNFLayoutCollectionViewController::ZNFLayoutCollectionViewController() = default;

ZNFLayoutCollectionViewController::~ZNFLayoutCollectionViewController() {
    if (m_collectionView) {
        m_collectionView->setDataSource(nullptr);
        m_collectionView->setDelegate(nullptr);
    }
}

ZNFBundle ZNFLayoutCollectionViewController::bundle() {
    static const ZNFBundle layoutBundle = ZNFBundle::bundleWithPath(
        ZNFBundle::mainBundle().pathForResource(QStringLiteral("ZNFLayout"), QStringLiteral("bundle")));
    return layoutBundle;
}

void ZNFLayoutCollectionViewController::loadView() {
    // The interface: one collection view filling the controller's view, a flow layout without
    // spacing or insets, a vertical scroller at the right while the content needs one.
    auto* root = new ZNFView(QRectF(0, 0, 480, 640));
    auto* collectionView = new ZNFCollectionView(root->bounds());
    collectionView->setAutoresizingMask(ZNFView::WidthSizable | ZNFView::HeightSizable);
    // Every layout pass of the controller reloads; the collection view need not re-measure on its own.
    collectionView->setRelayoutsOnResize(false);
    // A scroller with its arrows beside a screen that fits says there is more when there is not.
    collectionView->setAutohidesScrollers(true);
    root->addSubview(collectionView);
    collectionView->setDataSource(this);
    collectionView->setDelegate(this);
    m_collectionView = collectionView;
    setView(root);
}

void ZNFLayoutCollectionViewController::viewDidLoad() {
    ZNFViewController::viewDidLoad();
    m_fillWidth = true;
    if (m_collectionView)
        m_collectionView->registerClass<ZNFLayoutCollectionViewItem>(
            ZNFLayoutCollectionViewControllerCellIdentifier);
}

void ZNFLayoutCollectionViewController::viewDidLayout() {
    ZNFViewController::viewDidLayout();
    if (m_collectionView)
        m_collectionView->reloadData();
}

ZNFCollectionView* ZNFLayoutCollectionViewController::collectionView() {
    view();
    return m_collectionView.data();
}

ZNFCollectionViewFlowLayout* ZNFLayoutCollectionViewController::flowLayout() {
    ZNFCollectionView* cv = collectionView();
    return cv ? dynamic_cast<ZNFCollectionViewFlowLayout*>(cv->collectionViewLayout()) : nullptr;
}

std::shared_ptr<ZNFLayoutItem>
ZNFLayoutCollectionViewController::objectAtIndexPath(const ZNFIndexPath& indexPath) const {
    if (indexPath.item < 0 || indexPath.item >= static_cast<int>(m_layoutItems.size()))
        return nullptr;
    return m_layoutItems[static_cast<size_t>(indexPath.item)];
}

int ZNFLayoutCollectionViewController::numberOfItemsInSection(ZNFCollectionView* collectionView,
                                                              int section) {
    // Asked first in every layout pass: the place to centre the content for this width.
    if (auto* flow = collectionView
                         ? dynamic_cast<ZNFCollectionViewFlowLayout*>(collectionView->collectionViewLayout())
                         : nullptr) {
        ZNFEdgeInsets inset = flow->sectionInset();
        inset.left = (fullContentWidth(collectionView) - contentWidth(collectionView)) / 2;
        flow->setSectionInset(inset);
    }
    return section == 0 ? static_cast<int>(m_layoutItems.size()) : 0;
}

double ZNFLayoutCollectionViewController::fullContentWidth(ZNFCollectionView* collectionView) {
    return collectionView->frame().width() - collectionView->verticalScrollerWidth();
}

double ZNFLayoutCollectionViewController::contentWidth(ZNFCollectionView* collectionView) const {
    const double full = fullContentWidth(collectionView);
    return m_maximumContentWidth ? std::min(full, std::max(0.0, *m_maximumContentWidth)) : full;
}

QSizeF ZNFLayoutCollectionViewController::sizeForItemAtIndexPath(ZNFCollectionView* collectionView,
                                                                 ZNFCollectionViewLayout*,
                                                                 const ZNFIndexPath& indexPath) {
    const std::shared_ptr<ZNFLayoutItem> item = objectAtIndexPath(indexPath);
    if (!item || !collectionView)
        return QSizeF(0, 0);
    const double available = contentWidth(collectionView);
    const double boundsHeight = collectionView->bounds().height();
    QSizeF size = item->sizeThatFits(QSizeF(available, ZNFLayoutFill));
    if (m_fillWidth || size.width() == ZNFLayoutFill)
        size.setWidth(available);
    if (m_fillHeight || size.height() == ZNFLayoutFill)
        size.setHeight(boundsHeight);
    if (std::isnan(size.width()) || std::isnan(size.height())) {
        qCWarning(lcLayout()).noquote()
            << QStringLiteral("%1 error: item at index path %2 contains a value of NaN")
                   .arg(QString::fromLatin1(metaObject()->className()), indexPath.description());
        return QSizeF(0.01, 0.01);
    }
    return size;
}

std::shared_ptr<ZNFCollectionViewItem>
ZNFLayoutCollectionViewController::itemForRepresentedObjectAtIndexPath(ZNFCollectionView* collectionView,
                                                                       const ZNFIndexPath& indexPath) {
    if (!collectionView)
        return nullptr;
    const std::shared_ptr<ZNFLayoutItem> item = objectAtIndexPath(indexPath);
    const QString kind = item ? item->kind() : QString();
    const QString identifier =
        m_registeredKinds.contains(kind) ? kind : ZNFLayoutCollectionViewControllerCellIdentifier;
    const std::shared_ptr<ZNFCollectionViewItem> made = collectionView->makeItem(identifier, indexPath);
    auto cell = std::dynamic_pointer_cast<ZNFLayoutCollectionViewItem>(made);
    if (!cell)
        return made;
    cell->setLayoutItem(item);
    if (const auto provider = providerForItem(item)) {
        const ZNFLayoutInstance instance =
            provider->instanceForItem(item, this, cell->view()->bounds(), cell->layoutItemView());
        if (instance.view) {
            cell->setLayoutItemView(instance.view);
        } else if (instance.viewController) {
            addChildViewController(instance.viewController);
            cell->setViewController(instance.viewController, this);
        }
    }
    return cell;
}

void ZNFLayoutCollectionViewController::registerViewProvider(
    const std::shared_ptr<ZNFLayoutItemViewProvider>& provider, const QString& kind) {
    if (provider && !kind.isEmpty())
        m_viewProviders.insert(kind, provider);
    if (!kind.isEmpty()) {
        m_registeredKinds.insert(kind);
        if (ZNFCollectionView* cv = collectionView())
            cv->registerClass<ZNFLayoutCollectionViewItem>(kind);
    }
}

std::shared_ptr<ZNFLayoutItemViewProvider>
ZNFLayoutCollectionViewController::providerForItem(const std::shared_ptr<ZNFLayoutItem>& item) {
    if (!item)
        return nullptr;
    if (auto provider = m_viewProviders.value(item->kind()))
        return provider;
    return std::dynamic_pointer_cast<ZNFLayoutItemViewProvider>(item);
}

void ZNFLayoutCollectionViewController::reparseLayout() {
    if (!m_layoutProvider || !m_layoutData.isValid())
        return;
    setLayoutItems(m_layoutProvider->layoutItemsWithData(m_layoutData));
    if (ZNFCollectionView* cv = collectionView())
        cv->reloadData();
}
