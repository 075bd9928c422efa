#include "TestSupport.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutProvider.h"
#include "support/LayoutTestSupport.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

// A click as its handler saw it: the event's type and window location, the cell and the view.
using Click = std::tuple<int, QPointF, ZNFCollectionViewItem*, QWidget*>;

// A separate view provider that records what it is asked and answers with a view, a view
// controller or nothing.
class RecordingViewProvider : public ZNFLayoutItemViewProvider {
public:
    enum Answer { View, Controller, Nothing };
    explicit RecordingViewProvider(Answer answer) : answer(answer) {}
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>& item, ZNFLayoutConsumer* source,
                                      const QRectF& frame, QWidget* reusingView) override {
        calls.emplace_back(item, source, frame, reusingView);
        switch (answer) {
        case View: {
            auto* view = qobject_cast<TestLayoutItemView*>(reusingView);
            if (!view)
                view = new TestLayoutItemView(frame);
            view->itemName = QStringLiteral("from provider");
            return view;
        }
        case Controller:
            controller = std::make_shared<ZNFViewController>();
            return controller;
        default:
            return {};
        }
    }
    // What each call was handed: the item, its source, the frame and the view to reuse.
    std::vector<std::tuple<std::shared_ptr<ZNFLayoutItem>, ZNFLayoutConsumer*, QRectF, QWidget*>> calls;
    std::shared_ptr<ZNFViewController> controller;
    Answer answer;
};

// A 500 x 400 window with a 15-point scroller: items are offered 485 points.
constexpr int kWindowWidth = 500, kWindowHeight = 400, kScrollerWidth = 15;
constexpr int kAvailableWidth = kWindowWidth - kScrollerWidth;

class CollectionViewTest : public LayoutWindowTest {
protected:
    void SetUp() override { openWindow(QSizeF(kWindowWidth, kWindowHeight), kScrollerWidth); }
    QString shownName(int index) {
        auto cell = cellAt(index);
        auto* view = cell ? qobject_cast<TestLayoutItemView*>(cell->layoutItemView()) : nullptr;
        return view ? view->itemName : QString();
    }
};

} // namespace

TEST_F(CollectionViewTest, SizesItemsForTheAvailableWidth) {
    auto item = std::make_shared<TestLayoutItem>(QStringLiteral("A"), QSizeF(120, 40));
    show({item});
    // Measured for the width beside the scroller, and filled to it.
    EXPECT_EQ(item->lastOffered(), QSizeF(kAvailableWidth, ZNFLayoutFill));
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}), QRectF(0, 0, kAvailableWidth, 40));
    EXPECT_EQ(cellAt(0)->layoutItemView()->size(), QSize(kAvailableWidth, 40));

    controller->setFillWidth(false);
    cv->reloadData();
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}).size(), QSizeF(120, 40));

    // The largest finite double asks for the whole dimension.
    item->setSize(QSizeF(ZNFLayoutFill, ZNFLayoutFill));
    cv->reloadData();
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}).size(), QSizeF(kAvailableWidth, kWindowHeight));

    controller->setFillHeight(true);
    item->setSize(QSizeF(50, 10));
    cv->reloadData();
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}).size(), QSizeF(50, 400));

    // Without a scroller the whole width is available.
    controller->setFillHeight(false);
    controller->setFillWidth(true);
    cv->setHasVerticalScroller(false);
    cv->reloadData();
    EXPECT_EQ(item->lastOffered().width(), 500);
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}).size(), QSizeF(500, 10));
}

TEST_F(CollectionViewTest, NaNSizesAreReplacedAndLogged) {
    LogCapture log;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto good = std::make_shared<TestLayoutItem>(QStringLiteral("good"), QSizeF(10, 40));
    auto broken = std::make_shared<TestLayoutItem>(QStringLiteral("broken"), QSizeF(10, nan));
    controller->setFillWidth(false);
    show({good, broken, std::make_shared<TestLayoutItem>(QStringLiteral("after"), QSizeF(600, 30))});
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 1}).size(), QSizeF(0.01, 0.01));
    EXPECT_TRUE(log.contains("ZNFLayoutCollectionViewController error: item at index path {length = 2, path "
                             "= 0 - 1} contains a value of NaN"))
        << log.lines().join('\n').toStdString();
    // One broken item does not break the rest of the layout.
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 2}).size(), QSizeF(600, 30));
    EXPECT_EQ(shownName(2), "after");

    // With fill width on, the available width replaces a NaN width before the check.
    controller->setFillWidth(true);
    broken->setSize(QSizeF(nan, 5));
    cv->reloadData();
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 1}).size(), QSizeF(kAvailableWidth, 5));
}

