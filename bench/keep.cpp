// `convert keep` on a Takeout zip of 5,000 Keep notes without pictures, read in place (aim:
// under 3 s; pictures add their own encoding time, as for every source). Notes as people keep
// them: a title, a few lines or a checklist, labels, now and then one in the trash.
#include "TestSupport.h"
#include "bench_main.h"
#include "conversion/ZNFKeepNoteImporter.h"
#include "conversion/support/keep_takeout.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int kNotes = 5000;

struct Fixture {
    ScopedHome home;
    QString zip = home.root() + QStringLiteral("/takeout-20240101T000000Z-001.zip");
    int kept = 0; // the notes not in the trash

    Fixture() {
        KeepTakeout::Files files;
        for (int i = 0; i < kNotes; ++i) {
            QByteArray json = R"({"title":"Note )" + QByteArray::number(i) + R"(",)";
            if (i % 3 == 0) {
                json += R"("listContent":[)";
                for (int item = 0; item < 8; ++item)
                    json += (item ? "," : "") + QByteArray(R"({"text":"item )") + QByteArray::number(item) +
                            R"( of the list","isChecked":)" + (item % 2 ? "true" : "false") + "}";
                json += "],";
            } else {
                json += R"("textContent":")" + QByteArray("A line people write in a note, ").repeated(20) +
                        R"(\nand another.",)";
            }
            json += R"("labels":[{"name":"errands"},{"name":"home stuff"}],)";
            json += R"("isTrashed":)" + QByteArray(i % 50 == 0 ? "true" : "false") + ",";
            json += R"("createdTimestampUsec":1700000000000000,"userEditedTimestampUsec":1700000)" +
                    QByteArray::number(100000000 + i) + "}";
            KeepTakeout::addNote(files, QStringLiteral("Takeout/Keep"), QStringLiteral("note %1").arg(i),
                                 json);
            kept += i % 50 != 0;
        }
        KeepTakeout::writeZip(zip, files);
    }
};

std::unique_ptr<Fixture> fixture;

void BM_KeepFromZip(benchmark::State& state) {
    if (!fixture)
        fixture = std::make_unique<Fixture>();
    for (auto _ : state) {
        const ZNFConversionOutcome outcome = ZNFKeepNoteImporter::convert({fixture->zip});
        if (!outcome.succeeded() || outcome.notes != fixture->kept)
            state.SkipWithError("the Takeout zip did not convert");
    }
    state.counters["notes_per_s"] =
        benchmark::Counter(double(fixture->kept), benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_KeepFromZip)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
