// Start-up to the first drawn start screen, and a screen change from click to drawn.
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNotecrateWindowController.h"
#include "bench_main.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "platform/ZNFCollectionView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QTest>
#include <benchmark/benchmark.h>

namespace {

// The whole process: exec, Qt start-up, window, styles, first screen drawn, exit.
void BM_ColdStartProcess(benchmark::State& state) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../notecrate");
    for (auto _ : state) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTECRATE_QUIT_AFTER_FIRST_FRAME"), QStringLiteral("1"));
        if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(program, {});
        if (!process.waitForFinished(10000) || process.exitCode() != 0) {
            state.SkipWithError("notecrate did not start and quit");
            return;
        }
    }
}
BENCHMARK(BM_ColdStartProcess)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// In this process: window controller made, shown and its start screen drawn.
void BM_FirstDrawnStartScreen(benchmark::State& state) {
    for (auto _ : state) {
        ZNFNotecrateWindowController window;
        window.showWindow();
        window.window()->grab();
    }
}
BENCHMARK(BM_FirstDrawnStartScreen)->Unit(benchmark::kMillisecond)->UseRealTime();

// A click on the Notes icon until the Notes screen is drawn, then Back.
void BM_ScreenChange(benchmark::State& state) {
    ZNFNotecrateWindowController window;
    window.window()->resize(600, 700);
    window.showWindow();
    auto vc = window.contentViewController();
    window.window()->grab();
    ZNFCollectionView* cv = vc->collectionViewController()->collectionView();
    for (auto _ : state) {
        auto cell = cv->itemAtIndexPath(ZNFIndexPath{0, 3});
        QWidget* view = cell->view();
        const QPoint p(int(view->width() * 0.3), 30);
        QWidget* target = view->childAt(p) ? view->childAt(p) : view;
        const QPoint local = target->mapFrom(view, p);
        QTest::mousePress(target, Qt::LeftButton, {}, local);
        QTest::mouseRelease(target, Qt::LeftButton, {}, local);
        window.window()->grab(); // drawn
        state.PauseTiming();
        vc->popNavigationStack();
        window.window()->grab();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ScreenChange)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

const bool registered = registerBenchProgram([](BenchProgram& program) { program.widgets = true; });
