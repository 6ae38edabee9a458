// One acquisition cycle of 100 register lines of one node, run by
// tarvel-headless against tarvel-sim with wire-time emulation at 9600 baud,
// 10 bits a byte, and the cycle's physical limit: the frames actually sent
// at 10 bits a byte plus a t3.5 gap each way, the device time, and the
// pauses between lines. The device time is measured first with the
// libmodbus master on the same simulator, with requests of the same size:
// the median time of one request minus its wire time.
//
// BM_Cycle/lines/pause/block: (a) today's settings, 100/200/0; (b) no
// pause, 100/0/0; (c) no pause and block reads, 100/0/125. Counters:
// cycle_ms (the cycle's duration as the runner reports it), limit_ms,
// ratio = cycle / limit, ratio_no_gap the same without the t3.5 gaps,
// requests (per cycle), device_ms (per request).
//
// BM_SilentNode: 30 lines of a node that never answers, Retry=2,
// TimeOut=300, Skip=1; target_ms is one read's attempts plus 30 pauses
// plus 100 ms.

#include <benchmark/benchmark.h>
#include <modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "SimProcess.h"

namespace {

using namespace tarvel::test;

constexpr int kBaud = 9600;
constexpr int kBitsPerByte = 10;
constexpr int kRequestBytes = 8;  // node, function, address, count, CRC
constexpr int kLines = 100;

// An answer of `registers` registers: node, function, byte count, the
// registers, CRC.
int answerBytes(int registers) { return 5 + 2 * registers; }
double bytesMs(int bytes) { return bytes * kBitsPerByte * 1000.0 / kBaud; }
// The silence that ends a frame: three and a half characters.
double t35Ms() { return bytesMs(1) * 3.5; }

// Device 1 holds N input registers.
std::string plantMap(int lines) {
    std::string map = "node 1\n";
    for (int i = 0; i < lines; ++i)
        map += "input " + std::to_string(i) + ' ' + std::to_string(1000 + i) + '\n';
    return map;
}

// Line i reads register i of `node`; `profile` holds extra keys of
// Serial_0.
void writeSettings(const TempFolder& folder, int lines, const std::string& link, int node,
                   const std::string& profile) {
    std::string ini = "[Ports]\nCOM1=" + link +
                      "\n\n[Serial_0]\nCOM=1\nSettings=" + std::to_string(kBaud) + ",N,8,1\n" +
                      profile + "\n" + "[Parameters]\nFirt=1\nLast=" + std::to_string(lines) +
                      "\nInterval=1\n";
    for (int i = 0; i < lines; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "%03d=%d,4,%d,0;V%d\n", i + 1, node, i, i);
        ini += line;
    }
    WriteFile(folder / "Tarvel.INI", ini);
}

// The median time of one read of `count` registers with the libmodbus
// master, in ms; nothing when the reads fail.
std::optional<double> referenceReadMs(const std::string& link, int registers, int count) {
    modbus_t* master = modbus_new_rtu(link.c_str(), kBaud, 'N', 8, 1);
    if (master == nullptr) return std::nullopt;
    std::vector<double> times;
    if (modbus_set_slave(master, 1) == 0 && modbus_connect(master) == 0) {
        for (int i = 0; i < 20; ++i) {
            std::vector<std::uint16_t> values(static_cast<std::size_t>(count));
            const int first = count == 1 ? i % registers : 0;
            const auto start = std::chrono::steady_clock::now();
            if (modbus_read_input_registers(master, first, count, values.data()) != count) break;
            std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            times.push_back(took.count());
        }
        modbus_close(master);
    }
    modbus_free(master);
    if (times.size() < 20) return std::nullopt;
    std::nth_element(times.begin(), times.begin() + 10, times.end());
    return times[10];
}

// The duration and failed reads of the cycle line; nothing for other lines.
std::optional<std::pair<long, int>> parseCycle(const std::string& line) {
    static const std::regex pattern(R"(^Ciclo \d+: .*letture fallite (\d+), durata (\d+) ms)");
    std::smatch match;
    if (!std::regex_search(line, match, pattern)) return std::nullopt;
    return std::make_pair(std::stol(match[2]), std::stoi(match[1]));
}