TEST_F(CollectionViewTest, NewItemsShowOnlyAfterAReload) {
    show({std::make_shared<TestLayoutItem>(QStringLiteral("A"))});
    ASSERT_EQ(shownName(0), "A");
    controller->setLayoutItems({std::make_shared<TestLayoutItem>(QStringLiteral("B")),
                                std::make_shared<TestLayoutItem>(QStringLiteral("C"))});
    EXPECT_EQ(cv->numberOfItemsInSection(0), 1);
    EXPECT_EQ(shownName(0), "A");
    cv->reloadData();
    EXPECT_EQ(shownName(0), "B");
    EXPECT_EQ(shownName(1), "C");

    // Every layout pass of the controller's view reloads too: showing it, resizing the window.
    controller->setLayoutItems({std::make_shared<TestLayoutItem>(QStringLiteral("E"))});
    root->hide();
    root->show();
    EXPECT_EQ(shownName(0), "E");
    controller->setLayoutItems({std::make_shared<TestLayoutItem>(QStringLiteral("D"))});
    root->setFrame(QRectF(0, 0, 300, 400));
    EXPECT_EQ(shownName(0), "D");
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}).width(), 285);
}

TEST_F(CollectionViewTest, ClicksReachTheHandlerForPressAndRelease) {
    std::vector<Click> clicks;
    auto item = std::make_shared<TestLayoutItem>(QStringLiteral("A"), QSizeF(100, 40));
    item->setClickHandler([&](const ZNFEvent& e, ZNFCollectionViewItem* cell, QWidget* view) {
        clicks.emplace_back(e.type(), e.locationInWindow(), cell, view);
    });
    auto plain = std::make_shared<TestLayoutItem>(QStringLiteral("B"), QSizeF(100, 40));
    show({item, plain});
    auto cell = cellAt(0);
    ASSERT_TRUE(cell && cell->layoutItemView());

    QTest::mouseClick(cell->layoutItemView(), Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseClick(cell->layoutItemView(), Qt::RightButton, {}, QPoint(10, 5));
    // Window coordinates grow upwards from the bottom of the 400-point window.
    const auto click = [&](int type) { return Click{type, QPointF(10, 395), cell.get(), cell->view()}; };
    EXPECT_EQ(clicks,
              (std::vector<Click>{click(ZNFEventTypeLeftMouseDown), click(ZNFEventTypeLeftMouseUp),
                                  click(ZNFEventTypeRightMouseDown), click(ZNFEventTypeRightMouseUp)}));

    // An item without a click handler: nothing, and the second cell is not confused with the first.
    QTest::mouseClick(cellAt(1)->layoutItemView(), Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(clicks.size(), 4u);
    // Other buttons are not clicks.
    QTest::mouseClick(cell->layoutItemView(), Qt::MiddleButton, {}, QPoint(10, 5));
    EXPECT_EQ(clicks.size(), 4u);
}

TEST_F(CollectionViewTest, AClickThatReplacesTheScreenIsSafe) {
    int presses = 0;
    auto item = std::make_shared<TestLayoutItem>(QStringLiteral("A"), QSizeF(100, 40));
    auto next = std::make_shared<TestLayoutItem>(QStringLiteral("next"), QSizeF(100, 40));
    std::weak_ptr<TestLayoutItem> weakItem = item;
    item->setClickHandler([&, next](const ZNFEvent& e, ZNFCollectionViewItem*, QWidget*) {
        if (e.type() != ZNFEventTypeLeftMouseDown)
            return;
        ++presses;
        // The application's handlers push the next screen from inside the click.
        controller->setLayoutItems({next});
        cv->reloadData();
    });
    show({item});
    item.reset();
    QPointer<QWidget> pressed = cellAt(0)->layoutItemView();
    QTest::mouseClick(pressed, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(presses, 1);
    EXPECT_TRUE(weakItem.expired());
    EXPECT_EQ(shownName(0), "next");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(pressed.isNull() || pressed == cellAt(0)->layoutItemView());
}

TEST_F(CollectionViewTest, HoverOnlyWithAHoverHandler) {
    std::vector<int> seen; // the events that reach either handler
    const auto record = [&](const ZNFEvent& e, ZNFCollectionViewItem*, QWidget*) {
        seen.push_back(e.type());
    };
    auto plain = std::make_shared<TestLayoutItem>(QStringLiteral("plain"), QSizeF(100, 40));
    plain->setClickHandler(record);
    auto hovering = std::make_shared<TestLayoutItem>(QStringLiteral("hover"), QSizeF(100, 40));
    hovering->setHoverHandler(record);
    show({plain, hovering});

    auto hoverCell = cellAt(1);
    ASSERT_TRUE(hoverCell->trackingArea());
    EXPECT_EQ(hoverCell->trackingArea()->rect(), QRectF(0, 0, kAvailableWidth, 40));

    // Into the plain cell and out again: nothing reaches any handler.
    QTest::mouseMove(root, QPoint(20, 20));
    QTest::mouseMove(root, QPoint(20, 300));
    EXPECT_TRUE(seen.empty());

    // Into the hovering cell, about inside it, and out.
    for (const QPoint& to : {QPoint(20, 60), QPoint(30, 65), QPoint(20, 300)})
        QTest::mouseMove(root, to);
    EXPECT_EQ(seen, (std::vector<int>{ZNFEventTypeMouseEntered, ZNFEventTypeMouseExited}));
    // In, the screen reloaded under the pointer, out: the hover still ends with an exit, and
    // the cell under the pointer is the one that was there.
    QTest::mouseMove(root, QPoint(20, 60));
    const ZNFCollectionViewItem* under = cellAt(1).get();
    show({plain, hovering});
    EXPECT_EQ(cellAt(1).get(), under);
    QTest::mouseMove(root, QPoint(20, 300));
    EXPECT_EQ(seen.back(), ZNFEventTypeMouseExited);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), ZNFEventTypeMouseEntered),
              std::count(seen.begin(), seen.end(), ZNFEventTypeMouseExited));

    // A plain cell has no tracking area, nor does a reused one that now shows an item without
    // hover handler.
    show({plain, plain});
    EXPECT_FALSE(cellAt(1)->trackingArea());
    for (const auto& cell : cv->visibleItems())
        EXPECT_TRUE(cell->view()->trackingAreas().empty());
}

