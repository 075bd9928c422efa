// Start-up to the first drawn start screen, and a screen change from click to drawn.
#include "TestSupport.h"
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNotecrateWindowController.h"
#include "bench_main.h"
#include "conversion/ZNFBackupArchive.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "platform/ZNFCollectionView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMainWindow>
#include <QProcess>
#include <QTest>
#include <benchmark/benchmark.h>

namespace {

// The whole process: exec, Qt start-up, window, styles, first screen drawn, exit.
void BM_ColdStartProcess(benchmark::State& state) {
    const QString program = notecrateProgram();
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

// An archive of 20,000 notes, one picture for every tenth, as the list reads it.
QString writeListArchive(int notes) {
    ZNFBackupArchiveWriter writer(QStringLiteral("List_bench.notebackup"));
    for (int i = 0; i < notes; ++i) {
        const QString id = QStringLiteral("N%1").arg(i);
        const double ms = 1.5e12 + i * 60000.0;
        writer.addEntry(
            QJsonObject{
                {"kind", "note"}, {"state", 0}, {"identifier", id}, {"date", ms}, {"updatedDate", ms}},
            QStringLiteral("Note %1 about the harbour walk\nSecond line with more text").arg(i));
        if (i % 10 == 0)
            writer.addEntry(QJsonObject{{"kind", "Image"},
                                        {"state", 0},
                                        {"identifier", id + "_p"},
                                        {"parentId", id},
                                        {"binaryAttachmentId", id},
                                        {"date", ms},
                                        {"updatedDate", ms},
                                        {"userInfo", "{\"width\":640,\"height\":480}"}});
    }
    return writer.commit();
}

// A click on "Show the notes" until the list of 20,000 notes is drawn: the archive read, the
// rows made and measured, the visible ones painted.
void BM_NoteListFirstPaint(benchmark::State& state) {
    ScopedHome home;
    const QString archive = writeListArchive(int(state.range(0)));
    ZNFNotecrateWindowController window;
    window.window()->resize(600, 700);
    window.showWindow();
    auto vc = window.contentViewController();
    vc->setCurrentBackupPath(archive);
    for (auto _ : state) {
        state.PauseTiming();
        vc->updateToShowBackup();
        window.window()->grab();
        // A new conversion: the list is read again.
        vc->setCurrentBackupLeftOut(ZNFConversionOutcome());
        state.ResumeTiming();
        vc->showNoteList();
        window.window()->grab();
    }
    state.counters["rows"] = double(vc->currentItems().size());
}
BENCHMARK(BM_NoteListFirstPaint)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One page down the list of 20,000 notes, drawn: the cells that scroll in are reused.
void BM_NoteListScrollPage(benchmark::State& state) {
    ScopedHome home;
    const QString archive = writeListArchive(int(state.range(0)));
    ZNFNotecrateWindowController window;
    window.window()->resize(600, 700);
    window.showWindow();
    auto vc = window.contentViewController();
    vc->setCurrentBackupPath(archive);
    vc->showNoteList();
    window.window()->grab();
    ZNFCollectionView* cv = vc->collectionViewController()->collectionView();
    const double page = cv->frame().height();
    for (auto _ : state) {
        double next = cv->scrollOffset() + page;
        if (next + page > cv->contentHeight())
            next = 0;
        cv->setScrollOffset(next);
        window.window()->grab();
    }
    state.counters["cells"] = cv->numberOfCellsMade();
}
BENCHMARK(BM_NoteListScrollPage)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

const bool registered = registerBenchProgram([](BenchProgram& program) { program.widgets = true; });
