// Three Modbus TCP gateways (tarvel-sim, each answering after a fixed
// delay of its own: 10, 20 and 30 ms), ten single-register reads on each,
// Pause=0. tarvel-headless runs, in one run of this program:
//   slowest_alone_ms     the slowest gateway's part alone, Parallel=1
//   slowest_in_turn_ms   the same part alone, the lines in turn
//   parallel_ms          the three parts, Parallel=1
//   in_turn_ms           the three parts, the lines in turn
// each the mean cycle over the cycles after the first (the first includes
// the connections). Counters: ratio_to_slowest = parallel / slowest alone
// (target: at most 1.2), speedup = in turn / parallel.

#include <benchmark/benchmark.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "SimProcess.h"

namespace {

using namespace tarvel::test;

constexpr int kReads = 10;
constexpr int kCycles = 6;
const int kDelayMs[3] = {10, 20, 30};

// The gateways `used` (indices into `addresses`), each a profile and its
// reads; `parameters` ends [Parameters].
std::string settings(const std::vector<std::string>& addresses, const std::vector<int>& used,
                     const std::string& parameters) {
    std::string ports = "[Ports]\n", profiles, lines;
    int n = 0;
    for (std::size_t g = 0; g < addresses.size(); ++g) {
        const std::string com = std::to_string(g + 1);
        ports += "COM" + com + "=mbtcp://" + addresses[g] + "\n";
        profiles +=
            "[Serial_" + com + "]\nCOM=" + com + "\nSettings=9600,N,8,1\nTimeOut=1000\nPause=0\n";
    }
    profiles += "[Serial_0]\nCOM=" + std::to_string(used.front() + 1) + "\nSettings=9600,N,8,1\n";
    const auto line = [&](const std::string& text) {
        lines += std::to_string(1001 + n++).substr(1) + "=" + text + "\n";
    };
    for (const int g : used) {
        line("SERIAL_" + std::to_string(g + 1));
        for (int r = 0; r < kReads; ++r)
            line("1,4," + std::to_string(r) + ",0;G" + std::to_string(g) + "R" + std::to_string(r));
    }
    return ports + profiles + "[Parameters]\nFirt=1\nLast=" + std::to_string(n) + "\nInterval=1\n" +
           lines + parameters;
}

// The mean cycle after the first; nothing when the run failed or a read did.
std::optional<double> meanCycleMs(const std::string& ini) {
    TempFolder folder;
    WriteFile(folder / "Tarvel.INI", ini);
    ChildProcess runner;
    if (!runner.start(ProgramBeside("tarvel-headless"),
                      {"--folder", folder.path().string(), "--cycles", std::to_string(kCycles)}) ||
        runner.waitExit(std::chrono::minutes(2)) != 0)
        return std::nullopt;
    static const std::regex pattern(R"(^Ciclo (\d+): .*letture fallite (\d+), .*durata (\d+) ms)");
    double total = 0;
    int counted = 0;
    for (const auto& l : runner.lines(ChildProcess::Out)) {
        std::smatch m;
        if (!std::regex_search(l, m, pattern)) continue;
        if (std::stoi(m[2]) != 0) return std::nullopt;
        if (std::stoi(m[1]) == 1) continue;
        total += std::stod(m[3]);
        ++counted;
    }
    if (counted != kCycles - 1) return std::nullopt;
    return total / counted;
}

void BM_ThreeGateways(benchmark::State& state) {
    SimProcess sims[3];
    std::vector<std::string> addresses;
    for (int g = 0; g < 3; ++g) {
        std::string map = "node 1\n";
        for (int r = 0; r < kReads; ++r)
            map += "input " + std::to_string(r) + " " + std::to_string(r) + "\n";
        map += "fault 1 delay " + std::to_string(kDelayMs[g]) + "\n";
        if (!sims[g].start(map, {"--tcp", "0"})) {
            state.SkipWithError("tarvel-sim did not start");
            return;
        }
        addresses.push_back(sims[g].address("tcp"));
    }
    std::optional<double> alone, aloneInTurn, parallel, inTurn;
    for (auto _ : state) {
        alone = meanCycleMs(settings(addresses, {2}, "Parallel=1\n"));
        aloneInTurn = meanCycleMs(settings(addresses, {2}, ""));
        parallel = meanCycleMs(settings(addresses, {0, 1, 2}, "Parallel=1\n"));
        inTurn = meanCycleMs(settings(addresses, {0, 1, 2}, ""));
        if (!alone || !aloneInTurn || !parallel || !inTurn) {
            state.SkipWithError("a run failed or a read failed");
            return;
        }
        state.SetIterationTime(*parallel / 1000.0);
    }
    state.counters["slowest_alone_ms"] = *alone;
    state.counters["slowest_in_turn_ms"] = *aloneInTurn;
    state.counters["parallel_ms"] = *parallel;
    state.counters["in_turn_ms"] = *inTurn;
    state.counters["ratio_to_slowest"] = *parallel / *alone;
    state.counters["speedup"] = *inTurn / *parallel;
}

BENCHMARK(BM_ThreeGateways)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
