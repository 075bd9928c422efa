// Reloading the layout collection view: every item is measured, cells are made only for the
// visible rows plus a margin. Items are simple fixed-size ones, so the figures leave out text
// measurement. "items" is the number of items; the window shows 700 points of 40-point rows.

#include "bench_main.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutProvider.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

class FixedItem : public ZNFLayoutItem, public ZNFLayoutItemViewProvider {
public:
    static QString classKind() { return QStringLiteral("fixed"); }
    QString kind() const override { return classKind(); }
    QSizeF sizeThatFits(const QSizeF& size) override { return QSizeF(size.width(), 40); }
    ZNFLayoutInstance instanceForItem(const std::shared_ptr<ZNFLayoutItem>&, ZNFLayoutConsumer*,
                                      const QRectF& frame, QWidget* reusingView) override {
        auto* view = qobject_cast<ZNFView*>(reusingView);
        if (!view)
            view = new ZNFView(frame);
        view->setFrame(frame);
        return view;
    }
};

struct Screen {
    std::shared_ptr<ZNFLayoutCollectionViewController> controller =
        std::make_shared<ZNFLayoutCollectionViewController>();
    ZNFCollectionView* cv = nullptr;

    explicit Screen(int count) {
        ZNFLayoutItemList items;
        for (int i = 0; i < count; ++i)
            items.push_back(std::make_shared<FixedItem>());
        controller->view()->setFrame(QRectF(0, 0, 600, 700));
        controller->view()->show();
        cv = controller->collectionView();
        controller->setLayoutItems(items);
        cv->reloadData();
    }
};

// A whole reload: sizing every item, then the visible cells (recycled from the last reload).
void BM_Reload(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)));
    for (auto _ : state)
        screen.cv->reloadData();
    state.counters["cells"] = screen.cv->numberOfCellsMade();
    state.counters["visible"] = static_cast<double>(screen.cv->visibleItems().size());
}
BENCHMARK(BM_Reload)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Sizing alone: the delegate's answer for every item.
void BM_SizeAllItems(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)));
    auto* layout = screen.cv->collectionViewLayout();
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < count; ++i)
            benchmark::DoNotOptimize(
                screen.controller->sizeForItemAtIndexPath(screen.cv, layout, ZNFIndexPath{0, i}));
    }
}
BENCHMARK(BM_SizeAllItems)->Arg(1000)->Unit(benchmark::kMicrosecond);

// A first showing: a fresh controller whose cells and views are all new.
void BM_FirstShow(benchmark::State& state) {
    for (auto _ : state) {
        Screen screen(static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(screen.cv);
    }
}
BENCHMARK(BM_FirstShow)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Scrolling one row at a time through 1,000 items: cells leave and come back from the pool.
void BM_ScrollThrough(benchmark::State& state) {
    Screen screen(1000);
    for (auto _ : state) {
        for (double y = 0; y < 40000; y += 40)
            screen.cv->setScrollOffset(y);
        screen.cv->setScrollOffset(0);
    }
    state.counters["cells"] = screen.cv->numberOfCellsMade();
}
BENCHMARK(BM_ScrollThrough)->Unit(benchmark::kMillisecond);

} // namespace

const bool registered = registerBenchProgram([](BenchProgram& program) { program.widgets = true; });
