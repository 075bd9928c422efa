// Presses through responders are exercised end to end by the layout collection-view tests, and
// the string tables a locale installs by the predicator and application flow tests.
#include "platform/ZNFCollectionView.h"
#include "platform/ZNFView.h"
#include "platform/ZNFViewController.h"

#include <QApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class Responder : public QObject, public ZNFMouseResponder {
public:
    void mouseEntered(const ZNFEvent& e) override { events.push_back(e); }
    void mouseExited(const ZNFEvent& e) override { events.push_back(e); }
    std::vector<ZNFEvent> events;
};

class LayoutRecorder : public ZNFViewController {
public:
    int loads = 0;
    std::vector<QSizeF> childSizesAtLayout;
    ZNFView* child = nullptr;

protected:
    void viewDidLoad() override {
        ++loads;
        child = new ZNFView(view()->bounds());
        child->setAutoresizingMask(ZNFView::WidthSizable | ZNFView::HeightSizable);
        view()->addSubview(child);
    }
    void viewDidLayout() override { childSizesAtLayout.push_back(child->frame().size()); }
};

} // namespace

TEST(View, FramesGrowUpwardsUnlessTheSuperviewIsFlipped) {
    ZNFView root(QRectF(0, 0, 100, 100));
    auto* child = new ZNFView(QRectF(10, 20, 30, 40));
    root.addSubview(child);
    EXPECT_EQ(child->geometry(), QRect(10, 40, 30, 40));
    root.setFlipped(true);
    EXPECT_EQ(child->geometry(), QRect(10, 20, 30, 40));
    root.setFlipped(false);

    // Autoresizing: a y-up subview keeps its distance from the bottom; sizable ones follow.
    auto* wide = new ZNFView(QRectF(0, 0, 100, 10));
    wide->setAutoresizingMask(ZNFView::WidthSizable);
    root.addSubview(wide);
    auto* plain = new QWidget;
    plain->setParent(&root);
    plain->setGeometry(0, 0, 100, 100);
    ZNFView::setAutoresizingMask(plain, ZNFView::WidthSizable | ZNFView::HeightSizable);
    root.setFrame(QRectF(0, 0, 150, 160));
    EXPECT_EQ(child->frame(), QRectF(10, 20, 30, 40));
    EXPECT_EQ(child->geometry(), QRect(10, 100, 30, 40));
    EXPECT_EQ(wide->frame(), QRectF(0, 0, 150, 10));
    EXPECT_EQ(wide->geometry(), QRect(0, 150, 150, 10));
    EXPECT_EQ(plain->geometry(), QRect(0, 0, 150, 160));

    // Window coordinates: origin at the window's bottom-left.
    EXPECT_EQ(ZNFView::frameInWindow(child), QRectF(10, 20, 30, 40));
    EXPECT_EQ(child->convertPointToWindow(QPointF(5, 5)), QPointF(15, 25));
    root.setFlipped(true);
    EXPECT_EQ(ZNFView::frameInWindow(child), QRectF(10, 100, 30, 40));
}

TEST(View, TrackingAreasReportEnterAndExitInsideTheirRectangle) {
    ZNFView root(QRectF(0, 0, 200, 200));
    auto* view = new ZNFView(QRectF(0, 0, 200, 100)); // the lower half
    root.addSubview(view);
    root.show();
    root.activateWindow();
    QApplication::setActiveWindow(&root);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&root));
    auto owner = std::make_unique<Responder>();
    // The right half of the view, in its own y-up coordinates.
    auto area = std::make_shared<ZNFTrackingArea>(
        QRectF(100, 0, 100, 100), ZNFTrackingMouseEnteredAndExited | ZNFTrackingActiveInKeyWindow,
        owner.get());
    view->addTrackingArea(area);

    QTest::mouseMove(&root, QPoint(10, 10));  // above the view
    QTest::mouseMove(&root, QPoint(50, 150)); // in the view, left of the area
    EXPECT_TRUE(owner->events.empty());
    QTest::mouseMove(&root, QPoint(150, 150)); // into the area
    QTest::mouseMove(&root, QPoint(160, 160)); // still inside
    QTest::mouseMove(&root, QPoint(150, 10));  // out of the view altogether
    ASSERT_EQ(owner->events.size(), 2u);
    EXPECT_EQ(std::pair(owner->events[0].type(), owner->events[1].type()),
              std::pair(ZNFEventTypeMouseEntered, ZNFEventTypeMouseExited));
    EXPECT_EQ(owner->events[0].trackingArea(), area);
    EXPECT_EQ(owner->events[0].locationInWindow(), QPointF(150, 50));

    // An owner that is gone is not told; a removed area reports nothing.
    owner.reset();
    QTest::mouseMove(&root, QPoint(150, 150));
    view->removeTrackingArea(area);
    EXPECT_TRUE(view->trackingAreas().empty());
}

