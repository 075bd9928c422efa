#include "TestSupport.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/items/ZNFBlockLayoutItem.h"
#include "layout/items/ZNFImageLayoutItem.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "platform/ZNFImage.h"
#include "platform/ZNFValueReading.h"
#include "support/LayoutTestSupport.h"

#include <QApplication>
#include <QJsonDocument>
#include <QProgressBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

std::shared_ptr<ZNFSpacerLayoutItem> box(double width, double height) {
    return std::make_shared<ZNFSpacerLayoutItem>(QSizeF(width, height));
}

template <typename T> QList<T*> direct(const QWidget* view) {
    return view ? view->findChildren<T*>(Qt::FindDirectChildrenOnly) : QList<T*>();
}

// Where each test item shows inside a view, by name, in Qt's (y-down) coordinates.
std::map<QString, QRect> places(const QWidget* view) {
    std::map<QString, QRect> out;
    for (auto* shown : view->findChildren<TestLayoutItemView*>())
        out[shown->itemName] = QRect(shown->mapTo(view, QPoint(0, 0)), shown->size());
    return out;
}

// A column of the given items; what is not given keeps the column's default.
std::shared_ptr<ZNFTableColumnLayoutItem> column(const ZNFLayoutItemList& items,
                                                 std::optional<double> width = {},
                                                 std::optional<double> offset = {},
                                                 ZNFEdgeInsets insets = {}) {
    auto made = std::make_shared<ZNFTableColumnLayoutItem>();
    made->setItems(items);
    made->setWidthPercentage(width);
    made->setOffsetPercentage(offset);
    made->setInsets(insets);
    return made;
}

std::unique_ptr<QWidget> showTable(const std::shared_ptr<ZNFTableLayoutItem>& table, double width) {
    return instantiate(table, QRectF(QPointF(0, 0), table->sizeThatFits(QSizeF(width, ZNFLayoutFill))));
}

} // namespace

TEST(TableItem, ColumnsArePlacedByFractions) {
    const auto table = ZNFTableLayoutItem::columnBasedTableWithItems(
        {box(10, 10), box(10, 20), ZNFLayoutItemList{box(10, 5), box(10, 5)}, box(10, 30)},
        {0.1, 0.4, 0.4, 0.1});
    EXPECT_EQ(table->sizeThatFits(QSizeF(400, ZNFLayoutFill)), QSizeF(400, 30));

    auto view = showTable(table, 400);
    const QList<ZNFTableRowView*> rows = direct<ZNFTableRowView>(view.get());
    ASSERT_EQ(rows.size(), 1);
    QList<std::pair<int, int>> spans; // x and width of each column
    for (const QRect& shown : placed<ZNFTableColumnView>(rows[0]))
        spans << std::pair(shown.x(), shown.width());
    EXPECT_EQ(spans, (QList<std::pair<int, int>>{{0, 40}, {40, 160}, {200, 160}, {360, 40}}));
    // The third column stacks its two items, each as wide as the column.
    const QList<ZNFTableColumnView*> shown = direct<ZNFTableColumnView>(rows[0]);
    ASSERT_EQ(shown.size(), 4);
    EXPECT_EQ(placed<ZNFSpacerLayoutView>(shown[2]),
              (QList<QRect>{QRect(0, 0, 160, 5), QRect(0, 5, 160, 5)}));

    // Three widths for four entries: a quarter each.
    const auto even = ZNFTableLayoutItem::columnBasedTableWithItems(
        {box(1, 1), box(1, 1), box(1, 1), box(1, 1)}, {0.5, 0.25, 0.25});
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(*even->rows()[0]->columns()[i]->widthPercentage(), 0.25);
        EXPECT_FLOAT_EQ(*even->rows()[0]->columns()[i]->offsetPercentage(), 0.25 * double(i));
    }

    // An entry that is no item (or an empty list) leaves a gap but keeps its width.
    const auto gapped = ZNFTableLayoutItem::columnBasedTableWithItems(
        {box(1, 1), ZNFTableEntry(), ZNFLayoutItemList{}, box(1, 1)}, {0.2, 0.3, 0.1, 0.4});
    const auto& kept = gapped->rows()[0]->columns();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_FLOAT_EQ(*kept[1]->offsetPercentage(), 0.6);
    EXPECT_FLOAT_EQ(*kept[1]->widthPercentage(), 0.4);
}

