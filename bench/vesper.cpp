// `notecrate convert vesper` on an export of 3,000 notes and 300 camera-sized pictures
// (4032x3024 JPEG with photographic content), run in one go beside bench/vesper_pillow.py, a
// plain Python + Pillow script doing the same conversion. Prints the ratio of the two times
// (aim: at most 1/3), the PNG bytes of each, the peak memory of the command with 300
// pictures and with 30 (aim: flat in the number of pictures), and its peak memory on one note
// of 50 MB (aim: under three times the note plus a constant).
//
// Beside them, text alone: an export of kTextNotes notes without pictures converted in this
// process, in MB of note files a second (aim: at least 50).
//
// The full run takes minutes and wants a quiet machine: `build/bench/bench_vesper`. For a quick
// check at a tenth of the size (300 notes, 30 pictures), set VESPER_BENCH_NOTES=300; the
// ratio printed is then that of the smaller export.
#include "TestSupport.h"
#include "bench_main.h"
#include "conversion/ZNFPicturePipeline.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "conversion/support/vesper_export.h"
#include "platform/ZNFImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <unzip.h>

namespace {

constexpr int kNotes = 3000;      // unless VESPER_BENCH_NOTES says otherwise
constexpr int kPictureEvery = 10; // 300 pictures
constexpr int kSmallPart = 10;    // the same export cut to a tenth, for the memory check
constexpr int kBigNoteBytes = 50 * 1000 * 1000;
constexpr int kVariants = 6; // distinct photos; each picture file is one of them
constexpr int kWidth = 4032, kHeight = 3024;
constexpr int kTextNotes = 10000; // of about 5 KB each

struct Setup {
    QTemporaryDir dir;
    QString exportFolder, smallExport, bigNoteExport, textExport;
    qint64 textBytes = 0; // of the text-only export's note files
    int notes = kNotes;
    ChildRun notecrate, pillow, notecrateSmall, notecrateBigNote;
};
Setup* g = nullptr;

// Smooth light over the frame, a few soft-edged shapes and sensor grain: after JPEG this
// compresses in PNG about as a phone photo does (a flat colour would make sizes meaningless).
QImage photo(int seed) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    QRandomGenerator rng(uint(seed + 1));
    struct Blob {
        double x, y, r;
        int red, green, blue;
    } blobs[6];
    for (Blob& b : blobs)
        b = {rng.bounded(double(kWidth)), rng.bounded(double(kHeight)), 300 + rng.bounded(900.0),
             int(rng.bounded(256)),       int(rng.bounded(256)),        int(rng.bounded(256))};
    for (int y = 0; y < kHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            double r = 90 + 80.0 * x / kWidth + 20 * std::sin(y / 170.0 + seed);
            double gr = 110 + 60.0 * y / kHeight + 15 * std::cos(x / 230.0);
            double b = 140 - 50.0 * (x + y) / (kWidth + kHeight);
            for (const Blob& blob : blobs) {
                const double d = std::hypot(x - blob.x, y - blob.y) / blob.r;
                if (d < 1.2) {
                    const double w = d < 0.8 ? 1.0 : (1.2 - d) / 0.4;
                    r += w * (blob.red - r) * 0.7, gr += w * (blob.green - gr) * 0.7,
                        b += w * (blob.blue - b) * 0.7;
                }
            }
            const int grain = int(rng.bounded(9)) - 4;
            line[x] = qRgb(qBound(0, int(r) + grain, 255), qBound(0, int(gr) + grain, 255),
                           qBound(0, int(b) + grain, 255));
        }
    }
    return image;
}

