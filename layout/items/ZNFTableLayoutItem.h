#pragma once

#include <QString>

#include "layout/ZNFLayoutItem.h"
#include "layout/ZNFLayoutProvider.h"
#include "platform/ZNFGeometry.h"
#include "platform/ZNFView.h"

#include <QColor>
#include <QPointer>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

class ZNFTableRowLayoutItem;
class ZNFTableColumnLayoutItem;

// Keys of a "table" layout dictionary, its row and its column dictionaries (the column's
// insets are the formatter's "top", "left", "bottom", "right"; the row's colour its "bg").
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Rows{"rows"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Items{"items"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Config{"config"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Columns{"columns"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Insets{"insets"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Align{"align"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Offset{"offset"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_Width{"width"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_ZPosition{"zPosition"};
inline constexpr QLatin1StringView ZNFLayoutTableParserKey_FillWidth{"fillWidth"};

// Horizontal placement of items narrower than their column (the platform's text-alignment
// numbering).
enum ZNFTableColumnAlignment : unsigned {
    ZNFTableColumnAlignmentLeft = 0,
    ZNFTableColumnAlignmentRight = 1,
    ZNFTableColumnAlignmentCenter = 2
};

// One entry of columnBasedTableWithItems(): an item, a list of items, or nothing (a gap).
struct ZNFTableEntry {
    ZNFLayoutItemList items;
    bool isList = false;

    ZNFTableEntry() = default;
    ZNFTableEntry(std::nullptr_t) {}
    ZNFTableEntry(ZNFLayoutItemList list) : items(std::move(list)), isList(true) {}
    ZNFTableEntry(std::initializer_list<std::shared_ptr<ZNFLayoutItem>> list) : items(list), isList(true) {}
    template <typename T, typename = std::enable_if_t<std::is_base_of_v<ZNFLayoutItem, T>>>
    ZNFTableEntry(std::shared_ptr<T> item) {
        if (item)
            items.push_back(std::move(item));
    }
};

// A grid of other items in one slot of the collection view: rows stacked vertically, each
// split into columns placed by fractions of its width, each column a vertical stack of items
// of any kind (tables included). Clicks and hovers on nested views reach the nested items'
// handlers through the table's own default handlers.
class ZNFTableLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    // An empty table whose click and hover handlers are its default handlers.
    ZNFTableLayoutItem();
    ~ZNFTableLayoutItem() override;
    // The default handlers know their table by address: a copy would route to the original.
    ZNFTableLayoutItem(const ZNFTableLayoutItem&) = delete;
    ZNFTableLayoutItem& operator=(const ZNFTableLayoutItem&) = delete;

    static QString classKind() { return QStringLiteral("table"); }
    QString kind() const override { return classKind(); }
    // Without a label of its own, the table's handler only passes clicks on to its items.
    AccessibleDescription accessibleDescription() const override {
        return {accessibilityLabel(), false, false, accessibilityLabel().isEmpty()};
    }

    // A vertical list of the items in the given order, one item per row, each as wide as the table.
    static std::shared_ptr<ZNFTableLayoutItem> rowBasedTableWithItems(const ZNFLayoutItemList& items);
    // One row whose columns hold the entries side by side, `widths` the fractions of the
    // row's width (1 / the number of entries each when the counts differ). An entry that is
    // empty or no item makes no column but still takes its width.
    static std::shared_ptr<ZNFTableLayoutItem>
    columnBasedTableWithItems(const std::vector<ZNFTableEntry>& entries, const std::vector<double>& widths);

    // Both hold the table weakly: a table released while its cell lives on does nothing.
    ZNFLayoutItemEventHandler defaultClickHandler() const;
    ZNFLayoutItemEventHandler defaultHoverHandler() const;
    // Calls the click (hover) handler of every nested item whose view, among `views` and all
    // their subviews, contains the event's location, with that view as the third argument.
    void fireClickEvent(const ZNFEvent& event, ZNFCollectionViewItem* cell, const QList<QWidget*>& views);
    void fireHoverEvent(const ZNFEvent& event, ZNFCollectionViewItem* cell, const QList<QWidget*>& views);

    // The offered width; the rows' heights added up.
    QSizeF sizeThatFits(const QSizeF& size) override;
    // A new plain view (y up) with the rows stacked from its bottom edge, so the last row of
    // `rows` is at the top. The reused view is ignored.
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;

    const std::vector<std::shared_ptr<ZNFTableRowLayoutItem>>& rows() const { return m_rows; }
    void setRows(std::vector<std::shared_ptr<ZNFTableRowLayoutItem>> rows) { m_rows = std::move(rows); }

private:
    void fireEvent(const ZNFEvent& event, ZNFCollectionViewItem* cell, const QList<QWidget*>& views,
                   bool click);

    std::vector<std::shared_ptr<ZNFTableRowLayoutItem>> m_rows;
    // Lets the default handlers tell whether the table still exists without owning it.
    std::shared_ptr<ZNFTableLayoutItem*> m_lifetime;
};

class ZNFTableRowLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    static QString classKind() { return QStringLiteral("tableRow"); }
    QString kind() const override { return classKind(); }

    // width × the column's width fraction (1 when it has none) − the column's left and right insets.
    static double widthForColumn(const ZNFTableColumnLayoutItem& column, double width);

    // The offered width; the tallest column plus the row's top and bottom insets.
    QSizeF sizeThatFits(const QSizeF& size) override;
    // A new flipped ZNFTableRowView holding the columns' views at their fractions.
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;

    ZNFEdgeInsets insets() const { return m_insets; }
    void setInsets(const ZNFEdgeInsets& insets) { m_insets = insets; }
    const std::vector<std::shared_ptr<ZNFTableColumnLayoutItem>>& columns() const { return m_columns; }
    void setColumns(std::vector<std::shared_ptr<ZNFTableColumnLayoutItem>> columns) {
        m_columns = std::move(columns);
    }
    // Fills the row's view.
    std::optional<QColor> backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(std::optional<QColor> color) { m_backgroundColor = std::move(color); }

private:
    ZNFEdgeInsets m_insets;
    std::vector<std::shared_ptr<ZNFTableColumnLayoutItem>> m_columns;
    std::optional<QColor> m_backgroundColor;
};

// A view a column made, with the item it shows.
struct ZNFTableColumnViewReference {
    QPointer<QWidget> view;
    std::shared_ptr<ZNFLayoutItem> layoutItem;
};

class ZNFTableColumnLayoutItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    static QString classKind() { return QStringLiteral("column"); }
    QString kind() const override { return classKind(); }

    // The offered width; the items' heights added up plus the top and bottom insets.
    QSizeF sizeThatFits(const QSizeF& size) override;
    // A new flipped ZNFTableColumnView holding the items' new views from the top down. The
    // view spans the column's whole slot (the frame's width plus the column's left and right
    // insets), so that items inset from the slot's left edge are not cut off at its right.
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item,
                                      ZNFLayoutConsumer* providerSource, const QRectF& frame,
                                      QWidget* reusingView) override;
    // Moves a view narrower than `contentWidth` right: by half the difference for centre
    // alignment, by all of it for right alignment. Only x changes.
    static void alignViewIfNecessary(QWidget* view, double contentWidth, unsigned alignment);
    // The item of the first reference whose view is that very view; none otherwise.
    std::shared_ptr<ZNFLayoutItem> layoutItemForView(const QWidget* view) const;

    // Fractions of the row's inner width, read in single precision.
    std::optional<double> offsetPercentage() const { return m_offsetPercentage; }
    void setOffsetPercentage(std::optional<double> offset) { m_offsetPercentage = offset; }
    std::optional<double> widthPercentage() const { return m_widthPercentage; }
    void setWidthPercentage(std::optional<double> width) { m_widthPercentage = width; }
    unsigned alignment() const { return m_alignment; }
    void setAlignment(unsigned alignment) { m_alignment = alignment; }
    ZNFEdgeInsets insets() const { return m_insets; }
    void setInsets(const ZNFEdgeInsets& insets) { m_insets = insets; }
    // Stacking order among overlapping columns of a row.
    std::optional<double> zPosition() const { return m_zPosition; }
    void setZPosition(std::optional<double> z) { m_zPosition = z; }
    // True: every item as wide as the column; false: as wide as the item wants.
    bool fillWidth() const { return m_fillWidth; }
    void setFillWidth(bool fill) { m_fillWidth = fill; }
    const ZNFLayoutItemList& items() const { return m_items; }
    void setItems(ZNFLayoutItemList items) { m_items = std::move(items); }
    // The views made by the column's latest view, each with its item.
    const std::vector<ZNFTableColumnViewReference>& viewReferences() const { return m_viewReferences; }

private:
    std::optional<double> m_offsetPercentage;
    std::optional<double> m_widthPercentage;
    unsigned m_alignment = ZNFTableColumnAlignmentLeft;
    ZNFEdgeInsets m_insets;
    std::optional<double> m_zPosition;
    bool m_fillWidth = true;
    ZNFLayoutItemList m_items;
    std::vector<ZNFTableColumnViewReference> m_viewReferences;
};

// Views of rows and columns: flipped, otherwise plain.
class ZNFTableRowView : public ZNFView {
    Q_OBJECT
public:
    explicit ZNFTableRowView(const QRectF& frame = QRectF(), QWidget* parent = nullptr)
        : ZNFView(frame, parent) {
        setFlipped(true);
    }
};

class ZNFTableColumnView : public ZNFView {
    Q_OBJECT
public:
    explicit ZNFTableColumnView(const QRectF& frame = QRectF(), QWidget* parent = nullptr)
        : ZNFView(frame, parent) {
        setFlipped(true);
    }
};

// Parses "table" dictionaries: "rows" (each with "columns", "insets", "bg"), or else "items"
// as one column set up by "config". Parsed rows show the data's first row at the top.
class ZNFTableLayoutItemParser : public ZNFLayoutParsing {
public:
    ZNFLayoutItemList itemsWithDictionary(const QVariantMap& dictionary,
                                          ZNFLayoutProvider* provider) override;
    std::shared_ptr<ZNFTableLayoutItem> rowBasedTableWithDictionary(const QVariantMap& dictionary,
                                                                    ZNFLayoutProvider* provider);
    std::shared_ptr<ZNFTableLayoutItem> singleColumnBasedTableWithDictionary(const QVariantMap& dictionary,
                                                                             ZNFLayoutProvider* provider);
    // 2 for "center", 1 for "right", 0 for anything else.
    static unsigned alignmentForKey(const QVariant& key);
};