TEST(ViewController, LoadsLazilyAndLaysOutAfterSubviews) {
    auto controller = std::make_shared<LayoutRecorder>();
    EXPECT_FALSE(controller->isViewLoaded());
    ZNFView* view = controller->view();
    controller->view();
    EXPECT_EQ(controller->loads, 1);
    view->setFrame(QRectF(0, 0, 300, 200));
    // The layout pass sees the subviews already at their new size.
    ASSERT_FALSE(controller->childSizesAtLayout.empty());
    EXPECT_EQ(controller->childSizesAtLayout.back(), QSizeF(300, 200));

    auto child = std::make_shared<ZNFViewController>();
    auto other = std::make_shared<ZNFViewController>();
    controller->addChildViewController(child);
    controller->addChildViewController(child);
    EXPECT_EQ(controller->childViewControllers().size(), 1u);
    EXPECT_EQ(child->parentViewController(), controller.get());
    other->addChildViewController(child);
    EXPECT_TRUE(controller->childViewControllers().empty());
    EXPECT_EQ(child->parentViewController(), other.get());
    child->removeFromParentViewController();
    EXPECT_EQ(child->parentViewController(), nullptr);
    other->addChildViewController(child);
    other.reset();
    EXPECT_EQ(child->parentViewController(), nullptr);

    QPointer<ZNFView> guard = view;
    controller.reset();
    EXPECT_TRUE(guard.isNull());
}

namespace {

class Source : public ZNFCollectionViewDataSource, public ZNFCollectionViewDelegateFlowLayout {
public:
    std::vector<QSizeF> sizes;
    std::function<void()> onCell;
    int numberOfItemsInSection(ZNFCollectionView*, int) override { return static_cast<int>(sizes.size()); }
    std::shared_ptr<ZNFCollectionViewItem>
    itemForRepresentedObjectAtIndexPath(ZNFCollectionView* cv, const ZNFIndexPath& path) override {
        if (onCell)
            onCell();
        return cv->makeItem(path.item % 2 ? QStringLiteral("odd") : QStringLiteral("even"), path);
    }
    QSizeF sizeForItemAtIndexPath(ZNFCollectionView*, ZNFCollectionViewLayout*,
                                  const ZNFIndexPath& path) override {
        return sizes[static_cast<size_t>(path.item)];
    }
};

} // namespace

