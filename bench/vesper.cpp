// A Vesper export of 10,000 notes and 1,000 pictures (640x480 JPEG), converted whole, next to
// the parts no conversion can avoid: decoding and PNG-encoding the pictures, and zipping the
// staged folder with `zip -r -q -6`. The summary line compares the two and gives the peak
// memory of `notecrate convert vesper` on the same export.

#include "conversion/ZNFVesperNoteImporter.h"
#include "conversion/support/vesper_export.h"
#include "platform/ZNFImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kNotes = 10000;
constexpr int kPictureEvery = 10; // 1,000 pictures

struct Setup {
    QTemporaryDir dir;
    QString exportFolder;
    QStringList pictures;
    QString staged; // the archive unpacked: what the conversion zips
    double conversionSeconds = 0, pictureSeconds = 0, zipSeconds = 0;
};
Setup* g = nullptr;

void makeExport() {
    g->exportFolder = g->dir.path() + QStringLiteral("/Vesper Export");
    const QByteArray words = "harbour list kettle garden review paint window letter orange coffee train";
    for (int i = 0; i < kNotes; ++i) {
        const QString name = QStringLiteral("Note %1.txt").arg(i, 5, 10, QLatin1Char('0'));
        QByteArray text = "Note " + QByteArray::number(i) + "\n";
        for (int line = 0; line < 1 + i % 6; ++line)
            text += words.mid((i + line) % 40, 30) + " " + QByteArray::number(i * 7 + line) + "\n";
        QByteArray picture;
        if (i % kPictureEvery == 0) {
            picture = "IMG_" + QByteArray::number(i) + ".jpg";
            g->pictures << VesperExport::writePicture(g->exportFolder, QString::fromLatin1(picture),
                                                      VesperExport::picture(640, 480, i), "JPEG");
        }
        const QByteArray created = "Mar " + QByteArray::number(1 + i % 28) + ", 2016, " +
                                   QByteArray::number(1 + i % 12) + ":" + QByteArray::number(10 + i % 50) +
                                   (i % 2 ? " PM" : " AM");
        VesperExport::writeNote(
            g->exportFolder, name,
            VesperExport::noteText(text, i % 3 ? "Work, Home Stuff" : "", created, picture));
    }
}

void BM_VesperConversion(benchmark::State& state) {
    qint64 notes = 0, pictures = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const ZNFVesperConversion result = ZNFVesperNoteImporter::convert(g->exportFolder);
        g->conversionSeconds = timer.nsecsElapsed() / 1e9;
        notes += result.notes;
        pictures += result.attachments;
        if (result.notes != kNotes || result.attachments != kNotes / kPictureEvery)
            state.SkipWithError("the conversion did not convert everything");
    }
    state.counters["notes/s"] = benchmark::Counter(double(notes), benchmark::Counter::kIsRate);
    state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}

void BM_DecodeAndEncodePictures(benchmark::State& state) {
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        qint64 bytes = 0;
        for (const QString& file : g->pictures)
            bytes += ZNFImage::encodePNG(ZNFImage::decodeFile(file)).size();
        g->pictureSeconds = timer.nsecsElapsed() / 1e9;
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(g->pictures.size()) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_ZipStagedFolder(benchmark::State& state) {
    const QString out = g->dir.path() + QStringLiteral("/zip-baseline.zip");
    for (auto _ : state) {
        QFile::remove(out);
        QProcess zip;
        zip.setWorkingDirectory(g->staged);
        QElapsedTimer timer;
        timer.start();
        zip.start(QStringLiteral("zip"), {"-r", "-q", "-6", out, "."});
        if (!zip.waitForFinished(-1) || zip.exitCode() != 0)
            state.SkipWithError("zip failed");
        g->zipSeconds = timer.nsecsElapsed() / 1e9;
    }
}

// Peak resident memory of the command-line conversion, in MiB; negative when it cannot run.
double commandPeakMemory(const QString& program) {
    const QByteArray exe = QFile::encodeName(program);
    const QByteArray folder = QFile::encodeName(g->exportFolder);
    char* argv[] = {const_cast<char*>(exe.constData()), const_cast<char*>("convert"),
                    const_cast<char*>("vesper"), const_cast<char*>(folder.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, exe.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss / 1024.0;
}

} // namespace

BENCHMARK(BM_VesperConversion)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_DecodeAndEncodePictures)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ZipStagedFolder)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Setup setup;
    g = &setup;
    // Archives and staging stay inside the temporary folder.
    qputenv("HOME", QFile::encodeName(setup.dir.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(setup.dir.path() + QStringLiteral("/cache")));
    QDir().mkpath(setup.dir.path() + QStringLiteral("/cache"));

    std::fprintf(stderr, "Writing an export of %d notes and %d pictures...\n", kNotes,
                 kNotes / kPictureEvery);
    makeExport();
    // One conversion up front warms the file cache for everyone and gives the staged folder.
    const ZNFVesperConversion first = ZNFVesperNoteImporter::convert(setup.exportFolder);
    setup.staged = setup.dir.path() + QStringLiteral("/staged");
    QDir().mkpath(setup.staged);
    if (first.path.isEmpty() ||
        QProcess::execute(QStringLiteral("unzip"), {"-q", first.path, "-d", setup.staged}) != 0) {
        std::fprintf(stderr, "could not prepare the staged folder\n");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double parts = setup.pictureSeconds + setup.zipSeconds;
    if (setup.conversionSeconds > 0 && parts > 0)
        std::printf("conversion %.2f s, unavoidable parts %.2f s (pictures %.2f s + zip %.2f s): %.2fx (aim "
                    "<= 1.3x)\n",
                    setup.conversionSeconds, parts, setup.pictureSeconds, setup.zipSeconds,
                    setup.conversionSeconds / parts);
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../notecrate");
    const double peak = commandPeakMemory(program);
    if (peak > 0)
        std::printf("peak memory of notecrate convert vesper: %.1f MiB\n", peak);
    else
        std::printf("peak memory: could not run %s\n", qPrintable(program));
    return 0;
}
