// End-to-end conversion of a large notes export, and the zip step beside `zip -r -q -6`.
// Peak memory is the resident high-water mark of each run alone and how far it rose above the
// memory in use at its start: flat in the number of notes (2,500 to 10,000), and for one
// 50 MB note within three times the note plus a constant.
#include "TestSupport.h"
#include "bench_main.h"
#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesExtractor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <benchmark/benchmark.h>

namespace {

constexpr int kNotes = 10000;
constexpr int kBigNoteBytes = 50 * 1000 * 1000;

QByteArray makeExport(qint64& textBytes, int count = kNotes) {
    QRandomGenerator rng(42);
    const QString latin = QStringLiteral("The quick brown fox jumps over the lazy dog. ");
    const QString other = QString::fromUtf8("Быстрая бурая лиса 素早い茶色の狐 ");
    QJsonArray notes;
    textBytes = 0;
    for (int i = 0; i < count; ++i) {
        const int size = 1024 + int(rng.bounded(4 * 1024));
        const QString& unit = (i % 20 == 0) ? other : latin;
        QString text;
        while (text.toUtf8().size() < size)
            text += unit + (rng.bounded(8) == 0 ? QStringLiteral("\n\n\n") : QString());
        textBytes += text.toUtf8().size();
        notes.append(QJsonObject{{"id", QStringLiteral("x-coredata://store/ICNote/p%1").arg(i)},
                                 {"text", text},
                                 {"creationDate", 1.7e12 + i},
                                 {"modificationDate", 1.7e12 + i + 0.5}});
    }
    return QJsonDocument(notes).toJson(QJsonDocument::Compact);
}

// One export as the script leaves it, converted the way the app does: taken off the Desktop
// and streamed into the archive.
void convertExport(benchmark::State& state, const QByteArray& exported, qint64 notes, qint64 textBytes) {
    ZNFNotesAppImporter importer;
    long start = 0;
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(ZNFNotesExtractor::exportFilePath(), exported);
        PeakMemory::reset();
        start = PeakMemory::currentKiB();
        state.ResumeTiming();
        QString error;
        const ZNFNotesExport file = ZNFNotesExtractor::takeExport(error);
        QString path;
        qint64 converted = 0;
        importer.processRecords(
            [&](const ZNFNoteRecordTake& take, QString* failure) {
                return file && ZNFNotesExtractor::readRecords(*file, take, failure);
            },
            [&](const ZNFConversionOutcome& o) {
                path = o.path;
                converted = o.notes;
            });
        if (path.isEmpty() || converted != notes)
            state.SkipWithError("no archive");
    }
    state.counters["notes/s"] =
        benchmark::Counter(double(notes), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["textMB/s"] =
        benchmark::Counter(textBytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["textMB"] = textBytes / 1e6;
    state.counters["peak_MiB"] = PeakMemory::peakKiB() / 1024.0;
    state.counters["peakAboveStart_MiB"] = (PeakMemory::peakKiB() - start) / 1024.0;
}

void BM_ConvertNotesExport(benchmark::State& state) {
    ScopedHome home;
    qint64 textBytes = 0;
    const int notes = int(state.range(0));
    const QByteArray exported = makeExport(textBytes, notes);
    convertExport(state, exported, notes, textBytes);
}
BENCHMARK(BM_ConvertNotesExport)
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// One note of 50 MB (UTF-8, one line in twenty not ASCII) beside a small one.
void BM_ConvertOneBigNote(benchmark::State& state) {
    ScopedHome home;
    const QByteArray line = "The quick brown fox jumps over the lazy dog, again and again.\n";
    const QByteArray other = QString::fromUtf8("Быстрая бурая лиса 素早い茶色の狐\n").toUtf8();
    QByteArray text;
    text.reserve(kBigNoteBytes + 100);
    for (int i = 0; text.size() < kBigNoteBytes; ++i)
        text += i % 20 == 0 ? other : line;
    const qint64 textBytes = text.size();
    QByteArray exported = "[{\"id\":\"x-coredata://store/ICNote/p1\",\"text\":\"";
    exported += QByteArray(text).replace("\n", "\\n");
    text = QByteArray();
    exported += "\",\"creationDate\":1.7e12},{\"id\":\"p2\",\"text\":\"small\"}]";
    convertExport(state, exported, 2, textBytes);
}
BENCHMARK(BM_ConvertOneBigNote)->Unit(benchmark::kMillisecond)->Iterations(2);

// The index written into an archive, and the same "entries.json" zipped by Info-ZIP's zip at
// level 6.
void BM_ZipStep(benchmark::State& state) {
    ScopedHome home;
    qint64 textBytes = 0;
    const QByteArray exported = makeExport(textBytes);
    QJsonArray entries;
    for (const QJsonValue& v : QJsonDocument::fromJson(exported).array()) {
        QJsonObject o = v.toObject();
        entries.append(QJsonObject{{"kind", "note"}, {"state", 0}, {"body", o.value("text")}});
    }
    const QString staging = home.root() + "/staging";
    writeFile(staging + "/entries.json",
              QJsonDocument(QJsonObject{{"entries", entries}}).toJson(QJsonDocument::Compact));
    const QString archive = home.caches() + "/bench.notebackup";
    const bool useZip = state.range(0) == 1;
    if (useZip && QStandardPaths::findExecutable("zip").isEmpty()) {
        state.SkipWithError("zip is not installed");
        return;
    }
    for (auto _ : state) {
        if (useZip) {
            QFile::remove(archive);
            QProcess zip;
            zip.setWorkingDirectory(staging);
            zip.start("zip", {"-r", "-q", "-6", archive, "."});
            zip.waitForFinished(-1);
        } else {
            ZNFBackupArchiveWriter writer(QStringLiteral("bench.notebackup"));
            for (const QJsonValue& entry : entries)
                writer.addEntry(entry.toObject());
            writer.commit();
        }
    }
    state.SetLabel(useZip ? "zip -r -q -6" : "notecrate");
    state.counters["MB/s"] = benchmark::Counter(QFileInfo(staging + "/entries.json").size() / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ZipStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

const bool registered = registerBenchProgram([](BenchProgram& program) { program.widgets = true; });
