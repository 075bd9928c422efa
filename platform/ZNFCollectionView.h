#pragma once

#include "platform/ZNFGeometry.h"
#include "platform/ZNFView.h"
#include "platform/ZNFViewController.h"

#include <QHash>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QScrollBar;
class ZNFCollectionView;

// (section, item). The collection view shows one section; the section number is kept because
// delegate calls and the layout's log lines name it.
struct ZNFIndexPath {
    int section = 0;
    int item = 0;

    static ZNFIndexPath indexPathForItem(int item, int section = 0) { return ZNFIndexPath{section, item}; }
    // "{length = 2, path = 0 - 3}": the form the layout's log lines print.
    QString description() const;
    friend bool operator==(const ZNFIndexPath&, const ZNFIndexPath&) = default;
};

// One cell of a collection view: a view controller whose view the collection view places.
// Cells are reused: one that scrolls away (or is left over after a reload) goes back to the
// pool of its reuse identifier and may come back for another index path.
class ZNFCollectionViewItem : public ZNFViewController {
    Q_OBJECT
public:
    ZNFCollectionViewItem();
    ~ZNFCollectionViewItem() override;

    ZNFCollectionView* collectionView() const { return m_collectionView.data(); }
    QString reuseIdentifier() const { return m_reuseIdentifier; }
    // The index path the cell shows, or {-1, -1} while it waits in the reuse pool.
    ZNFIndexPath indexPath() const { return m_indexPath; }

    // Cells receive button presses from their view.
    bool handlesMouseButtons() const override { return true; }

protected:
    // Called when the cell goes back to the reuse pool.
    virtual void prepareForReuse() {}

private:
    friend class ZNFCollectionView;
    QPointer<ZNFCollectionView> m_collectionView;
    QString m_reuseIdentifier;
    ZNFIndexPath m_indexPath{-1, -1};
};

class ZNFCollectionViewLayout {
public:
    virtual ~ZNFCollectionViewLayout() = default;
};

// Items in lines, left to right, a new line when the next item does not fit; every line is as
// high as its tallest item and shorter items sit in its middle. No spacing unless asked for.
class ZNFCollectionViewFlowLayout : public ZNFCollectionViewLayout {
public:
    double minimumLineSpacing() const { return m_lineSpacing; }
    void setMinimumLineSpacing(double spacing) { m_lineSpacing = spacing; }
    double minimumInteritemSpacing() const { return m_interitemSpacing; }
    void setMinimumInteritemSpacing(double spacing) { m_interitemSpacing = spacing; }
    ZNFEdgeInsets sectionInset() const { return m_sectionInset; }
    void setSectionInset(const ZNFEdgeInsets& insets) { m_sectionInset = insets; }
    // The size of every item when the delegate does not give one.
    QSizeF itemSize() const { return m_itemSize; }
    void setItemSize(const QSizeF& size) { m_itemSize = size; }

private:
    double m_lineSpacing = 0;
    double m_interitemSpacing = 0;
    ZNFEdgeInsets m_sectionInset;
    QSizeF m_itemSize{50, 50};
};

class ZNFCollectionViewDataSource {
public:
    virtual ~ZNFCollectionViewDataSource() = default;
    virtual int numberOfItemsInSection(ZNFCollectionView* collectionView, int section) = 0;
    // Usually through collectionView->makeItem(identifier, indexPath).
    virtual std::shared_ptr<ZNFCollectionViewItem>
    itemForRepresentedObjectAtIndexPath(ZNFCollectionView* collectionView, const ZNFIndexPath& indexPath) = 0;
};

class ZNFCollectionViewDelegateFlowLayout {
public:
    virtual ~ZNFCollectionViewDelegateFlowLayout() = default;
    virtual QSizeF sizeForItemAtIndexPath(ZNFCollectionView* collectionView, ZNFCollectionViewLayout* layout,
                                          const ZNFIndexPath& indexPath) = 0;
};

// A scrolling, flipped list of cells in one section. The vertical scroller sits at the right
// edge and takes its width from the space the cells get. Only the cells inside the visible
// rectangle (plus a margin of a quarter screen above and below) exist; the others are made
// when scrolled to. It takes keyboard focus like any scroll area (by Tab or a click in it) and
// scrolls with Page Up/Down, Space (Shift+Space up), Home/End and the up and down arrows;
// other keys, Tab among them, go on to its parent.
class ZNFCollectionView : public ZNFView {
    Q_OBJECT
public:
    explicit ZNFCollectionView(const QRectF& frame = QRectF(), QWidget* parent = nullptr);
    ~ZNFCollectionView() override;

    bool isFlipped() const override { return true; }