void makeExport(const QString& folder, int notes, const QList<QByteArray>& jpegs) {
    const QByteArray words = "harbour list kettle garden review paint window letter orange coffee train";
    for (int i = 0; i < notes; ++i) {
        const QString name = QStringLiteral("Note %1.txt").arg(i, 5, 10, QLatin1Char('0'));
        QByteArray text = "Note " + QByteArray::number(i) + "\n";
        for (int line = 0; line < 1 + i % 6; ++line)
            text += words.mid((i + line) % 40, 30) + " " + QByteArray::number(i * 7 + line) + "\n";
        QByteArray picture;
        if (i % kPictureEvery == 0) {
            picture = "IMG_" + QByteArray::number(i) + ".jpg";
            VesperExport::writeBytes(VesperExport::pictures(folder) + u'/' + QString::fromLatin1(picture),
                                     jpegs[(i / kPictureEvery) % jpegs.size()]);
        }
        const QByteArray created = "Mar " + QByteArray::number(1 + i % 28) + ", 2016, " +
                                   QByteArray::number(1 + i % 12) + ":" + QByteArray::number(10 + i % 50) +
                                   (i % 2 ? " PM" : " AM");
        VesperExport::writeNote(
            folder, name, VesperExport::noteText(text, i % 3 ? "Work, Home Stuff" : "", created, picture));
    }
}

// Bytes of the pictures in an archive, from the zip's directory.
qint64 pictureBytes(const QString& archive) {
    qint64 total = 0;
    unzFile zf = unzOpen64(QFile::encodeName(archive).constData());
    if (!zf)
        return 0;
    for (int rc = unzGoToFirstFile(zf); rc == UNZ_OK; rc = unzGoToNextFile(zf)) {
        unz_file_info64 info;
        char name[512];
        if (unzGetCurrentFileInfo64(zf, &info, name, sizeof name, nullptr, 0, nullptr, 0) == UNZ_OK &&
            QByteArray(name).startsWith("resources/"))
            total += qint64(info.uncompressed_size);
    }
    unzClose(zf);
    return total;
}

void BM_NotecrateConvertVesper(benchmark::State& state) {
    for (auto _ : state)
        g->notecrate = runChild({notecrateProgram(), "convert", "vesper", g->exportFolder});
    if (!g->notecrate.ok)
        state.SkipWithError("notecrate convert vesper failed");
    state.counters["peak_MiB"] = g->notecrate.peakMiB;
}

void BM_PillowScript(benchmark::State& state) {
    const QString script = QStringLiteral(NOTECRATE_SOURCE_DIR "/bench/vesper_pillow.py");
    for (auto _ : state)
        g->pillow = runChild({"/usr/bin/python3", script, g->exportFolder, g->dir.path() + "/pillow.zip"});
    if (!g->pillow.ok)
        state.SkipWithError("the Pillow script failed (python3-pil installed?)");
    state.counters["peak_MiB"] = g->pillow.peakMiB;
}

void BM_NotecrateTenthOfThePictures(benchmark::State& state) {
    for (auto _ : state)
        g->notecrateSmall = runChild({notecrateProgram(), "convert", "vesper", g->smallExport});
    state.counters["peak_MiB"] = g->notecrateSmall.peakMiB;
}

void BM_NotecrateOneBigNote(benchmark::State& state) {
    for (auto _ : state)
        g->notecrateBigNote = runChild({notecrateProgram(), "convert", "vesper", g->bigNoteExport});
    if (!g->notecrateBigNote.ok)
        state.SkipWithError("notecrate convert vesper failed");
    state.counters["peak_MiB"] = g->notecrateBigNote.peakMiB;
}

void BM_TextOnly(benchmark::State& state) {
    for (auto _ : state) {
        const ZNFConversionOutcome outcome = ZNFVesperNoteImporter::convert(g->textExport);
        if (!outcome.succeeded() || outcome.notes != kTextNotes)
            state.SkipWithError("the text-only export did not convert");
    }
    state.counters["MB_per_s"] =
        benchmark::Counter(double(g->textBytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_TextOnly)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NotecrateConvertVesper)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_PillowScript)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_NotecrateTenthOfThePictures)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_NotecrateOneBigNote)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