TEST(TableItem, RowBasedTablesListTheirItemsTopDown) {
    auto a = std::make_shared<TestLayoutItem>("A", QSizeF(50, 10));
    auto b = std::make_shared<TestLayoutItem>("B", QSizeF(50, 20));
    auto c = std::make_shared<TestLayoutItem>("C", QSizeF(50, 30));
    const auto table = ZNFTableLayoutItem::rowBasedTableWithItems({a, b, c});
    EXPECT_EQ(table->sizeThatFits(QSizeF(300, ZNFLayoutFill)), QSizeF(300, 60));
    auto view = showTable(table, 300);
    EXPECT_EQ(places(view.get()),
              (std::map<QString, QRect>{
                  {"A", QRect(0, 0, 300, 10)}, {"B", QRect(0, 10, 300, 20)}, {"C", QRect(0, 30, 300, 30)}}));
}

TEST(TableItem, RowAndColumnGeometry) {
    // The row is as high as its tallest column plus its insets.
    auto row = std::make_shared<ZNFTableRowLayoutItem>();
    row->setColumns({column({box(10, 30)}, 0.5), column({box(10, 20), box(10, 30)}, 0.5, 0.5)});
    row->setInsets({5, 0, 5, 0});
    EXPECT_EQ(row->sizeThatFits(QSizeF(300, ZNFLayoutFill)), QSizeF(300, 60));

    // Columns sit at the row's top inset and fit the row exactly.
    EXPECT_EQ(placed<ZNFTableColumnView>(instantiate(row, QRectF(0, 0, 300, 60)).get()).value(1),
              QRect(150, 5, 150, 50));

    // A column's insets move its items inside the column's view.
    const auto inset = column({box(10, 20)}, 0.5, {}, {4, 10, 6, 10});
    EXPECT_EQ(inset->sizeThatFits(QSizeF(130, ZNFLayoutFill)), QSizeF(130, 30));
    EXPECT_EQ(placed<ZNFSpacerLayoutView>(instantiate(inset, QRectF(0, 0, 130, 30)).get()),
              QList<QRect>{QRect(10, 4, 130, 20)});

    // A plain widget (a spinner, say) takes the slot the column gives it.
    auto spinner =
        ZNFBlockLayoutItem::itemWithSizing([](const QSizeF&) { return QSizeF(50, 20); },
                                           [](QWidget*, const QRectF&) { return new QProgressBar; });
    const auto holder = column({box(10, 6), spinner}, {}, {}, {4, 10, 6, 10});
    const auto holderView = instantiate(holder, QRectF(0, 0, 130, 36));
    EXPECT_EQ(placed<QProgressBar>(holderView.get()), QList<QRect>{QRect(10, 10, 130, 20)});
    EXPECT_EQ(holder->layoutItemForView(holderView->findChild<QProgressBar*>()), spinner);

    // Items narrower than a column that does not fill are aligned within its 200 points.
    auto narrow = box(120, 10);
    const auto aligned = column({narrow, box(300, 10)}, {}, {}, {0, 10, 0, 10});
    aligned->setFillWidth(false);
    aligned->setAlignment(ZNFTableColumnAlignmentCenter);
    auto alignedView = instantiate(aligned, QRectF(0, 0, 200, 20));
    // Wider than the column: left where it is.
    EXPECT_EQ(placed<ZNFSpacerLayoutView>(alignedView.get()),
              (QList<QRect>{QRect(50, 0, 120, 10), QRect(10, 10, 300, 10)}));
    aligned->setAlignment(ZNFTableColumnAlignmentRight);
    alignedView = instantiate(aligned, QRectF(0, 0, 200, 20));
    EXPECT_EQ(direct<ZNFSpacerLayoutView>(alignedView.get())[0]->frame().x(), 90);
    // The references follow the latest view only.
    EXPECT_EQ(aligned->layoutItemForView(direct<ZNFSpacerLayoutView>(alignedView.get())[0]), narrow);
    EXPECT_EQ(aligned->viewReferences().size(), 2u);
    EXPECT_FALSE(aligned->layoutItemForView(alignedView.get()));
}

