// The Evernote importer on a generated .enex of 2,000 notes (about 300 MB), each with text, a
// to-do list and a photo-like JPEG of about 110 KB, as base64 wrapped at 76 columns.
//   - The XML side, in this process: the same file with each picture's bytes made no picture
//     (a PDF), so that everything but the picture pipeline runs: the XML, the ENML, base64 and
//     MD5. Aim: at least 100 MB/s of input.
//   - `notecrate convert evernote` on the file with its pictures, as a child: its peak resident
//     memory. Aim: under 400 MB.
// Set EVERNOTE_BENCH_NOTES for another size (the file scales with it).
#include "TestSupport.h"
#include "bench_main.h"
#include "conversion/ZNFEvernoteImporter.h"
#include "conversion/support/enex_file.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kNotes = 2000;
constexpr int kVariants = 8; // distinct photos; each note's is one of them

struct Setup {
    QTemporaryDir dir;
    QString withPictures, withoutPictures;
    qint64 bytes = 0;
    int notes = kNotes;
    double xmlMBps = 0, xmlCPUMBps = 0; // per second of wall time, and of this process's CPU time
    ChildRun child;
};
Setup* g = nullptr;

// Light over the frame and grain: JPEG keeps it about as large as a phone photo scaled down.
QByteArray photo(int seed) {
    QImage image(900, 675, QImage::Format_RGB32);
    QRandomGenerator rng(uint(seed + 1));
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(rng.bounded(24));
            line[x] = qRgb(
                qBound(0, int(90 + 80.0 * x / image.width() + 20 * std::sin(y / 60.0 + seed)) + grain, 255),
                qBound(0, int(110 + 60.0 * y / image.height()) + grain, 255),
                qBound(0, int(140 - 50.0 * (x + y) / 1575) + grain, 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes;
}

// Written note by note: the file is never held whole.
bool writeExport(const QString& path, int notes, const std::vector<QByteArray>& pictures, bool asPictures) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(Enex::header());
    const QByteArray words = "harbour walk tide lighthouse gulls ferry pier rope sand wind salt boat ";
    for (int i = 0; i < notes; ++i) {
        QByteArray bytes = pictures[size_t(i % pictures.size())];
        if (!asPictures)
            bytes.replace(0, 4, "%PDF");
        QByteArray body;
        for (int line = 0; line < 20; ++line)
            body += "<div>" + words.mid((i + line) % 40, 40) + QByteArray::number(i * 7 + line) + "</div>";
        body += "<div><en-todo checked=\"true\"/>pack</div><div><en-todo/>book&nbsp;ferry</div>";
        body += Enex::media(bytes, asPictures ? "image/jpeg" : "application/pdf");
        Enex::Note note = Enex::note("Note " + QByteArray::number(i), body);
        note.tags = {"travel", "coast"};
        note.resources = {Enex::resource(bytes, asPictures ? "image/jpeg" : "application/pdf",
                                         "photo" + QByteArray::number(i) + ".jpg")};
        file.write(note.xml());
    }
    file.write("</en-export>\n");
    return file.error() == QFileDevice::NoError;
}

std::optional<int> prepare(int, char**) {
    static Setup setup;
    g = &setup;
    bool ok = false;
    const int notes = qEnvironmentVariableIntValue("EVERNOTE_BENCH_NOTES", &ok);
    if (ok && notes > 0)
        setup.notes = notes;
    qputenv("HOME", QFile::encodeName(setup.dir.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(setup.dir.path() + QStringLiteral("/cache")));
    std::vector<QByteArray> pictures;
    for (int i = 0; i < kVariants; ++i)
        pictures.push_back(photo(i));
    setup.withPictures = setup.dir.filePath(QStringLiteral("Pictures.enex"));
    setup.withoutPictures = setup.dir.filePath(QStringLiteral("Documents.enex"));
    if (!writeExport(setup.withPictures, setup.notes, pictures, true) ||
        !writeExport(setup.withoutPictures, setup.notes, pictures, false))
        return 1;
    setup.bytes = QFileInfo(setup.withPictures).size();
    std::printf("%d notes, %.0f MB (pictures of %.0f KB)\n", setup.notes, setup.bytes / 1e6,
                pictures.front().size() / 1e3);
    return std::nullopt;
}

void BM_EvernoteXMLSide(benchmark::State& state) {
    const qint64 bytes = QFileInfo(g->withoutPictures).size();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpuStart = std::clock();
        const ZNFConversionOutcome result = ZNFEvernoteImporter::convert({g->withoutPictures});
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        g->xmlCPUMBps = bytes / 1e6 / (double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        if (result.notes != g->notes)
            state.SkipWithError("the XML side lost notes");
        g->xmlMBps = bytes / 1e6 / seconds;
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["MB_per_s"] = g->xmlMBps;
    state.counters["MB_per_cpu_s"] = g->xmlCPUMBps;
}

void BM_NotecrateConvertEvernote(benchmark::State& state) {
    for (auto _ : state)
        g->child = runChild({notecrateProgram(), "convert", "evernote", g->withPictures});
    if (!g->child.ok)
        state.SkipWithError("notecrate convert evernote failed");
    state.counters["peak_MiB"] = g->child.peakMiB;
}

BENCHMARK(BM_EvernoteXMLSide)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_NotecrateConvertEvernote)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void summarize() {
    // On a shared machine the wall time waits for a core; the CPU time does not.
    std::printf("XML side: %.0f MB/s of .enex, %.0f MB per CPU second (aim >= 100)\n", g->xmlMBps,
                g->xmlCPUMBps);
    if (g->child.ok)
        std::printf(
            "convert evernote on %.0f MB, %d notes with pictures: %.1f s, peak %.0f MiB (aim < 400 MB)\n",
            g->bytes / 1e6, g->notes, g->child.seconds, g->child.peakMiB);
    std::printf("(the peak includes up to %.0f MiB this benchmark held when it started the program)\n",
                childSpawnerKiB() / 1024.0);
}

const bool registered = registerBenchProgram([](BenchProgram& program) {
    program.start = prepare;
    program.finish = summarize;
});

} // namespace