    // Neither is owned. Clear them before the object they point to goes away.
    void setDataSource(ZNFCollectionViewDataSource* dataSource) { m_dataSource = dataSource; }
    ZNFCollectionViewDataSource* dataSource() const { return m_dataSource; }
    void setDelegate(ZNFCollectionViewDelegateFlowLayout* delegate) { m_delegate = delegate; }
    ZNFCollectionViewDelegateFlowLayout* delegate() const { return m_delegate; }

    ZNFCollectionViewLayout* collectionViewLayout() const { return m_layout.get(); }
    void setCollectionViewLayout(std::unique_ptr<ZNFCollectionViewLayout> layout);

    // Cell classes by reuse identifier. A later registration under the same identifier
    // replaces the earlier one; cells already made keep their class.
    using ItemFactory = std::function<std::shared_ptr<ZNFCollectionViewItem>()>;
    void registerClass(ItemFactory factory, const QString& identifier);
    template <typename T> void registerClass(const QString& identifier) {
        registerClass([] { return std::make_shared<T>(); }, identifier);
    }
    bool isRegistered(const QString& identifier) const { return m_factories.contains(identifier); }

    // A cell for the index path: a pooled one of that identifier, or a new one of the registered
    // class (a plain cell when nothing is registered). Its view already has the item's frame.
    std::shared_ptr<ZNFCollectionViewItem> makeItem(const QString& identifier, const ZNFIndexPath& indexPath);

    // Asks the data source for the count, the delegate for every size, and the data source
    // for the cells that are visible.
    void reloadData();

    int numberOfItemsInSection(int section) const {
        return section == 0 ? static_cast<int>(m_frames.size()) : 0;
    }
    // Frames of the items in the collection view's (flipped) content coordinates.
    QRectF frameForItemAtIndexPath(const ZNFIndexPath& indexPath) const;
    double contentHeight() const { return m_contentHeight; }
    std::shared_ptr<ZNFCollectionViewItem> itemAtIndexPath(const ZNFIndexPath& indexPath) const;
    std::vector<std::shared_ptr<ZNFCollectionViewItem>> visibleItems() const;
    std::vector<ZNFIndexPath> indexPathsForVisibleItems() const;
    // Cells made so far, shown or pooled.
    int numberOfCellsMade() const { return m_cellsMade; }

    // The vertical scroller. Width 0 (or none) gives the cells the whole width.
    bool hasVerticalScroller() const { return m_hasScroller; }
    void setHasVerticalScroller(bool has);
    // Off by default. On, the scroller shows only while the content is taller than the view, and
    // takes no width while hidden.
    bool autohidesScrollers() const { return m_autohides; }
    void setAutohidesScrollers(bool autohides);
    // Whether the scroller is on screen now.
    bool isVerticalScrollerShown() const { return m_hasScroller && (!m_autohides || m_scrollerNeeded); }
    double verticalScrollerWidth() const { return isVerticalScrollerShown() ? m_scrollerWidth : 0; }
    void setVerticalScrollerWidth(double width);
    QScrollBar* verticalScroller() const { return m_scroller; }

    // Whether a change of size re-measures the items at once (on by default). An owner that
    // reloads after every layout pass turns it off to measure once.
    void setRelayoutsOnResize(bool relayout) { m_relayoutOnResize = relayout; }
    bool relayoutsOnResize() const { return m_relayoutOnResize; }

    double scrollOffset() const { return m_offset; }
    void setScrollOffset(double offset);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void frameSizeDidChange(const QSizeF& oldSize) override;

private:
    void computeLayout();
    void computeFrames();
    void placeChrome();
    void updateVisibleCells();
    void placeCell(ZNFCollectionViewItem* cell, int index);
    void enqueue(const std::shared_ptr<ZNFCollectionViewItem>& cell);
    void boundsDidChange();

    ZNFCollectionViewDataSource* m_dataSource = nullptr;
    ZNFCollectionViewDelegateFlowLayout* m_delegate = nullptr;
    std::unique_ptr<ZNFCollectionViewLayout> m_layout;
    QHash<QString, ItemFactory> m_factories;
    QHash<QString, std::vector<std::shared_ptr<ZNFCollectionViewItem>>> m_pool;
    std::map<int, std::shared_ptr<ZNFCollectionViewItem>> m_visible;
    std::vector<QRectF> m_frames;
    double m_contentHeight = 0;
    double m_offset = 0;
    bool m_hasScroller = true;
    bool m_autohides = false;
    bool m_scrollerNeeded = false; // the content was taller than the view at the last layout
    double m_scrollerWidth = 15;
    ZNFView* m_clip = nullptr;
    QScrollBar* m_scroller = nullptr;
    bool m_reloading = false;
    bool m_relayoutOnResize = true;
    int m_cellsMade = 0;
};