TEST(TableItem, RowColoursFillAndZPositionsOrderOverlappingColumns) {
    auto under = std::make_shared<ZNFSpacerLayoutItem>(QSizeF(10, 40));
    under->setBackgroundColor(QColor(255, 0, 0));
    auto over = std::make_shared<ZNFSpacerLayoutItem>(QSizeF(10, 40));
    over->setBackgroundColor(QColor(0, 0, 255));
    auto first = column({over}), second = column({under}, 0.5);
    first->setZPosition(2);
    second->setZPosition(1);
    auto row = std::make_shared<ZNFTableRowLayoutItem>();
    row->setColumns({first, second});
    row->setInsets({0, 0, 20, 0});
    row->setBackgroundColor(QColor(0, 255, 0));
    auto table = std::make_shared<ZNFTableLayoutItem>();
    table->setRows({row});
    auto view = showTable(table, 200);
    // The later column is under the earlier one because of its lower z position.
    EXPECT_EQ(pixel(view.get(), 50, 20), QColor(0, 0, 255));
    // Below the columns, inside the row's bottom inset, the row's own colour shows.
    EXPECT_EQ(pixel(view.get(), 50, 50), QColor(0, 255, 0));
}

TEST(TableItem, ParsesRowsItemsAndConfig) {
    auto provider = makeDefaultProvider();
    provider->registerProvider(namedItemParser(), "named");
    const auto table = [&](const QByteArray& text) {
        return parseOne<ZNFTableLayoutItem>(text, provider.get());
    };
    EXPECT_FALSE(table(R"({"_type": "table"})"));
    EXPECT_FALSE(table(R"({"_type": "table", "rows": [{"columns": []}, {"insets": {}}, 5]})"));
    EXPECT_FALSE(table(R"({"_type": "table", "rows": "not rows"})"));

    const auto empty = table(R"({"_type": "table", "items": []})");
    ASSERT_TRUE(empty);
    ASSERT_EQ(empty->rows().size(), 1u);
    ASSERT_EQ(empty->rows()[0]->columns().size(), 1u);
    EXPECT_TRUE(empty->rows()[0]->columns()[0]->items().empty());

    const auto configured = table(R"({"_type": "table", "items": [{"_type": "named", "name": "x"}], "config":
        {"align": "center", "offset": 0.25, "width": 0.5, "zPosition": 3, "top": 1, "left": 2, "bottom": 3, "right": 4, "fillWidth": false}})");
    ASSERT_TRUE(configured);
    // Placed by its config: a quarter in, half wide less its insets (a config's "fillWidth" is
    // not read, so the item fills the column).
    EXPECT_EQ(places(showTable(configured, 400).get()),
              (std::map<QString, QRect>{{"x", QRect(102, 1, 194, 40)}}));

    // "rows" comes before "items"; the data's first row is shown at the top.
    const auto rows = table(R"({"_type": "table", "items": [{"_type": "named", "name": "ignored"}], "rows": [
        {"columns": [{"items": [{"_type": "named", "name": "first"}], "align": "right", "fillWidth": "0"}], "insets": {"top": 2, "bottom": 3}, "bg": "#FF0000"},
        {"columns": [{"items": [{"_type": "named", "name": "second"}]}, "not a column"]},
        {"columns": "not columns"}]})");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->rows().size(), 2u);
    auto view = showTable(rows, 300);
    EXPECT_EQ(places(view.get()), (std::map<QString, QRect>{{"first", QRect(180, 2, 120, 40)},
                                                            {"second", QRect(0, 45, 300, 40)}}));
    EXPECT_EQ(rows->rows()[1]->backgroundColor(), QColor(255, 0, 0));
    // Unknown alignments and values that are no text align left.
    EXPECT_EQ(ZNFTableLayoutItemParser::alignmentForKey("middle"), ZNFTableColumnAlignmentLeft);
    EXPECT_EQ(ZNFTableLayoutItemParser::alignmentForKey(QVariant(2)), ZNFTableColumnAlignmentLeft);
    // Huge sizes are held where they are read.
    const auto huge = table(R"({"_type": "table", "items": [], "config": {"offset": 1e39, "width": 1e300}})");
    EXPECT_EQ(huge->rows()[0]->columns()[0]->widthPercentage(), float(ZNFLargestNumberReading));
    // Tables nest as deep as the limit; the items of a deeper one are left out.
    const auto keepsInner = [&](int tables) {
        QByteArray text = R"({"_type": "named", "name": "inner"})";
        for (int i = 0; i < tables; ++i)
            text = R"({"_type": "table", "items": [)" + text + "]}";
        std::shared_ptr<ZNFLayoutItem> item = table(text);
        while (const auto nested = std::dynamic_pointer_cast<ZNFTableLayoutItem>(item)) {
            const ZNFLayoutItemList& items = nested->rows()[0]->columns()[0]->items();
            item = items.empty() ? nullptr : items[0];
        }
        return item != nullptr;
    };
    EXPECT_TRUE(keepsInner(ZNFLayoutProvider::kMaxNesting - 1));
    EXPECT_FALSE(keepsInner(ZNFLayoutProvider::kMaxNesting));
}

