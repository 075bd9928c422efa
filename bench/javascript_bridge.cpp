// Script-driven layout events: 10,000 performAction calls from one script, each setting a
// user default through the "data" handler. Aim: under 20 microseconds per call.
#include "bench_main.h"
#include "layout/ZNFJavascriptLayoutController.h"
#include "layout/ZNFUserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kCalls = 10000;

QString loopScript(QLatin1StringView action) {
    return QStringLiteral("for (var i = 0; i < %1; ++i) performAction(%2);").arg(kCalls).arg(action);
}

void runScript(benchmark::State& state, const QString& script) {
    ZNFJavascriptLayoutController bridge;
    ZNFJavascriptContext* context = bridge.context();
    for (auto _ : state) {
        context->evaluateScript(script);
        if (!context->exception().isUndefined())
            state.SkipWithError("the script failed");
    }
    // Seconds of CPU time per performAction call (printed with an SI prefix: "4u" is 4 us).
    state.counters["per_call"] =
        benchmark::Counter(double(kCalls) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The measured case: every call converts the action, checks its predicate and stores a value.
void BM_PerformActionDataSet(benchmark::State& state) {
    runScript(state, loopScript(R"({_type: "data", action: "set", key: "bench-" + (i % 256), value: i})"_L1));
}
BENCHMARK(BM_PerformActionDataSet)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The bridge alone: an event type without a handler stops right after the conversion.
void BM_PerformActionNoHandler(benchmark::State& state) {
    runScript(state,
              loopScript(R"({_type: "nothing", action: "set", key: "bench-" + (i % 256), value: i})"_L1));
}
BENCHMARK(BM_PerformActionNoHandler)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

// The settings written here must never reach the user's own store.
QTemporaryDir& privateHome() {
    static QTemporaryDir home;
    return home;
}

const bool homeSet = [] {
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        const QString path = privateHome().path() + u'/' + QString::fromLatin1(name).toLower();
        QDir().mkpath(path);
        qputenv(name, QFile::encodeName(path));
    }
    return true;
}();

const bool registered = registerBenchProgram([](BenchProgram& program) {
    program.widgets = true;
    program.start = [](int, char**) -> std::optional<int> {
        if (!ZNFUserDefaults::standardUserDefaults().filePath().startsWith(privateHome().path()))
            return 1;
        return std::nullopt;
    };
});
