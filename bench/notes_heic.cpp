// iPhone photos through the Notes attachment step: 12-megapixel HEIC originals (4032x3024, as
// the camera writes them) decoded with libheif and encoded as PNG on the picture pool. Peak
// memory is the resident high-water mark of each run alone (VmHWM, reset through
// /proc/self/clear_refs): flat in the number of photos, as the pool holds a bounded number of
// pictures at once.
#include "TestSupport.h"
#include "bench_main.h"
#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFPicturePipeline.h"
#include "conversion/support/attachments_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace F = AttachmentsFixture;

namespace {

constexpr int kMaxPhotos = 300;
constexpr int kVariants = 2; // 12-megapixel HEIC encodes are slow: a few files, copied

QString uuidFor(int i) {
    return QStringLiteral("HEIC0000-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0'));
}

QImage photo(int seed) {
    QImage image(4032, 3024, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgb((x / 16 + seed * 40) & 0xff, (y / 12) & 0xff, ((x + y) / 28 + seed * 20) & 0xff);
    }
    QPainter painter(&image);
    painter.setBrush(QColor::fromHsv(seed * 70 % 360, 180, 220));
    painter.drawEllipse(QPoint(2016, 1512), 1000, 800);
    return image;
}

struct Fixture {
    ScopedHome home;
    QJsonArray records;

    Fixture() {
        QElapsedTimer timer;
        timer.start();
        QByteArray heics[kVariants];
        for (int v = 0; v < kVariants; ++v)
            heics[v] = F::heic(photo(v), 6); // held upright by its rotation box, as phones do
        std::vector<AttachmentsStoreRow> rows;
        for (int i = 1; i <= kMaxPhotos; ++i) {
            rows.push_back({i, uuidFor(i), QStringLiteral("public.heic")});
            F::writeMedia(uuidFor(i), QStringLiteral("IMG_%1.HEIC").arg(i), heics[i % kVariants]);
            records.append(QJsonObject{{"id", QStringLiteral("x-coredata://STORE/ICAttachment/p%1").arg(i)},
                                       {"parentId", QStringLiteral("x-coredata://STORE/ICNote/p%1").arg(i)},
                                       {"date", 1.7e12 + i}});
        }
        if (heics[0].isEmpty() || !F::createStore(rows))
            qFatal("could not write the HEIC fixture");
        std::fprintf(stderr, "fixture of %d HEIC photos (%lld bytes each) made in %.1f s\n", kMaxPhotos,
                     static_cast<long long>(heics[0].size()), double(timer.elapsed()) / 1000.0);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_HeicPhotos(benchmark::State& state) {
    Fixture& f = fixture();
    const int count = int(state.range(0));
    const QJsonArray records = QJsonArray::fromVariantList(f.records.toVariantList().mid(0, count));
    ZNFNotesAppImporter importer;
    PeakMemory::reset();
    const long start = PeakMemory::currentKiB();
    for (auto _ : state) {
        ZNFBackupArchiveWriter archive(QStringLiteral("bench.notebackup"));
        const QJsonArray entries = importer.processRawAttachments(records, archive);
        if (entries.size() != count || archive.commit().isEmpty())
            state.SkipWithError("a photo was left out");
    }
    state.counters["photos_per_s"] =
        benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_MiB"] = double(PeakMemory::peakKiB()) / 1024.0;
    state.counters["peakAboveStart_MiB"] = double(PeakMemory::peakKiB() - start) / 1024.0;
}

} // namespace

BENCHMARK(BM_HeicPhotos)
    ->Arg(30)
    ->Arg(100)
    ->Arg(kMaxPhotos)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