TEST(TableItem, HoverRoutingAndAReleasedTable) {
    std::vector<QWidget*> hovered; // the view handed to each call of the handler
    auto target = box(100, 20);
    target->setHoverHandler(
        [&](const ZNFEvent&, ZNFCollectionViewItem*, QWidget* view) { hovered.push_back(view); });
    auto table = ZNFTableLayoutItem::rowBasedTableWithItems({box(100, 20), target});
    ZNFView host(QRectF(0, 0, 100, 40));
    QWidget* tableView = table->instanceForItem(table, nullptr, host.bounds(), nullptr).view;
    host.addSubview(tableView);
    auto* targetView =
        qobject_cast<ZNFView*>(table->rows()[0]->columns()[0]->viewReferences()[0].view.data());
    ASSERT_TRUE(targetView);

    const ZNFEvent inside(ZNFEventTypeMouseEntered, ZNFView::windowLocation(targetView, QPointF(50, 10)));
    table->hoverHandler()(inside, nullptr, &host);
    EXPECT_EQ(hovered, std::vector<QWidget*>{targetView});
    // The other row's spacer has no handler; outside every view nothing happens.
    table->hoverHandler()(ZNFEvent(ZNFEventTypeMouseExited, QPointF(500, 500)), nullptr, &host);
    EXPECT_EQ(hovered.size(), 1u);

    // A click handler kept after its table is gone does nothing.
    const ZNFLayoutItemEventHandler orphan = table->clickHandler();
    table.reset();
    orphan(inside, nullptr, &host);
    EXPECT_EQ(hovered.size(), 1u);
}

