// End-to-end conversion of a large notes export, and the zip step beside `zip -r -q -6`.
#include "TestSupport.h"
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
#include <sys/resource.h>

namespace {

constexpr int kNotes = 10000;

QByteArray makeExport(qint64& textBytes) {
    QRandomGenerator rng(42);
    const QString latin = QStringLiteral("The quick brown fox jumps over the lazy dog. ");
    const QString other = QString::fromUtf8("Быстрая бурая лиса 素早い茶色の狐 ");
    QJsonArray notes;
    textBytes = 0;
    for (int i = 0; i < kNotes; ++i) {
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

long peakRSSKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_ConvertNotesExport(benchmark::State& state) {
    ScopedHome home;
    qint64 textBytes = 0;
    const QByteArray exported = makeExport(textBytes);
    ZNFNotesAppImporter importer;
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(ZNFNotesExtractor::exportFilePath(), exported);
        state.ResumeTiming();
        std::optional<QJsonValue> notes;
        QString error;
        ZNFNotesExtractor::readExport(notes, error);
        QString path;
        importer.processNotes(notes, [&](const QString& p, qint64, qint64) { path = p; });
        if (path.isEmpty())
            state.SkipWithError("no archive");
    }
    state.counters["notes/s"] =
        benchmark::Counter(double(kNotes), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["textMB/s"] =
        benchmark::Counter(textBytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peakRSS_MiB"] = peakRSSKiB() / 1024.0;
}
BENCHMARK(BM_ConvertNotesExport)->Unit(benchmark::kMillisecond)->Iterations(3);

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

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
