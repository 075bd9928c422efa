#include "platform/ZNFCollectionView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

QString ZNFIndexPath::description() const {
    return QStringLiteral("{length = 2, path = %1 - %2}").arg(section).arg(item);
}

ZNFCollectionViewItem::ZNFCollectionViewItem() = default;
ZNFCollectionViewItem::~ZNFCollectionViewItem() = default;

namespace {
// How far beyond the visible rectangle cells are kept, as a share of the visible height.
constexpr double kVisibleMargin = 0.25;
} // namespace

ZNFCollectionView::ZNFCollectionView(const QRectF& frame, QWidget* parent)
    : ZNFView(frame, parent), m_layout(std::make_unique<ZNFCollectionViewFlowLayout>()) {
    m_clip = new ZNFView(QRectF(), this);
    m_clip->setFlipped(true);
    ZNFView::addSubview(m_clip);
    m_scroller = new QScrollBar(Qt::Vertical, this);
    m_scroller->setRange(0, 0);
    connect(m_scroller, &QScrollBar::valueChanged, this, [this](int value) {
        if (static_cast<int>(std::round(m_offset)) != value)
            setScrollOffset(value);
    });
    // Like Qt's scroll areas: reached by Tab and by a click anywhere in it (cells take no focus
    // of their own), so the keys scroll it.
    setFocusPolicy(Qt::StrongFocus);
    placeChrome();
}

ZNFCollectionView::~ZNFCollectionView() {
    // Cells own their views; let them go while the clip view still exists.
    m_visible.clear();
    m_pool.clear();
}

void ZNFCollectionView::setCollectionViewLayout(std::unique_ptr<ZNFCollectionViewLayout> layout) {
    m_layout = layout ? std::move(layout) : std::make_unique<ZNFCollectionViewFlowLayout>();
}

void ZNFCollectionView::registerClass(ItemFactory factory, const QString& identifier) {
    if (factory)
        m_factories.insert(identifier, std::move(factory));
    else
        m_factories.remove(identifier);
}

void ZNFCollectionView::setHasVerticalScroller(bool has) {
    if (m_hasScroller == has)
        return;
    m_hasScroller = has;
    boundsDidChange();
}

void ZNFCollectionView::setAutohidesScrollers(bool autohides) {
    if (m_autohides == autohides)
        return;
    m_autohides = autohides;
    boundsDidChange();
}

void ZNFCollectionView::setVerticalScrollerWidth(double width) {
    width = std::isfinite(width) ? std::max(0.0, width) : 0.0;
    if (m_scrollerWidth == width)
        return;
    m_scrollerWidth = width;
    boundsDidChange();
}

void ZNFCollectionView::placeChrome() {
    const double scrollerWidth = verticalScrollerWidth();
    const double clipWidth = std::max(0.0, frame().width() - scrollerWidth);
    m_clip->setFrame(QRectF(0, 0, clipWidth, frame().height()));
    m_scroller->setVisible(scrollerWidth > 0);
    m_scroller->setGeometry(static_cast<int>(std::round(clipWidth)), 0,
                            static_cast<int>(std::round(scrollerWidth)),
                            static_cast<int>(std::round(frame().height())));
}

void ZNFCollectionView::frameSizeDidChange(const QSizeF& oldSize) {
    Q_UNUSED(oldSize);
    boundsDidChange();
}

void ZNFCollectionView::boundsDidChange() {
    placeChrome();
    if (m_reloading || !m_relayoutOnResize)
        return;
    // A new width means new sizes: ask again, keep the cells that stay visible.
    computeLayout();
    updateVisibleCells();
}

void ZNFCollectionView::computeLayout() {
    computeFrames();
    if (m_hasScroller && m_autohides) {
        // The scroller's width changes the cells' width and so their heights: measured again
        // when it comes or goes. Showing it only makes the content taller and hiding it only
        // shorter, so the second answer stands.
        const bool needed = m_contentHeight > frame().height() + 1e-9;
        if (needed != m_scrollerNeeded) {
            m_scrollerNeeded = needed;
            placeChrome();
            computeFrames();
        }
    }
}

