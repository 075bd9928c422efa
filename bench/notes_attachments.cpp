// The attachment step over 300 Notes attachments (1600x1200 JPEG originals in "Media", PNG
// previews beside them) against a bare read-decode-encode-write loop over the same files with
// Qt's own reader and PNG writer, in the same run; the summary prints the ratio of the two
// times (aim: at most 1/3). Peak memory is the resident high-water mark of each benchmark
// alone (VmHWM, reset through /proc/self/clear_refs before each one): flat from 100 to 300.
#include "TestSupport.h"
#include "bench_main.h"
#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFPicturePipeline.h"
#include "platform/ZNFImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <sqlite3.h>
#include <sys/resource.h>

namespace {

constexpr int kMaxAttachments = 300;
constexpr int kVariants = 8; // distinct pictures, so the encoder never sees one image only

QString container() {
    return QDir::homePath() + "/Library/Group Containers/group.com.apple.notes";
}
QString uuidFor(int i) {
    return QStringLiteral("6D1C2F3A-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0'));
}

// Smooth gradients and a shape: after JPEG's own artefacts this compresses like a simple photo,
// and keeps a run of 1,000 encodes short enough for a shared machine.
QImage photo(int seed, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = (x ^ y) & 1;
            line[x] = qRgb((x * 255 / width + seed * 30 + grain) & 0xff, (y * 255 / height + grain) & 0xff,
                           ((x + y) * 127 / (width + height) + seed * 17 + grain) & 0xff);
        }
    }
    QPainter painter(&image);
    painter.setBrush(QColor::fromHsv(seed * 40 % 360, 180, 220));
    painter.drawEllipse(QPoint(width / 2, height / 2), width / 4, height / 4);
    return image;
}

// One fixture for the whole run: the store, 1,000 originals and 1,000 previews.
struct Fixture {
    ScopedHome home;
    QStringList originals;
    QJsonArray records;

    Fixture() {
        QElapsedTimer timer;
        timer.start();
        QDir().mkpath(container() + "/Previews");
        QByteArray jpegs[kVariants], previews[kVariants];
        for (int v = 0; v < kVariants; ++v) {
            const QImage image = photo(v, 1600, 1200);
            jpegs[v] = ZNFImage::encodeJPEG(image, 85);
            previews[v] = ZNFImage::encodePNG(image.scaled(320, 240));
        }
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(container() + "/NoteStore.sqlite").constData(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, ZTYPEUTI VARCHAR, "
                     "ZIDENTIFIER VARCHAR, ZTITLE VARCHAR); BEGIN",
                     nullptr, nullptr, nullptr);
        for (int i = 1; i <= kMaxAttachments * 3; ++i) {
            // Every third row is an image attachment; the others are notes and folders.
            const bool image = i % 3 == 0;
            const QByteArray sql =
                QStringLiteral("INSERT INTO ZICCLOUDSYNCINGOBJECT VALUES (%1, %2, '%3', 'x')")
                    .arg(i)
                    .arg(image ? QStringLiteral("'public.jpeg'") : QStringLiteral("NULL"))
                    .arg(uuidFor(i))
                    .toUtf8();
            sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
            if (!image)
                continue;
            const int n = i / 3 - 1;
            const QString original =
                container() + "/Media/" + uuidFor(i) + "/IMG_" + QString::number(n) + ".jpeg";
            writeFile(original, jpegs[n % kVariants]);
            writeFile(container() + "/Previews/" + uuidFor(i) + "-1-320x240-0.png", previews[n % kVariants]);
            originals << original;
            records.append(QJsonObject{{"id", QStringLiteral("x-coredata://STORE/ICAttachment/p%1").arg(i)},
                                       {"parentId", QStringLiteral("x-coredata://STORE/ICNote/p%1").arg(n)},
                                       {"date", 1.7e12 + n}});
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        std::fprintf(stderr, "fixture of %d attachments made in %.1f s\n", int(originals.size()),
                     double(timer.elapsed()) / 1000.0);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// CPU seconds of the whole process, all threads.
double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Rates are per wall-clock second; on a busy machine the CPU milliseconds per image (all threads)
// are the steadier figure to compare.
void report(benchmark::State& state, int images, long peak, double cpuSeconds) {
    const double total = double(images) * double(state.iterations());
    state.counters["images_per_s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
    state.counters["cpu_ms_per_image"] = cpuSeconds * 1000.0 / total;
    state.counters["peak_MiB"] = double(peak) / 1024.0;
}

double gLoopSeconds = 0, gStepSeconds = 0;

// What a plain Qt program does: read each original, decode it, encode PNG, write it.
void BM_PlainDecodeEncodeLoop(benchmark::State& state) {
    Fixture& f = fixture();
    const int count = int(state.range(0));
    PeakMemory::reset();
    const double cpu = processCpuSeconds();
    for (auto _ : state) {
        const QString out = f.home.root() + "/plain";
        QDir().mkpath(out);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < count; ++i) {
            const QImage image = QImageReader(f.originals[i]).read();
            QImageWriter(out + "/" + QString::number(i), "png").write(image);
        }
        gLoopSeconds = double(timer.nsecsElapsed()) / 1e9;
        state.PauseTiming();
        QDir(out).removeRecursively();
        state.ResumeTiming();
    }
    report(state, count, PeakMemory::peakKiB(), processCpuSeconds() - cpu);
}

// The attachment step itself: store copy and query, lookups, decode, encode, write, entries.
void BM_ProcessRawAttachments(benchmark::State& state) {
    Fixture& f = fixture();
    const int count = int(state.range(0));
    const QJsonArray records = QJsonArray::fromVariantList(f.records.toVariantList().mid(0, count));
    ZNFNotesAppImporter importer;
    importer.setAttachmentThreadCount(int(state.range(1)));
    PeakMemory::reset();
    const double cpu = processCpuSeconds();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        ZNFBackupArchiveWriter archive(QStringLiteral("bench.notebackup"));
        const QJsonArray entries = importer.processRawAttachments(records, archive);
        if (entries.size() != count || archive.commit().isEmpty())
            state.SkipWithError("an attachment was left out");
        if (count == kMaxAttachments && state.range(1) == ZNFPicturePipeline::defaultThreadCount())
            gStepSeconds = double(timer.nsecsElapsed()) / 1e9;
    }
    report(state, count, PeakMemory::peakKiB(), processCpuSeconds() - cpu);
}

} // namespace

// The plain loop is serial; the attachment step once on one thread and on the default pool.
BENCHMARK(BM_PlainDecodeEncodeLoop)
    ->Arg(kMaxAttachments)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_ProcessRawAttachments)
    ->Args({100, ZNFPicturePipeline::defaultThreadCount()})
    ->Args({kMaxAttachments, 1})
    ->Args({kMaxAttachments, ZNFPicturePipeline::defaultThreadCount()})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

const bool registered = registerBenchProgram([](BenchProgram& program) {
    program.finish = [] {
        if (gLoopSeconds > 0 && gStepSeconds > 0)
            std::printf(
                "attachment step %.1f s, bare Qt decode-and-encode loop %.1f s: ratio %.2f (aim <= 0.33)\n",
                gStepSeconds, gLoopSeconds, gStepSeconds / gLoopSeconds);
    };
});
