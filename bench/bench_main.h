#pragma once

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
