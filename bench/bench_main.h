#pragma once

#include <QString>
#include <QStringList>
#include <benchmark/benchmark.h>
#include <functional>
#include <optional>

// What a benchmark program adds around the one main() all of them share (bench_main.cpp).
// Register it at namespace scope:
//   const bool registered = registerBenchProgram([](BenchProgram& program) { program.widgets = true; });
// A program that registers nothing runs its benchmarks inside a QCoreApplication.
struct BenchProgram {
    // A QApplication, on the offscreen platform unless QT_QPA_PLATFORM names one.
    bool widgets = false;
    // Called once the application exists, before the benchmarks: fixtures, or a mode of its
    // own (a child process); a value ends the program with that status.
    std::function<std::optional<int>(int argc, char** argv)> start;
    // The reporter to run with; the default one when empty.
    benchmark::BenchmarkReporter* reporter = nullptr;
    // Called after the benchmarks: the summary lines that compare runs.
    std::function<void()> finish;
};

bool registerBenchProgram(const std::function<void(BenchProgram&)>& configure);

// A program a benchmark runs to its end, stdout dropped: its wall time, CPU time (user and
// system, all threads) and peak resident memory.
struct ChildRun {
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    bool ok = false; // started, and exited with status 0
};
ChildRun runChild(const QStringList& arguments);
// Linux starts a spawned child's high-water mark at its parent's, so runChild() first brings
// that down to what this process holds; every child's peak includes up to this much.
long childSpawnerKiB();
// build/notecrate, beside build/bench.
QString notecrateProgram();
