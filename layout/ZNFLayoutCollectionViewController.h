#pragma once

#include "layout/ZNFLayoutItem.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFCollectionView.h"
#include "platform/ZNFViewController.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class ZNFLayoutProvider;

// The reuse identifier of cells whose item kind has no registration of its own.
inline constexpr QLatin1StringView ZNFLayoutCollectionViewControllerCellIdentifier{
    "ZNFLayoutCollectionViewItem"};

// One cell: hosts the view (or view controller) that the item's view provider made, and turns
// clicks and mouse enter/exit into calls of the item's handlers.
class ZNFLayoutCollectionViewItem : public ZNFCollectionViewItem {
    Q_OBJECT
public:
    ZNFLayoutCollectionViewItem();
    ~ZNFLayoutCollectionViewItem() override;

    std::shared_ptr<ZNFLayoutItem> layoutItem() const { return m_layoutItem; }
    void setLayoutItem(const std::shared_ptr<ZNFLayoutItem>& item) { m_layoutItem = item; }

    // The item's view, a subview of the cell's view filling its bounds. Setting another view
    // lets the old one go (it is deleted later, so a handler running inside it is safe).
    QWidget* layoutItemView() const { return m_layoutItemView.data(); }
    void setLayoutItemView(QWidget* view);
    std::shared_ptr<ZNFViewController> containedViewController() const { return m_containedViewController; }
    void setViewController(const std::shared_ptr<ZNFViewController>& controller, ZNFViewController* parent);
    void removePreviousItemView();
    // (sic) The original's name.
    void detatchContainedViewController();
    // Present while the item has a hover handler.
    std::shared_ptr<ZNFTrackingArea> trackingArea() const { return m_trackingArea; }

    void mouseDown(const ZNFEvent& event) override;
    void mouseUp(const ZNFEvent& event) override;
    void rightMouseDown(const ZNFEvent& event) override;
    void rightMouseUp(const ZNFEvent& event) override;
    void mouseEntered(const ZNFEvent& event) override;
    void mouseExited(const ZNFEvent& event) override;
    void sendEventIfNecessary(const ZNFEvent& event);

private:
    std::shared_ptr<ZNFLayoutItem> m_layoutItem;
    QPointer<QWidget> m_layoutItemView;
    std::shared_ptr<ZNFViewController> m_containedViewController;
    std::shared_ptr<ZNFTrackingArea> m_trackingArea;
};

// Shows layout items as one vertical column of cells in a collection view: sizes every item
// for the available width (the fill convention and the NaN rule apply), makes cells through
// view providers, reloads on every layout pass of its view.
class ZNFLayoutCollectionViewController : public ZNFViewController,
                                          public ZNFCollectionViewDataSource,
                                          public ZNFCollectionViewDelegateFlowLayout,
                                          public ZNFLayoutConsumer {
    Q_OBJECT
public:
    ZNFLayoutCollectionViewController();
    ~ZNFLayoutCollectionViewController() override;

    // The resource bundle "ZNFLayout.bundle" of the main bundle (invalid when absent).
    static ZNFBundle bundle();

    // Loads the view when needed.
    ZNFCollectionView* collectionView();

    const ZNFLayoutItemList& layoutItems() const { return m_layoutItems; }
    // Nothing new is shown until the collection view reloads.
    void setLayoutItems(const ZNFLayoutItemList& items) { m_layoutItems = items; }
    bool fillWidth() const { return m_fillWidth; }
    void setFillWidth(bool fill) { m_fillWidth = fill; }
    bool fillHeight() const { return m_fillHeight; }
    // Items are at most this wide, centred in a wider collection view (none: the whole width).
    std::optional<double> maximumContentWidth() const { return m_maximumContentWidth; }
    void setMaximumContentWidth(std::optional<double> width) { m_maximumContentWidth = width; }
    void setFillHeight(bool fill) { m_fillHeight = fill; }
    std::shared_ptr<ZNFLayoutProvider> layoutProvider() const { return m_layoutProvider; }
    void setLayoutProvider(const std::shared_ptr<ZNFLayoutProvider>& provider) {
        m_layoutProvider = provider;
    }
    const QVariant& layoutData() const { return m_layoutData; }
    void setLayoutData(const QVariant& data) { m_layoutData = data; }
    const QHash<QString, std::shared_ptr<ZNFLayoutItemViewProvider>>& viewProviders() const {
        return m_viewProviders;
    }
    const QSet<QString>& registeredKinds() const { return m_registeredKinds; }

    ZNFCollectionViewFlowLayout* flowLayout();
    // The item at the index path's item number (none outside the list).
    std::shared_ptr<ZNFLayoutItem> objectAtIndexPath(const ZNFIndexPath& indexPath) const;

    // Data source and flow-layout delegate.
    int numberOfItemsInSection(ZNFCollectionView* collectionView, int section) override;
    std::shared_ptr<ZNFCollectionViewItem>
    itemForRepresentedObjectAtIndexPath(ZNFCollectionView* collectionView,
                                        const ZNFIndexPath& indexPath) override;
    QSizeF sizeForItemAtIndexPath(ZNFCollectionView* collectionView, ZNFCollectionViewLayout* layout,
                                  const ZNFIndexPath& indexPath) override;

    // Consumer.
    void registerViewProvider(const std::shared_ptr<ZNFLayoutItemViewProvider>& provider,
                              const QString& kind) override;
    std::shared_ptr<ZNFLayoutItemViewProvider>
    providerForItem(const std::shared_ptr<ZNFLayoutItem>& item) override;

    // Items again from layoutData through layoutProvider, then a reload; nothing without both.
    void reparseLayout();

protected:
    void loadView() override;
    void viewDidLoad() override;
    void viewDidLayout() override;

private:
    static double fullContentWidth(ZNFCollectionView* collectionView);
    double contentWidth(ZNFCollectionView* collectionView) const;
    QPointer<ZNFCollectionView> m_collectionView;
    ZNFLayoutItemList m_layoutItems;
    bool m_fillWidth = false;
    bool m_fillHeight = false;
    std::optional<double> m_maximumContentWidth;
    std::shared_ptr<ZNFLayoutProvider> m_layoutProvider;
    QVariant m_layoutData;
    QHash<QString, std::shared_ptr<ZNFLayoutItemViewProvider>> m_viewProviders;
    QSet<QString> m_registeredKinds;
};