TEST_F(CollectionViewTest, RegisteredViewProvidersAndKinds) {
    auto provider = std::make_shared<RecordingViewProvider>(RecordingViewProvider::View);
    controller->registerViewProvider(provider, QStringLiteral("special"));

    auto special = std::make_shared<TestLayoutItem>("S", QSizeF(120, 40), "special");
    auto ordinary = std::make_shared<TestLayoutItem>(QStringLiteral("O"));
    show({ordinary, special});

    EXPECT_EQ(shownName(0), "O");
    EXPECT_EQ(shownName(1), "from provider");
    EXPECT_EQ(special->instanceCalls(), 0);
    EXPECT_EQ(provider->calls, (decltype(provider->calls){
                                   {special, controller.get(), QRectF(0, 0, kAvailableWidth, 40), nullptr}}));

    // Swapped places: each kind's cell is reused only for its own kind, so the provider is
    // handed back its own view.
    QWidget* providerView = cellAt(1)->layoutItemView();
    show({special, ordinary});
    ASSERT_EQ(provider->calls.size(), 2u);
    EXPECT_EQ(std::get<QWidget*>(provider->calls[1]), providerView);
    EXPECT_EQ(cellAt(0)->layoutItemView(), providerView);
    EXPECT_EQ(shownName(1), "O");

    // A kind registered without a provider still gets its own cells; the item provides.
    controller->registerViewProvider(nullptr, QStringLiteral("test"));
    show({ordinary});
    EXPECT_EQ(cellAt(0)->reuseIdentifier(), "test");
    EXPECT_EQ(shownName(0), "O");
}

