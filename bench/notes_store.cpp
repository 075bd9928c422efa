// A copied Notes folder converted end to end, as `notecrate convert notes --from DIR` does it:
// the store copied, its notes read and decoded (gzip + protocol buffers), their structure
// rendered from their attribute runs (lists, checklists, quotes, links), the archive written.
// Note sizes and scripts as in bench_notes_conversion, so the store path and the script path
// compare. Peak memory is the resident high-water mark of each run alone (VmHWM, reset through
// /proc/self/clear_refs), and how far it rose above the memory in use when the run started, at
// three store sizes: flat in the number of notes, as the notes stream into the archive.
#include "TestSupport.h"
#include "bench_main.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesFolderReader.h"
#include "conversion/support/notes_store_fixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <map>
#include <memory>

namespace {

namespace S = NotesStoreFixture;

struct Fixture {
    ScopedHome home;
    QString folder = home.root() + QStringLiteral("/group.com.apple.notes");
    qint64 textBytes = 0;

    // `structured`: the notes carry attribute runs (lists, links...); else plain text alone.
    Fixture(int notes, bool structured) {
        QRandomGenerator rng(42);
        const QString latin = QStringLiteral("The quick brown fox jumps over the lazy dog. ");
        const QString other = QString::fromUtf8("Быстрая бурая лиса 素早い茶色の狐 ");
        S::Store store;
        for (int i = 0; i < notes; ++i) {
            const int size = 1024 + int(rng.bounded(4 * 1024));
            const QString& unit = (i % 20 == 0) ? other : latin;
            QString text;
            while (text.toUtf8().size() < size)
                text += unit + (rng.bounded(8) == 0 ? QStringLiteral("\n\n\n") : QString());
            textBytes += text.toUtf8().size();
            // Structure as people write it: paragraphs that are checklist items, bullets,
            // numbered items and quotes, some nested, and a link now and then; every note goes
            // through the rendering of its runs.
            std::vector<S::Run> runs;
            const QStringList paragraphs = text.split(u'\n');
            for (qsizetype p = 0; p < paragraphs.size(); ++p) {
                const QString piece =
                    paragraphs[p] + (p + 1 < paragraphs.size() ? QStringLiteral("\n") : QString());
                static constexpr int kStyles[] = {-1, 103, 100, 102, -1, 101, 102, 103};
                S::Run run{
                    .text = piece, .style = kStyles[p % 8], .indent = int(p % 3 == 2), .done = p % 2 == 0};
                run.quote = p % 11 == 10;
                if (p % 5 == 4)
                    run.link = QStringLiteral("https://example.org/%1").arg(p);
                runs.push_back(run);
            }
            store.notes.push_back({i + 1,
                                   structured ? S::noteData(runs) : S::noteData(text),
                                   {{"ZCREATIONDATE3", 7.0e8 + i}, {"ZMODIFICATIONDATE1", 7.0e8 + i + 0.5}}});
        }
        if (!S::write(folder, store))
            qFatal("could not write the store");
    }
};

Fixture& fixture(int notes, bool structured = true) {
    static std::map<std::pair<int, bool>, std::unique_ptr<Fixture>> fixtures;
    auto& f = fixtures[{notes, structured}];
    if (!f)
        f = std::make_unique<Fixture>(notes, structured);
    return *f;
}

void report(benchmark::State& state, const Fixture& f, int notes, long start) {
    state.counters["notes/s"] =
        benchmark::Counter(double(notes), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["textMB/s"] =
        benchmark::Counter(double(f.textBytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["textMB"] = double(f.textBytes) / 1e6;
    state.counters["peak_MiB"] = double(PeakMemory::peakKiB()) / 1024.0;
    state.counters["peakAboveStart_MiB"] = double(PeakMemory::peakKiB() - start) / 1024.0;
}

// Store to archive; the second argument: whether the notes carry structure.
void BM_ConvertNotesFromStore(benchmark::State& state) {
    const int notes = int(state.range(0));
    Fixture& f = fixture(notes, state.range(1) != 0);
    PeakMemory::reset();
    const long start = PeakMemory::currentKiB();
    for (auto _ : state) {
        ZNFNotesAppImporter importer(f.folder);
        QString path;
        qint64 converted = 0;
        importer.processFolder([&](const ZNFConversionOutcome& o) {
            path = o.path;
            converted = o.notes;
        });
        if (path.isEmpty() || converted != notes)
            state.SkipWithError("notes were left out");
    }
    report(state, f, notes, start);
}
BENCHMARK(BM_ConvertNotesFromStore)
    ->Args({2500, 1})
    ->Args({5000, 1})
    ->Args({10000, 1})
    ->Args({10000, 0}) // the same notes without runs: what rendering the structure costs
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The store alone, its notes handed over one at a time: copy, query, decode; what this path
// adds to the script path.
void BM_ReadStore(benchmark::State& state) {
    const int notes = int(state.range(0));
    Fixture& f = fixture(notes);
    PeakMemory::reset();
    const long start = PeakMemory::currentKiB();
    for (auto _ : state) {
        qint64 read = 0;
        const ZNFNotesFolderReading reading = ZNFNotesFolderReader::read(f.folder, [&](QJsonObject, QString) {
            ++read;
            return true;
        });
        if (!reading.failure.isEmpty() || read != notes)
            state.SkipWithError("notes were left out");
    }
    report(state, f, notes, start);
}
BENCHMARK(BM_ReadStore)->Arg(2500)->Arg(10000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
