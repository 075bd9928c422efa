#include "bench_main.h"

#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {
BenchProgram& program() {
    static BenchProgram registered;
    return registered;
}
long spawnerKiB = 0;
} // namespace

ChildRun runChild(const QStringList& arguments) {
    PeakMemory::reset();
    spawnerKiB = std::max(spawnerKiB, PeakMemory::currentKiB());
    QList<QByteArray> bytes;
    for (const QString& a : arguments)
        bytes << QFile::encodeName(a);
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    ChildRun result;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return result;
    int status = 0;
    struct rusage usage {};
    result.ok = wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    result.peakMiB = double(usage.ru_maxrss) / 1024.0;
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}

long childSpawnerKiB() {
    return spawnerKiB;
}

QString notecrateProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../notecrate");
}

bool registerBenchProgram(const std::function<void(BenchProgram&)>& configure) {
    configure(program());
    return true;
}

int main(int argc, char** argv) {
    qputenv("AVAHI_COMPAT_NOWARN", "1");
    const BenchProgram& bench = program();
    std::unique_ptr<QCoreApplication> app;
    if (bench.widgets) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    if (bench.start)
        if (const std::optional<int> status = bench.start(argc, argv))
            return *status;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (bench.reporter)
        benchmark::RunSpecifiedBenchmarks(bench.reporter);
    else
        benchmark::RunSpecifiedBenchmarks();
    if (bench.finish)
        bench.finish();
    benchmark::Shutdown();
    return 0;
}