TEST(CollectionView, ReusesCellsByIdentifierAndScrolls) {
    ZNFCollectionView cv(QRectF(0, 0, 300, 100));
    Source source;
    cv.setDataSource(&source);
    cv.setDelegate(&source);
    cv.registerClass<ZNFCollectionViewItem>(QStringLiteral("even"));
    cv.registerClass<ZNFCollectionViewItem>(QStringLiteral("odd"));
    cv.setVerticalScrollerWidth(20);
    source.sizes.assign(50, QSizeF(280, 20));
    cv.reloadData();
    EXPECT_EQ(cv.verticalScroller()->maximum(), 900);
    for (const auto& cell : cv.visibleItems())
        EXPECT_EQ(cell->reuseIdentifier(), cell->indexPath().item % 2 ? "odd" : "even");

    // The scroller and the wheel move the content.
    cv.verticalScroller()->setValue(500);
    EXPECT_EQ(cv.scrollOffset(), 500);
    EXPECT_EQ(cv.itemAtIndexPath({0, 25})->view()->frame().y(), 0);
    EXPECT_FALSE(cv.itemAtIndexPath({0, 0}));
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&cv, &wheel);
    EXPECT_EQ(cv.scrollOffset(), 440);
    EXPECT_EQ(cv.verticalScroller()->value(), 440);

    // A data source that reloads from inside a cell request does not leave stale cells.
    bool reloaded = false;
    source.onCell = [&] {
        if (!std::exchange(reloaded, true)) {
            source.sizes.assign(3, QSizeF(100, 20));
            cv.reloadData();
        }
    };
    source.sizes.assign(10, QSizeF(100, 20));
    cv.reloadData();
    source.onCell = nullptr;
    EXPECT_EQ(cv.numberOfItemsInSection(0), 3);
    EXPECT_EQ(cv.scrollOffset(), 0);
    for (const auto& cell : cv.visibleItems())
        EXPECT_LT(cell->indexPath().item, 3);

    // Odd sizes take no room rather than breaking the layout.
    source.sizes = {QSizeF(-5, 10), QSizeF(std::numeric_limits<double>::infinity(), 10), QSizeF(10, 10)};
    cv.reloadData();
    EXPECT_EQ(cv.frameForItemAtIndexPath({0, 0}).size(), QSizeF(0, 10));
    EXPECT_EQ(cv.frameForItemAtIndexPath({0, 1}).size(), QSizeF(0, 10));
    cv.setDataSource(nullptr);
    cv.reloadData();
    EXPECT_EQ(cv.numberOfItemsInSection(0), 0);
    EXPECT_TRUE(cv.visibleItems().empty());
}

TEST(CollectionView, KeysScrollItOnceItHasFocusAndTabMovesOn) {
    QWidget window;
    window.resize(300, 130);
    auto* cv = new ZNFCollectionView(QRectF(0, 0, 300, 100));
    cv->setParent(&window);
    auto* next = new QLineEdit(&window);
    next->setGeometry(0, 105, 300, 20);
    Source source;
    source.sizes.assign(50, QSizeF(280, 20)); // content 1000 high in a view 100 high
    cv->setDataSource(&source);
    cv->setDelegate(&source);
    cv->reloadData();
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // A click on a cell (which takes no focus itself) gives the view the keys.
    QTest::mouseClick(cv->itemAtIndexPath({0, 1})->view(), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(QApplication::focusWidget(), cv);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        double from, to;
    } rows[] = {
        // clang-format off
        {Qt::Key_PageDown, {}, 0, 100}, {Qt::Key_PageUp, {}, 500, 400}, {Qt::Key_Space, {}, 0, 100},
        {Qt::Key_Space, Qt::ShiftModifier, 500, 400}, {Qt::Key_Down, {}, 0, 20}, {Qt::Key_Up, {}, 500, 480},
        {Qt::Key_End, {}, 0, 900}, {Qt::Key_Home, {}, 500, 0}, {Qt::Key_Home, Qt::ControlModifier, 500, 0},
        {Qt::Key_PageDown, {}, 850, 900}, {Qt::Key_Down, Qt::ShiftModifier, 500, 500}, {Qt::Key_A, {}, 500, 500},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QKeySequence(row.key | row.modifiers).toString().toStdString() + " from " +
                     std::to_string(row.from));
        cv->setScrollOffset(row.from);
        QTest::keyClick(cv, row.key, row.modifiers);
        EXPECT_EQ(cv->scrollOffset(), row.to);
        EXPECT_EQ(cv->verticalScroller()->value(), row.to);
    }
    // Tab is not the view's: focus moves on.
    QTest::keyClick(cv, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
}
