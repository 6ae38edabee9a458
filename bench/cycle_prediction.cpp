// The cycle that tarvel-headless --check predicts for a list (its cycle
// record's BEST) against the cycle the logger measures, in one run, on
// tarvel-sim with wire-time emulation at 9600 baud, 10 bits a byte. The
// list: 60 single-register reads and 20 32-bit values of one node, a SLEEP
// of 50 ms, with `Pause` and `Block` as in each case. Target: the measured
// cycle within 10 % of the prediction.
//
// BM_Prediction/pause/block: (a) Pause=0 (every request after the
// end-of-frame silence), (b) Pause=20, (c) Pause=0 and Block=16. Counters:
// predicted_ms (BEST), cycle_ms (mean of cycles 2 to 6 as the cycle line
// reports them), port_ms (the same from --stats' port record), ratio =
// cycle / predicted, busy_predicted and busy_measured (%).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "SimProcess.h"

namespace {

using namespace tarvel::test;

constexpr int kBaud = 9600;
constexpr int kSingles = 60;
constexpr int kWide = 20;
constexpr int kCycles = 6;

std::string plantMap() {
    std::string map = "node 1\n";
    for (int i = 0; i < kSingles + 2 * kWide; ++i)
        map += "input " + std::to_string(i) + ' ' + std::to_string(100 + i) + '\n';
    return map;
}

void writeSettings(const TempFolder& folder, const std::string& link, const std::string& profile) {
    std::vector<std::string> lines;
    for (int i = 0; i < kSingles; ++i)
        lines.push_back("1,4," + std::to_string(i) + ",0;S" + std::to_string(i));
    lines.push_back("SLEEP 50");
    for (int i = 0; i < kWide; ++i)
        lines.push_back("1,4," + std::to_string(kSingles + 2 * i) + "+,0;W" + std::to_string(i));
    std::string ini = "[Ports]\nCOM1=" + link + "\n\n[Serial_0]\nCOM=1\nSettings=" +
                      std::to_string(kBaud) + ",N,8,1\nTimeOut=1000\nRetry=1\n" + profile +
                      "\n[Parameters]\nFirt=1\nLast=" + std::to_string(lines.size()) +
                      "\nInterval=1\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "%03zu=", i + 1);
        ini += key + lines[i] + "\n";
    }
    WriteFile(folder / "Tarvel.INI", ini);
}

// The BEST and BUSY of --check's cycle record of COM1.
std::optional<std::pair<double, double>> predicted(const TempFolder& folder) {
    ChildProcess check;
    if (!check.start(ProgramBeside("tarvel-headless"), {"--folder", folder.path().string(), "--check"}))
        return std::nullopt;
    check.waitExit(std::chrono::seconds(30));
    static const std::regex record(R"(^cycle\tCOM1\t([0-9.]+)\t[0-9.]+\t([0-9.]+)$)");
    for (const std::string& line : check.lines(ChildProcess::Out)) {
        std::smatch m;
        if (std::regex_match(line, m, record)) return std::pair(std::stod(m[1]), std::stod(m[2]));
    }
    return std::nullopt;
}

struct Measured {
    double cycleMs = 0, portMs = 0, busy = 0;
};

// The means over the cycles after the first of a run of kCycles.
std::optional<Measured> measured(const TempFolder& folder) {
    ChildProcess run;
    if (!run.start(ProgramBeside("tarvel-headless"),
                   {"--folder", folder.path().string(), "--cycles", std::to_string(kCycles), "--stats"}))
        return std::nullopt;
    if (run.waitExit(std::chrono::minutes(5)) != 0) return std::nullopt;
    static const std::regex cycle(R"(^Ciclo (\d+): .*letture fallite 0, .*durata (\d+) ms)");
    static const std::regex port(R"(^port\tCOM1\t(\d+)\t([0-9.]+)$)");
    Measured sum;
    int cycles = 0, ports = 0;
    for (const std::string& line : run.lines(ChildProcess::Out)) {
        std::smatch m;
        if (std::regex_search(line, m, cycle) && std::stoi(m[1]) > 1) {
            sum.cycleMs += std::stod(m[2]);
            ++cycles;
        } else if (std::regex_match(line, m, port) && ports++ > 0) {
            sum.portMs += std::stod(m[1]);
            sum.busy += std::stod(m[2]);
        }
    }
    if (cycles != kCycles - 1 || ports != kCycles) return std::nullopt;
    return Measured{sum.cycleMs / cycles, sum.portMs / cycles, sum.busy / cycles};
}

void BM_Prediction(benchmark::State& state) {
    SimProcess sim;
    if (!sim.start(plantMap(), {"--baud", std::to_string(kBaud), "--bits", "10"})) {
        state.SkipWithError("tarvel-sim did not start");
        return;
    }
    TempFolder folder;
    std::string profile = "Pause=" + std::to_string(state.range(0)) + "\n";
    if (state.range(1) != 0) profile += "Block=" + std::to_string(state.range(1)) + "\n";
    writeSettings(folder, sim.link(), profile);
    const auto best = predicted(folder);
    if (!best) {
        state.SkipWithError("no cycle record from --check");
        return;
    }
    std::optional<Measured> m;
    for (auto _ : state) {
        m = measured(folder);
        if (!m) {
            state.SkipWithError("the run failed");
            return;
        }
        state.SetIterationTime(m->cycleMs / 1000.0);
    }
    state.counters["predicted_ms"] = best->first;
    state.counters["cycle_ms"] = m->cycleMs;
    state.counters["port_ms"] = m->portMs;
    state.counters["ratio"] = m->cycleMs / best->first;
    state.counters["busy_predicted"] = best->second;
    state.counters["busy_measured"] = m->busy;
}

BENCHMARK(BM_Prediction)
    ->Args({0, 0})
    ->Args({20, 0})
    ->Args({0, 16})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
