// Sizing and showing screens made of the item kinds: texts, file pictures, spacers, rules and
// tables nested three deep, at a width of 600 points in a window 700 points high.
//
//   BM_ReloadMixedScreen/1000   one reload of a 1,000-item screen: every item measured, the
//                               visible cells (about one screenful) reconfigured.
//   BM_SizeMixedItems/N         measuring N mixed items again (texts remember their last
//                               measurement); should grow linearly with N.
//   BM_SizeMixedItemsFirstTime/N  the same for items never measured before.
//   BM_SizeNestedTable/N        measuring one table holding N leaf items three tables deep.
//   BM_ShowNestedTable/N        making the views of that table (nothing nested is recycled).

#include "bench_main.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/items/ZNFImageLayoutItem.h"
#include "layout/items/ZNFRuleLayoutItem.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "platform/ZNFImage.h"
#include "text/ZNFTextFormatter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr double kWidth = 600;

struct Fixtures {
    QTemporaryDir dir;
    std::shared_ptr<ZNFTextFormatter> formatter = std::make_shared<ZNFTextFormatter>();
    QUrl picture;

    Fixtures() {
        QVariantMap body{{"fontWeight", "regular"}, {"fontSize", 14}, {"lineHeight", 1.2},
                         {"color", "#2B2F36"},      {"left", 24},     {"right", 24}};
        QVariantMap heading{{"fontWeight", "semibold"}, {"fontSize", 22}, {"align", "center"}, {"top", 8}};
        QVariantMap button{{"fontWeight", "bold"}, {"fontSize", 16}, {"bg", "#2F6FDB"},
                           {"color", "#FFFFFF"},   {"top", 10},      {"bottom", 10},
                           {"left", 20},           {"right", 20}};
        formatter->registerKeyedAttributes({{"body", body}, {"heading", heading}, {"button", button}});
        QImage icon(160, 160, QImage::Format_ARGB32);
        icon.fill(QColor(74, 144, 226));
        const QString path = QDir(dir.path()).filePath("icon.png");
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(ZNFImage::encodePNG(icon));
        picture = QUrl::fromLocalFile(path);
    }

    std::shared_ptr<ZNFLayoutItem> text(int i) {
        static const QString paragraph =
            QStringLiteral("Open your Tessanote app's settings, then tap Import Notes. Tessanote will "
                           "connect automatically if "
                           "your phone and your computer are on the same network. ");
        switch (i % 3) {
        case 0:
            return ZNFTextLayoutItem::itemWithString(QStringLiteral("Heading %1").arg(i), "heading",
                                                     formatter);
        case 1:
            return ZNFTextLayoutItem::itemWithString(paragraph + QString::number(i), "body", formatter);
        default:
            return ZNFTextLayoutItem::itemWithString(QStringLiteral("Button %1").arg(i), "button", formatter);
        }
    }
    std::shared_ptr<ZNFLayoutItem> image() {
        return std::make_shared<ZNFImageLayoutItem>(
            picture, [](const QSizeF& size) { return QSizeF(size.width(), 80); });
    }
    // A table of two columns; the second holds a row table whose second row is a column table
    // of an icon and a caption: three tables deep, `leaves` leaf items in all (at least 4).
    std::shared_ptr<ZNFLayoutItem> nestedTable(int leaves, int seed) {
        ZNFLayoutItemList deepest;
        for (int i = 0; i < leaves - 3; ++i)
            deepest.push_back(i % 2 ? image() : text(seed + i));
        auto inner =
            ZNFTableLayoutItem::columnBasedTableWithItems({deepest, ZNFLayoutItemList{}}, {0.7, 0.3});
        auto middle = ZNFTableLayoutItem::rowBasedTableWithItems({text(seed + 1), inner});
        return ZNFTableLayoutItem::columnBasedTableWithItems(
            {ZNFLayoutItemList{image(), std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, 10))}, middle},
            {0.3, 0.7});
    }

    ZNFLayoutItemList mixedScreen(int count) {
        ZNFLayoutItemList items;
        for (int i = 0; i < count; ++i) {
            switch (i % 8) {
            case 0:
            case 1:
            case 2:
                items.push_back(text(i));
                break;
            case 3:
                items.push_back(image());
                break;
            case 4:
                items.push_back(std::make_shared<ZNFSpacerLayoutItem>(QSizeF(0, 20)));
                break;
            case 5:
                items.push_back(
                    std::make_shared<ZNFRuleLayoutItem>(ZNFEdgeInsets{8, 16, 8, 16}, 1, Qt::gray));
                break;
            default:
                items.push_back(nestedTable(6, i));
                break;
            }
        }
        return items;
    }
};

Fixtures& fixtures() {
    static Fixtures f;
    return f;
}

void BM_ReloadMixedScreen(benchmark::State& state) {
    auto controller = std::make_shared<ZNFLayoutCollectionViewController>();
    ZNFCollectionView* cv = controller->collectionView();
    cv->setVerticalScrollerWidth(0);
    controller->view()->setFrame(QRectF(0, 0, kWidth, 700));
    controller->view()->show();
    controller->setLayoutItems(fixtures().mixedScreen(static_cast<int>(state.range(0))));
    cv->reloadData();
    for (auto _ : state)
        cv->reloadData();
    state.counters["visible"] = static_cast<double>(cv->visibleItems().size());
    state.counters["contentHeight"] = cv->contentHeight();
}
BENCHMARK(BM_ReloadMixedScreen)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_SizeMixedItems(benchmark::State& state) {
    const ZNFLayoutItemList items = fixtures().mixedScreen(static_cast<int>(state.range(0)));
    for (auto _ : state)
        for (const auto& item : items)
            benchmark::DoNotOptimize(item->sizeThatFits(QSizeF(kWidth, ZNFLayoutFill)));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SizeMixedItems)
    ->RangeMultiplier(2)
    ->Range(250, 2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// The same with fresh items every time: nothing has been measured before.
void BM_SizeMixedItemsFirstTime(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const ZNFLayoutItemList items = fixtures().mixedScreen(static_cast<int>(state.range(0)));
        state.ResumeTiming();
        for (const auto& item : items)
            benchmark::DoNotOptimize(item->sizeThatFits(QSizeF(kWidth, ZNFLayoutFill)));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SizeMixedItemsFirstTime)
    ->RangeMultiplier(2)
    ->Range(250, 2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

void BM_SizeNestedTable(benchmark::State& state) {
    const auto table = fixtures().nestedTable(static_cast<int>(state.range(0)), 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(table->sizeThatFits(QSizeF(kWidth, ZNFLayoutFill)));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SizeNestedTable)
    ->RangeMultiplier(4)
    ->Range(16, 1024)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

void BM_ShowNestedTable(benchmark::State& state) {
    const auto table = fixtures().nestedTable(static_cast<int>(state.range(0)), 0);
    auto* provider = dynamic_cast<ZNFLayoutItemViewProvider*>(table.get());
    const QSizeF size = table->sizeThatFits(QSizeF(kWidth, ZNFLayoutFill));
    for (auto _ : state) {
        QWidget* view = provider->instanceForItem(table, nullptr, QRectF(QPointF(0, 0), size), nullptr).view;
        delete view;
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ShowNestedTable)
    ->RangeMultiplier(4)
    ->Range(16, 1024)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

} // namespace

const bool registered = registerBenchProgram([](BenchProgram& program) { program.widgets = true; });
