// One acquisition cycle of N read lines, run by tarvel-headless against
// tarvel-sim with wire-time emulation at 9600 baud, 10 bits a byte. What a
// cycle must take is the wire time of every request and answer, the time
// the device takes to answer, and the 200 ms pause between two lines; the
// rest is the logger's own overhead.
//
// The device time is measured first with the libmodbus master on the same
// simulator: the median time of one read minus its wire time (the pty and
// the simulator's own reaction).
//
// Counters: cycle_ms (the cycle's duration as the runner reports it),
// wire_ms, device_ms, pauses_ms (all for the whole cycle), and
// overhead_per_line_ms = (cycle - wire - device - pauses) / N; also
// overhead_no_device_per_line_ms, which counts the device time as overhead.
// Argument: N. Both programs are taken from the folder of this benchmark.

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
constexpr int kAnswerBytes = 7;   // node, function, byte count, one register, CRC
constexpr double kPauseMs = 200.0;

// Device 1 holds N input registers.
std::string plantMap(int lines) {
    std::string map = "node 1\n";
    for (int i = 0; i < lines; ++i)
        map += "input " + std::to_string(i) + ' ' + std::to_string(1000 + i) + '\n';
    return map;
}

// Line i reads register i.
void writeSettings(const TempFolder& folder, int lines, const std::string& link) {
    std::string ini = "[Ports]\nCOM1=" + link +
                      "\n\n[Serial_0]\nCOM=1\nSettings=" + std::to_string(kBaud) +
                      ",N,8,1\nTimeOut=1000\nRetry=1\n\n" +
                      "[Parameters]\nFirt=1\nLast=" + std::to_string(lines) + "\nInterval=1\n";
    for (int i = 0; i < lines; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "%03d=1,4,%d,0;V%d\n", i + 1, i, i);
        ini += line;
    }
    WriteFile(folder / "Tarvel.INI", ini);
}

double wireMsPerRead() { return (kRequestBytes + kAnswerBytes) * kBitsPerByte * 1000.0 / kBaud; }

// The median time of one read with the libmodbus master, in ms; nothing
// when the reads fail.
std::optional<double> referenceReadMs(const std::string& link, int registers) {
    modbus_t* master = modbus_new_rtu(link.c_str(), kBaud, 'N', 8, 1);
    if (master == nullptr) return std::nullopt;
    std::vector<double> times;
    if (modbus_set_slave(master, 1) == 0 && modbus_connect(master) == 0) {
        for (int i = 0; i < 20; ++i) {
            std::uint16_t value = 0;
            const auto start = std::chrono::steady_clock::now();
            if (modbus_read_input_registers(master, i % registers, 1, &value) != 1) break;
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

void BM_CycleOverhead(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    SimProcess sim;
    if (!sim.start(plantMap(lines),
                   {"--baud", std::to_string(kBaud), "--bits", std::to_string(kBitsPerByte)})) {
        state.SkipWithError("tarvel-sim did not start");
        return;
    }
    auto referenceMs = referenceReadMs(sim.link(), lines);
    if (!referenceMs) {
        state.SkipWithError("the libmodbus master could not read from tarvel-sim");
        return;
    }
    TempFolder folder;
    writeSettings(folder, lines, sim.link());
    ChildProcess runner;
    if (!runner.start(ProgramBeside("tarvel-headless"), {"--folder", folder.path().string()})) {
        state.SkipWithError("tarvel-headless did not start");
        return;
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
        if (!cycle || cycle->second != 0) {
            state.SkipWithError(cycle ? "reads failed" : "tarvel-headless ended");
            break;
        }
        state.SetIterationTime(static_cast<double>(cycle->first) / 1000.0);
        totalMs += static_cast<double>(cycle->first);
        ++cycles;
    }
    runner.stop();
    if (cycles == 0) return;

    const double cycleMs = totalMs / cycles;
    const double wireMs = lines * wireMsPerRead();
    const double deviceMs = lines * std::max(0.0, *referenceMs - wireMsPerRead());
    const double pausesMs = (lines - 1) * kPauseMs;
    state.counters["cycle_ms"] = cycleMs;
    state.counters["wire_ms"] = wireMs;
    state.counters["device_ms"] = deviceMs;
    state.counters["pauses_ms"] = pausesMs;
    state.counters["overhead_per_line_ms"] = (cycleMs - wireMs - deviceMs - pausesMs) / lines;
    state.counters["overhead_no_device_per_line_ms"] = (cycleMs - wireMs - pausesMs) / lines;
}

BENCHMARK(BM_CycleOverhead)->Arg(10)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CycleOverhead)
    ->Arg(100)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