// Runs tarvel-headless on the settings in `folder` and gives the mean
// cycle time over the benchmark's iterations; nothing after an error.
std::optional<double> meanCycleMs(benchmark::State& state, const TempFolder& folder,
                                  bool failuresExpected) {
    ChildProcess runner;
    if (!runner.start(ProgramBeside("tarvel-headless"), {"--folder", folder.path().string()})) {
        state.SkipWithError("tarvel-headless did not start");
        return std::nullopt;
    }
    double totalMs = 0;
    int cycles = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        auto line = runner.waitForLine(
            ChildProcess::Out, [](const std::string& text) { return parseCycle(text).has_value(); },
            std::chrono::minutes(5), next, &next);
        auto cycle = line ? parseCycle(*line) : std::nullopt;
        ++next;
        if (!cycle || (cycle->second != 0) != failuresExpected) {
            state.SkipWithError(cycle ? "unexpected read results" : "tarvel-headless ended");
            break;
        }
        state.SetIterationTime(static_cast<double>(cycle->first) / 1000.0);
        totalMs += static_cast<double>(cycle->first);
        ++cycles;
    }
    runner.stop();
    if (cycles == 0) return std::nullopt;
    return totalMs / cycles;
}

void BM_Cycle(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    const int pauseMs = static_cast<int>(state.range(1));
    const int block = static_cast<int>(state.range(2));
    SimProcess sim;
    if (!sim.start(plantMap(lines),
                   {"--baud", std::to_string(kBaud), "--bits", std::to_string(kBitsPerByte)})) {
        state.SkipWithError("tarvel-sim did not start");
        return;
    }
    // One request of every line, or one of every block.
    const int perRequest = block == 0 ? 1 : std::min(block, 125);
    const int requests = (lines + perRequest - 1) / perRequest;
    const int registers = std::min(perRequest, lines);
    auto referenceMs = referenceReadMs(sim.link(), lines, registers);
    if (!referenceMs) {
        state.SkipWithError("the libmodbus master could not read from tarvel-sim");
        return;
    }
    TempFolder folder;
    std::string profile = "TimeOut=1000\nRetry=1\nPause=" + std::to_string(pauseMs) + "\n";
    if (block != 0) profile += "Block=" + std::to_string(block) + "\n";
    writeSettings(folder, lines, sim.link(), 1, profile);
    auto cycleMs = meanCycleMs(state, folder, false);
    if (!cycleMs) return;

    const double wireMs = bytesMs(kRequestBytes + answerBytes(registers));
    const double deviceMs = std::max(0.0, *referenceMs - wireMs);
    const double limitMs =
        requests * (wireMs + 2 * t35Ms() + deviceMs) + (lines - 1) * static_cast<double>(pauseMs);
    state.counters["cycle_ms"] = *cycleMs;
    state.counters["limit_ms"] = limitMs;
    state.counters["ratio"] = *cycleMs / limitMs;
    // The simulator keeps no silence between frames, and neither does the
    // master without a pause: the same limit without the t3.5 gaps.
    state.counters["ratio_no_gap"] = *cycleMs / (limitMs - requests * 2 * t35Ms());
    state.counters["requests"] = requests;
    state.counters["device_ms"] = deviceMs;
}

void BM_SilentNode(benchmark::State& state) {
    constexpr int Lines = 30, Retry = 2, TimeOutMs = 300, PauseMs = 200;
    SimProcess sim;
    if (!sim.start(plantMap(1), {"--baud", std::to_string(kBaud)})) {
        state.SkipWithError("tarvel-sim did not start");
        return;
    }
    TempFolder folder;
    writeSettings(
        folder, Lines, sim.link(), 7,
        "TimeOut=" + std::to_string(TimeOutMs) + "\nRetry=" + std::to_string(Retry) + "\nSkip=1\n");
    auto cycleMs = meanCycleMs(state, folder, true);
    if (!cycleMs) return;
    state.counters["cycle_ms"] = *cycleMs;
    state.counters["target_ms"] = Retry * TimeOutMs + Lines * PauseMs + 100;
}

BENCHMARK(BM_Cycle)
    ->Args({kLines, 200, 0})
    ->Args({kLines, 0, 0})
    ->Args({kLines, 0, 125})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SilentNode)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
