// The history's cost on the cycle's own thread: one cycle of 100 values
// (95 reads, 5 of them failed, and 5 constants) handed to the history, which
// writes them into a real SQLite file in a temporary folder on its worker
// thread. Each handing-over is timed alone, with the worker done with the
// cycle before, as between two real cycles.
//
// Counters: median_us and p99_us on the cycle's thread (target: a median
// of at most 1 ms), write_ms the worker's time for one cycle's
// transaction, off the cycle's thread.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "HistoryOnFile.h"

namespace {

using namespace tarvel;
using Steady = std::chrono::steady_clock;

constexpr int kValues = 100;

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void BM_HistoryPerCycle(benchmark::State& state) {
    bench::HistoryOnFile history;
    auto& [folder, store, wall, clock, dialogs, historyLog] = history;

    std::vector<Reading> readings;
    for (int i = 0; i < kValues; ++i) {
        const std::string name = "V" + std::to_string(i);
        const bool costante = i % 20 == 19;
        const bool failed = i % 20 == 9;
        readings.push_back(bench::Letta(static_cast<std::size_t>(i), 1, name, costante, failed));
    }

    std::vector<double> cycleUs, writeMs;
    long cycle = 0;
    for (auto _ : state) {
        const auto start = Steady::now();
        historyLog.CycleStart();
        historyLog.RecordCycle(++cycle, readings);
        const auto handed = Steady::now();
        state.PauseTiming();
        store.waitIdle(std::chrono::seconds(10));
        const auto written = Steady::now();
        cycleUs.push_back(std::chrono::duration<double, std::micro>(handed - start).count());
        writeMs.push_back(std::chrono::duration<double, std::milli>(written - handed).count());
        state.ResumeTiming();
    }
    state.counters["median_us"] = percentile(cycleUs, 0.5);
    state.counters["p99_us"] = percentile(cycleUs, 0.99);
    state.counters["write_ms"] = percentile(writeMs, 0.5);
    if (store.state().failing) state.SkipWithError(store.state().error.c_str());
}
BENCHMARK(BM_HistoryPerCycle)->Iterations(500)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
