// One-register reads over Modbus TCP on the loopback address, against the
// device simulator's libmodbus server: the program's master as the desktop
// program runs it (the Qt port, waits that let events run) and as the
// headless runner runs it (the POSIX port, no event loop), against
// libmodbus's modbus_read_registers on the same server, in blocks that
// alternate in one run.
//
// Counters: *_median_us median latency of one read, *_cpu_us process CPU
// time per read (median over blocks); latency_ratio and cpu_ratio of the
// desktop master against libmodbus, headless_* the same for the runner.

#include <benchmark/benchmark.h>
#include <modbus.h>
#include <time.h>

#include <QCoreApplication>
#include <algorithm>
#include <vector>

#include "SimProcess.h"
#include "modbus/MBus.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtSerialPort.h"

namespace tarvel::bench {
namespace {

constexpr double ValoreFallito = 99999;
constexpr int BlockReads = 20;

double secondsOf(clockid_t id) {
    timespec t{};
    ::clock_gettime(id, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The simulator with its Modbus TCP server on a free loopback port.
struct Server {
    Server() {
        if (!sim.start("node 1\nholding 0 1234\n", {"--tcp", "0"})) return;
        const auto line = sim.process().waitForLine(
            test::ChildProcess::Out, [](const std::string& l) { return l.starts_with("tcp "); },
            std::chrono::seconds(5));
        if (line) address = line->substr(4);
    }
    test::SimProcess sim;
    std::string address;  // 127.0.0.1:port
};

template <class Port, class Clock>
struct TarvelMaster {
    explicit TarvelMaster(const std::string& address) : device("mbtcp://" + address) {
        ok = bus.ConfiguraPorta("1", "19200,N,8,1", 0, false, false, false) && bus.ApriPorta(true);
        bus.ImpostaTimeOut(500);
    }
    double read() { return bus.LeggiValore16(3, 0, 1, 0, false).value_or(ValoreFallito); }

    std::string device;
    Port port{[this](int) { return device; }};
    Clock clock;
    MBus bus{port, clock};
    bool ok = false;
};

struct LibmodbusMaster {
    explicit LibmodbusMaster(const std::string& address) {
        const auto colon = address.rfind(':');
        ctx = modbus_new_tcp(address.substr(0, colon).c_str(), std::stoi(address.substr(colon + 1)));
        ok = ctx && modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0;
        if (ok) modbus_set_response_timeout(ctx, 0, 500000);
    }
    ~LibmodbusMaster() {
        if (!ctx) return;
        modbus_close(ctx);
        modbus_free(ctx);
    }
    double read() {
        std::uint16_t value = 0;
        return modbus_read_registers(ctx, 0, 1, &value) == 1 ? value : ValoreFallito;
    }
    modbus_t* ctx = nullptr;
    bool ok = false;
};

struct Samples {
    std::vector<double> latency, cpu;
    int wrong = 0;
    template <class Read>
    void measureBlock(Read read) {
        const double cpu0 = secondsOf(CLOCK_PROCESS_CPUTIME_ID);
        for (int i = 0; i < BlockReads; ++i) {
            const double wall = secondsOf(CLOCK_MONOTONIC);
            wrong += read() != 1234;
            latency.push_back((secondsOf(CLOCK_MONOTONIC) - wall) * 1e6);
        }
        cpu.push_back((secondsOf(CLOCK_PROCESS_CPUTIME_ID) - cpu0) * 1e6 / BlockReads);
    }
};

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void AlternatedTcpReads(benchmark::State& state) {
    Server server;
    TarvelMaster<QtSerialPort, QtClock> desktop(server.address);
    TarvelMaster<PosixSerialPort, ConsoleClock> headless(server.address);
    LibmodbusMaster libmodbus(server.address);
    if (server.address.empty() || !desktop.ok || !headless.ok || !libmodbus.ok) {
        state.SkipWithError("simulator or connection could not be set up");
        return;
    }
    Samples ours, console, theirs;
    for (auto _ : state) {
        ours.measureBlock([&] { return desktop.read(); });
        console.measureBlock([&] { return headless.read(); });
        theirs.measureBlock([&] { return libmodbus.read(); });
    }
    auto& c = state.counters;
    c["tarvel_median_us"] = median(ours.latency);
    c["headless_median_us"] = median(console.latency);
    c["libmodbus_median_us"] = median(theirs.latency);
    c["latency_ratio"] = median(ours.latency) / median(theirs.latency);
    c["headless_latency_ratio"] = median(console.latency) / median(theirs.latency);
    c["tarvel_cpu_us"] = median(ours.cpu);
    c["headless_cpu_us"] = median(console.cpu);
    c["libmodbus_cpu_us"] = median(theirs.cpu);
    c["cpu_ratio"] = median(ours.cpu) / median(theirs.cpu);
    c["headless_cpu_ratio"] = median(console.cpu) / median(theirs.cpu);
    c["wrong_reads"] = ours.wrong + console.wrong + theirs.wrong;
}

// 2000 reads per master, in blocks of BlockReads.
BENCHMARK(AlternatedTcpReads)
    ->Iterations(100)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace
}  // namespace tarvel::bench

// The Qt port needs an application object for its event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