void ZNFCollectionView::computeFrames() {
    const int count = m_dataSource ? std::max(0, m_dataSource->numberOfItemsInSection(this, 0)) : 0;
    auto* flow = dynamic_cast<ZNFCollectionViewFlowLayout*>(m_layout.get());
    const ZNFEdgeInsets inset = flow ? flow->sectionInset() : ZNFEdgeInsets{};
    const double lineSpacing = flow ? flow->minimumLineSpacing() : 0;
    const double itemSpacing = flow ? flow->minimumInteritemSpacing() : 0;
    const QSizeF fallback = flow ? flow->itemSize() : QSizeF(50, 50);
    const double left = inset.left;
    const double right = std::max(left, m_clip->frame().width() - inset.right);

    m_frames.assign(static_cast<size_t>(count), QRectF());
    double y = inset.top;
    double x = left;
    double lineHeight = 0;
    size_t lineStart = 0;
    auto finishLine = [&](size_t end) {
        for (size_t j = lineStart; j < end; ++j)
            m_frames[j].moveTop(y + (lineHeight - m_frames[j].height()) / 2);
        y += lineHeight;
    };
    for (int i = 0; i < count; ++i) {
        QSizeF size = m_delegate
                          ? m_delegate->sizeForItemAtIndexPath(this, m_layout.get(), ZNFIndexPath{0, i})
                          : fallback;
        // Nothing below can place a negative or non-finite size; such an item takes no room.
        if (!std::isfinite(size.width()) || size.width() < 0)
            size.setWidth(0);
        if (!std::isfinite(size.height()) || size.height() < 0)
            size.setHeight(0);
        const size_t idx = static_cast<size_t>(i);
        if (idx > lineStart && x + size.width() > right + 1e-9) {
            finishLine(idx);
            y += lineSpacing;
            x = left;
            lineHeight = 0;
            lineStart = idx;
        }
        m_frames[idx] = QRectF(x, 0, size.width(), size.height());
        x += size.width() + itemSpacing;
        lineHeight = std::max(lineHeight, size.height());
    }
    if (count > 0)
        finishLine(m_frames.size());
    m_contentHeight = (count > 0 ? y : inset.top) + inset.bottom;

    const double maxOffset = std::max(0.0, m_contentHeight - frame().height());
    const double limit = std::min(maxOffset, static_cast<double>(INT_MAX / 2));
    m_offset = std::clamp(m_offset, 0.0, limit);
    const QSignalBlocker block(m_scroller);
    m_scroller->setRange(0, static_cast<int>(std::ceil(limit)));
    m_scroller->setPageStep(std::max(1, static_cast<int>(frame().height())));
    m_scroller->setSingleStep(20);
    m_scroller->setValue(static_cast<int>(std::round(m_offset)));
}

QRectF ZNFCollectionView::frameForItemAtIndexPath(const ZNFIndexPath& indexPath) const {
    if (indexPath.section != 0 || indexPath.item < 0 || indexPath.item >= static_cast<int>(m_frames.size()))
        return QRectF();
    return m_frames[static_cast<size_t>(indexPath.item)];
}

void ZNFCollectionView::placeCell(ZNFCollectionViewItem* cell, int index) {
    QRectF f = m_frames[static_cast<size_t>(index)];
    f.translate(0, -m_offset);
    ZNFView* view = cell->view();
    if (view->parentWidget() != m_clip)
        m_clip->addSubview(view);
    view->setFrame(f);
    view->show();
}

std::shared_ptr<ZNFCollectionViewItem> ZNFCollectionView::makeItem(const QString& identifier,
                                                                   const ZNFIndexPath& indexPath) {
    std::shared_ptr<ZNFCollectionViewItem> cell;
    auto pool = m_pool.find(identifier);
    if (pool != m_pool.end() && !pool->empty()) {
        cell = pool->back();
        pool->pop_back();
    } else {
        const auto factory = m_factories.value(identifier);
        cell = factory ? factory() : nullptr;
        if (!cell)
            cell = std::make_shared<ZNFCollectionViewItem>();
        cell->m_reuseIdentifier = identifier;
        cell->m_collectionView = this;
        ++m_cellsMade;
    }
    cell->m_indexPath = indexPath;
    if (indexPath.section == 0 && indexPath.item >= 0 && indexPath.item < static_cast<int>(m_frames.size()))
        placeCell(cell.get(), indexPath.item);
    return cell;
}

void ZNFCollectionView::enqueue(const std::shared_ptr<ZNFCollectionViewItem>& cell) {
    if (cell->isViewLoaded())
        cell->view()->hide();
    cell->m_indexPath = ZNFIndexPath{-1, -1};
    cell->prepareForReuse();
    m_pool[cell->reuseIdentifier()].push_back(cell);
}

void ZNFCollectionView::reloadData() {
    if (m_reloading)
        return;
    m_reloading = true;
    // Hiding a cell, even for a moment, sends the keyboard focus out of it: a field being typed
    // in or a button reached with Tab gets it back when its cell is shown again.
    QPointer<QWidget> focus = QApplication::focusWidget();
    if (focus && !m_clip->isAncestorOf(focus))
        focus = nullptr;
    // Every shown cell goes back to its pool; the data source takes them out again. Pools hand
    // out the last cell in first, so the last index goes in first: an unchanged screen gets every
    // cell back at its own place (and the pointer stays over the cell it was over).
    auto visible = std::move(m_visible);
    m_visible.clear();
    for (auto it = visible.rbegin(); it != visible.rend(); ++it)
        enqueue(it->second);
    visible.clear();
    computeLayout();
    m_reloading = false;
    updateVisibleCells();
    if (focus && focus->isVisible() && !focus->hasFocus())
        focus->setFocus(Qt::OtherFocusReason);
}