TEST_F(CollectionViewTest, ViewControllersAreHostedAndOtherAnswersChangeNothing) {
    auto hostProvider = std::make_shared<RecordingViewProvider>(RecordingViewProvider::Controller);
    auto nothingProvider = std::make_shared<RecordingViewProvider>(RecordingViewProvider::Nothing);
    controller->registerViewProvider(hostProvider, QStringLiteral("hosted"));
    controller->registerViewProvider(nothingProvider, QStringLiteral("nothing"));
    auto hosted = std::make_shared<TestLayoutItem>("H", QSizeF(120, 40), "hosted");
    auto nothing = std::make_shared<TestLayoutItem>("N", QSizeF(120, 40), "nothing");

    show({hosted, nothing});
    auto hostCell = cellAt(0);
    const auto child = hostProvider->controller;
    ASSERT_TRUE(child);
    EXPECT_EQ(hostCell->containedViewController(), child);
    EXPECT_EQ(child->parentViewController(), controller.get());
    EXPECT_EQ(child->view()->parentWidget(), hostCell->view());
    EXPECT_EQ(child->view()->frame(), QRectF(0, 0, kAvailableWidth, 40));
    // A fresh cell whose provider answers nothing stays empty.
    EXPECT_EQ(cellAt(1)->layoutItemView(), nullptr);
    EXPECT_FALSE(cellAt(1)->containedViewController());

    // A reused cell whose provider now answers nothing keeps the view it showed before.
    nothingProvider->answer = RecordingViewProvider::View;
    show({nothing});
    QWidget* before = cellAt(0)->layoutItemView();
    ASSERT_TRUE(before);
    nothingProvider->answer = RecordingViewProvider::Nothing;
    show({nothing});
    EXPECT_EQ(cellAt(0)->layoutItemView(), before);

    // A cell that hosted a controller and is then given a view lets the controller go, so the
    // two never share the cell.
    hostProvider->answer = RecordingViewProvider::View;
    show({hosted});
    EXPECT_EQ(cellAt(0), hostCell);
    EXPECT_FALSE(hostCell->containedViewController());
    EXPECT_EQ(child->parentViewController(), nullptr);
    EXPECT_NE(child->view()->parentWidget(), hostCell->view());
    EXPECT_EQ(shownName(0), "from provider");
}

TEST_F(CollectionViewTest, ReparseLayout) {
    controller->reparseLayout();
    EXPECT_EQ(cv->numberOfItemsInSection(0), 0);
    auto provider = makeDefaultProvider();
    provider->registerProvider(namedItemParser(), QStringLiteral("named"));
    controller->setLayoutProvider(provider);
    controller->reparseLayout(); // no data yet
    EXPECT_EQ(cv->numberOfItemsInSection(0), 0);
    controller->setLayoutData(json(R"([{"_type": "named", "name": "P"}, {"name": "skipped"}])"));
    controller->reparseLayout();
    EXPECT_EQ(cv->numberOfItemsInSection(0), 1);
    EXPECT_EQ(shownName(0), "P");
}

TEST_F(CollectionViewTest, CellsOnlyForWhatIsVisible) {
    ZNFLayoutItemList items;
    for (int i = 0; i < 1000; ++i)
        items.push_back(std::make_shared<TestLayoutItem>(QString::number(i), QSizeF(100, 40)));
    show(items);
    EXPECT_EQ(cv->contentHeight(), 40000);
    // 400 points of 40-point rows, plus a quarter screen of margin below.
    const int made = cv->numberOfCellsMade();
    EXPECT_GE(made, 10);
    EXPECT_LE(made, 14);
    EXPECT_EQ(cv->indexPathsForVisibleItems().front().item, 0);

    // Scrolling to the end reuses the cells that left the screen.
    cv->setScrollOffset(1e9);
    EXPECT_EQ(cv->scrollOffset(), 40000 - 400);
    EXPECT_EQ(cv->indexPathsForVisibleItems().back().item, 999);
    EXPECT_EQ(shownName(999), "999");
    EXPECT_LE(cv->numberOfCellsMade(), 2 * made);
    EXPECT_EQ(cellAt(999)->view()->frame().y() + 40, 400);

    // Every item is measured on every reload, the shown ones and the others.
    auto* last = dynamic_cast<TestLayoutItem*>(items.back().get());
    const int calls = last->sizeCalls();
    cv->reloadData();
    EXPECT_EQ(last->sizeCalls(), calls + 1);

    // A shorter list brings the offset back into range.
    show({items.front()});
    EXPECT_EQ(cv->scrollOffset(), 0);
    EXPECT_EQ(shownName(0), "0");
    EXPECT_EQ(cv->visibleItems().size(), 1u);
}

TEST_F(CollectionViewTest, FlowLayoutPutsNarrowItemsSideBySide) {
    controller->setFillWidth(false);
    show({std::make_shared<TestLayoutItem>("a", QSizeF(200, 40)),
          std::make_shared<TestLayoutItem>("b", QSizeF(200, 20)),
          std::make_shared<TestLayoutItem>("c", QSizeF(200, 30))});
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 0}), QRectF(0, 0, 200, 40));
    // Shorter items sit in the middle of their line.
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 1}), QRectF(200, 10, 200, 20));
    EXPECT_EQ(cv->frameForItemAtIndexPath({0, 2}), QRectF(0, 40, 200, 30));
    EXPECT_EQ(cv->contentHeight(), 70);
}

TEST_F(CollectionViewTest, TheCollectionViewGoesWithItsController) {
    show({std::make_shared<TestLayoutItem>("a")});
    const QPointer<ZNFCollectionView> view = cv;
    controller.reset();
    EXPECT_TRUE(view.isNull());
}
