#include "bench_main.h"

#include <QApplication>
#include <memory>

namespace {
BenchProgram& program() {
    static BenchProgram registered;
    return registered;
}
} // namespace

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