void ZNFCollectionView::updateVisibleCells() {
    if (m_reloading)
        return;
    const double height = frame().height();
    const double top = m_offset - height * kVisibleMargin;
    const double bottom = m_offset + height * (1 + kVisibleMargin);
    // Lines go down the content, so the visible items are one run of indexes.
    auto first = std::partition_point(m_frames.begin(), m_frames.end(),
                                      [top](const QRectF& f) { return f.y() + f.height() < top; });
    auto last =
        std::partition_point(first, m_frames.end(), [bottom](const QRectF& f) { return f.y() <= bottom; });
    const int begin = static_cast<int>(first - m_frames.begin());
    const int end = static_cast<int>(last - m_frames.begin());

    for (auto it = m_visible.begin(); it != m_visible.end();) {
        if (it->first < begin || it->first >= end) {
            enqueue(it->second);
            it = m_visible.erase(it);
        } else {
            placeCell(it->second.get(), it->first);
            ++it;
        }
    }
    if (!m_dataSource)
        return;
    QPointer<ZNFCollectionView> self(this);
    for (int i = begin; i < end; ++i) {
        if (m_visible.count(i))
            continue;
        auto cell = m_dataSource->itemForRepresentedObjectAtIndexPath(this, ZNFIndexPath{0, i});
        if (!self)
            return;
        // The data source may have reloaded us from inside; the run is stale then.
        if (i >= static_cast<int>(m_frames.size()))
            break;
        if (!cell)
            continue;
        if (cell->m_collectionView.data() != this) {
            cell->m_collectionView = this;
            ++m_cellsMade;
        }
        cell->m_indexPath = ZNFIndexPath{0, i};
        placeCell(cell.get(), i);
        m_visible[i] = cell;
    }
}

std::shared_ptr<ZNFCollectionViewItem>
ZNFCollectionView::itemAtIndexPath(const ZNFIndexPath& indexPath) const {
    if (indexPath.section != 0)
        return nullptr;
    auto it = m_visible.find(indexPath.item);
    return it == m_visible.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<ZNFCollectionViewItem>> ZNFCollectionView::visibleItems() const {
    std::vector<std::shared_ptr<ZNFCollectionViewItem>> items;
    items.reserve(m_visible.size());
    for (const auto& [index, cell] : m_visible)
        items.push_back(cell);
    return items;
}

std::vector<ZNFIndexPath> ZNFCollectionView::indexPathsForVisibleItems() const {
    std::vector<ZNFIndexPath> paths;
    for (const auto& [index, cell] : m_visible)
        paths.push_back(ZNFIndexPath{0, index});
    return paths;
}

void ZNFCollectionView::setScrollOffset(double offset) {
    const double maxOffset = std::max(0.0, m_contentHeight - frame().height());
    offset = std::isfinite(offset) ? std::clamp(offset, 0.0, maxOffset) : 0.0;
    if (offset == m_offset)
        return;
    m_offset = offset;
    {
        const QSignalBlocker block(m_scroller);
        m_scroller->setValue(static_cast<int>(std::round(m_offset)));
    }
    updateVisibleCells();
}

void ZNFCollectionView::wheelEvent(QWheelEvent* event) {
    double dy = 0;
    if (!event->pixelDelta().isNull())
        dy = event->pixelDelta().y();
    else
        dy = event->angleDelta().y() / 120.0 * 3 * m_scroller->singleStep();
    if (dy == 0) {
        event->ignore();
        return;
    }
    setScrollOffset(m_offset - dy);
    event->accept();
}

void ZNFCollectionView::keyPressEvent(QKeyEvent* event) {
    // The scroller's own steps, as a Qt scroll area moves: a line, a visible height, the ends.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    std::optional<QAbstractSlider::SliderAction> action;
    switch (event->key()) {
    case Qt::Key_PageDown:
        action = QAbstractSlider::SliderPageStepAdd;
        break;
    case Qt::Key_PageUp:
        action = QAbstractSlider::SliderPageStepSub;
        break;
    case Qt::Key_Space:
        if (modifiers == Qt::NoModifier)
            action = QAbstractSlider::SliderPageStepAdd;
        else if (modifiers == Qt::ShiftModifier)
            action = QAbstractSlider::SliderPageStepSub;
        break;
    case Qt::Key_Down:
        action = QAbstractSlider::SliderSingleStepAdd;
        break;
    case Qt::Key_Up:
        action = QAbstractSlider::SliderSingleStepSub;
        break;
    case Qt::Key_Home:
        action = QAbstractSlider::SliderToMinimum;
        break;
    case Qt::Key_End:
        action = QAbstractSlider::SliderToMaximum;
        break;
    default:
        break;
    }
    if (!action || (event->key() != Qt::Key_Space && (modifiers & ~Qt::ControlModifier))) {
        event->ignore();
        return;
    }
    m_scroller->triggerAction(*action);
    event->accept();
}