namespace {

// The collection view of a real window, as the application shows its screens.
class TableScreenTest : public LayoutWindowTest {
protected:
    void SetUp() override {
        openWindow(QSizeF(400, 600), 0);
        formatter = std::make_shared<ZNFTextFormatter>(); // captions in the default style
        const QString picture = home.root() + QStringLiteral("/icon.png");
        QImage icon(160, 160, QImage::Format_RGB32);
        icon.fill(QColor(200, 30, 30));
        ASSERT_TRUE(writeFile(picture, ZNFImage::encodePNG(icon)));
        iconURL = QUrl::fromLocalFile(picture);
    }
    std::shared_ptr<ZNFImageLayoutItem> icon() {
        return std::make_shared<ZNFImageLayoutItem>(
            iconURL, [](const QSizeF& offered) { return QSizeF(offered.width(), 80); });
    }
    // Clicks the middle of a widget.
    static void click(QWidget* widget) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    }

    ScopedHome home;
    std::shared_ptr<ZNFTextFormatter> formatter;
    QUrl iconURL;
};

} // namespace

TEST_F(TableScreenTest, ClicksReachNestedItemsWithTheirOwnViews) {
    std::vector<std::pair<QString, QWidget*>> clicks;
    const auto record = [&](const QString& name) {
        return [&clicks, name](const ZNFEvent& event, ZNFCollectionViewItem*, QWidget* view) {
            if (event.type() == ZNFEventTypeLeftMouseDown)
                clicks.emplace_back(name, view);
        };
    };
    // The start screen's choice of two apps: an icon with a caption, and a row table of an
    // icon and a caption that is clickable as a whole.
    auto notesIcon = icon();
    notesIcon->setClickHandler(record("notes"));
    auto notesCaption = ZNFTextLayoutItem::itemWithString("Notes", "caption", formatter);
    auto vesperIcon = icon();
    auto vesperCaption = ZNFTextLayoutItem::itemWithString("Vesper", "caption", formatter);
    auto vesper = ZNFTableLayoutItem::rowBasedTableWithItems({vesperIcon, vesperCaption});
    vesper->setClickHandler(record("vesper"));
    auto choices = ZNFTableLayoutItem::columnBasedTableWithItems(
        {ZNFLayoutItemList{}, {notesIcon, notesCaption}, {vesper}, ZNFLayoutItemList{}},
        {0.1, 0.4, 0.4, 0.1});
    auto heading = ZNFTextLayoutItem::itemWithString("Which app?", "caption", formatter);
    show({std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, 60)), heading, choices});

    const auto cell = cellAt(2);
    ASSERT_TRUE(cell && cell->layoutItemView());
    const auto& columns = choices->rows()[0]->columns();
    ASSERT_EQ(columns.size(), 2u);
    // The icon's picture loaded from its file at once.
    EXPECT_FALSE(notesIcon->imageView()->image().isNull());

    // The icon; the caption under it, which has no handler of its own; the nested table's icon
    // and caption, which both reach the nested table's handler; the empty first column, which
    // holds no nested view and reaches nothing.
    ASSERT_EQ(columns[0]->viewReferences().size(), 2u);
    QWidget* captionView = columns[0]->viewReferences()[1].view;
    QWidget* vesperCaptionView = vesper->rows()[0]->columns()[0]->viewReferences()[0].view;
    ASSERT_TRUE(captionView && vesperCaptionView);
    for (QWidget* clicked : std::initializer_list<QWidget*>{notesIcon->imageView(), captionView,
                                                            vesperIcon->imageView(), vesperCaptionView})
        click(clicked);
    QTest::mouseClick(cell->layoutItemView(), Qt::LeftButton, {}, QPoint(20, 20));
    // Each handler is handed the view of its own item.
    std::vector<std::pair<QString, std::shared_ptr<ZNFLayoutItem>>> seen;
    for (const auto& [name, view] : clicks)
        seen.emplace_back(name, columns[name == "notes" ? 0 : 1]->layoutItemForView(view));
    EXPECT_EQ(seen, (decltype(seen){{"notes", notesIcon}, {"vesper", vesper}, {"vesper", vesper}}));
}