std::optional<int> prepare(int, char**) {
    static Setup setup;
    g = &setup;
    // Archives stay inside the temporary folder.
    qputenv("HOME", QFile::encodeName(setup.dir.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(setup.dir.path() + QStringLiteral("/cache")));
    QDir().mkpath(setup.dir.path() + QStringLiteral("/cache"));

    if (const int notes = qEnvironmentVariableIntValue("VESPER_BENCH_NOTES"); notes > 0)
        setup.notes = notes;
    std::fprintf(stderr, "Writing an export of %d notes and %d pictures of %dx%d...\n", setup.notes,
                 setup.notes / kPictureEvery, kWidth, kHeight);
    QList<QByteArray> jpegs;
    for (int v = 0; v < kVariants; ++v)
        jpegs << ZNFImage::encodeJPEG(photo(v), 90);
    setup.exportFolder = setup.dir.path() + QStringLiteral("/Vesper Export");
    setup.smallExport = setup.dir.path() + QStringLiteral("/Small Vesper Export");
    makeExport(setup.exportFolder, setup.notes, jpegs);
    makeExport(setup.smallExport, setup.notes / kSmallPart, jpegs);
    setup.textExport = setup.dir.path() + QStringLiteral("/Text Vesper Export");
    {
        const QByteArray line = "harbour list kettle garden review paint window letter orange coffee\n";
        for (int i = 0; i < kTextNotes; ++i) {
            QByteArray text = "Note " + QByteArray::number(i) + "\n";
            while (text.size() < 5000)
                text += line;
            const QByteArray date = "Mar " + QByteArray::number(1 + i % 28) + ", 2016, " +
                                    QByteArray::number(1 + i % 12) + ":" + QByteArray::number(10 + i % 50) +
                                    (i % 2 ? " PM" : " AM");
            const QByteArray note = VesperExport::noteText(text, i % 3 ? "Work, Home Stuff" : "", date, {});
            setup.textBytes += note.size();
            VesperExport::writeNote(setup.textExport,
                                    QStringLiteral("Note %1.txt").arg(i, 5, 10, QLatin1Char('0')), note);
        }
    }
    setup.bigNoteExport = setup.dir.path() + QStringLiteral("/Big Note Vesper Export");
    {
        const QByteArray line = "The quick brown fox jumps over the lazy dog, again and again.\n";
        QByteArray text;
        text.reserve(kBigNoteBytes + line.size());
        while (text.size() < kBigNoteBytes)
            text += line;
        VesperExport::writeNote(setup.bigNoteExport, QStringLiteral("Big.txt"),
                                VesperExport::noteText(text, "", "Mar 14, 2016, 6:12 PM", {}));
    }
    return std::nullopt;
}

void summarize() {
    if (g->notecrate.ok && g->pillow.ok)
        std::printf("convert vesper %.1f s, Python + Pillow %.1f s: ratio %.2f (aim <= 0.33)\n",
                    g->notecrate.seconds, g->pillow.seconds, g->notecrate.seconds / g->pillow.seconds);
    // Wall time depends on the cores free at the time; the work done does not.
    if (g->notecrate.ok && g->pillow.ok)
        std::printf("CPU time: convert vesper %.1f s on %d threads, Python + Pillow %.1f s: ratio %.2f\n",
                    g->notecrate.cpuSeconds, ZNFPicturePipeline::defaultThreadCount(), g->pillow.cpuSeconds,
                    g->notecrate.cpuSeconds / g->pillow.cpuSeconds);
    const qint64 ours = pictureBytes(g->dir.path() + QStringLiteral("/cache/Vesper_to_Tessanote.notebackup"));
    const qint64 pillow = pictureBytes(g->dir.path() + QStringLiteral("/pillow.zip"));
    if (ours > 0 && pillow > 0)
        std::printf("PNG bytes: ours %.1f MB, Pillow level 6 %.1f MB: %+.1f%% (aim within 15%%)\n",
                    ours / 1e6, pillow / 1e6, 100.0 * (double(ours) / double(pillow) - 1));
    if (g->notecrate.ok && g->notecrateSmall.ok)
        std::printf("peak memory of convert vesper: %.0f MiB with %d pictures, %.0f MiB with %d\n",
                    g->notecrate.peakMiB, g->notes / kPictureEvery, g->notecrateSmall.peakMiB,
                    g->notes / kPictureEvery / kSmallPart);
    std::printf("(each peak includes up to %.0f MiB this benchmark held when it started the program)\n",
                childSpawnerKiB() / 1024.0);
    if (g->notecrateBigNote.ok)
        std::printf("peak memory of convert vesper on one note of %d MB: %.0f MiB (aim < 3 x the note + a "
                    "constant)\n",
                    kBigNoteBytes / 1000000, g->notecrateBigNote.peakMiB);
}

const bool registered = registerBenchProgram([](BenchProgram& program) {
    program.start = prepare;
    program.finish = summarize;
});
