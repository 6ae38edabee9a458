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

#include <QCoreApplication>
#include <vector>

#include "AlternatedReads.h"
#include "SimProcess.h"
#include "modbus/MBus.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtSerialPort.h"

namespace tarvel::bench {
namespace {

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
    double read() { return bus.LeggiValore16(3, 0, 1, 0, false).value_or(FailedValue); }

    std::string device;
    Port port{[this](int) { return device; }};
    Clock clock;
    MBus bus{port, clock};
    bool ok = false;
};

// libmodbus's TCP master on the same server.
LibmodbusReader LibmodbusTcp(const std::string& address) {
    const auto colon = address.rfind(':');
    return LibmodbusReader(colon == std::string::npos
                               ? nullptr
                               : modbus_new_tcp(address.substr(0, colon).c_str(),
                                                std::stoi(address.substr(colon + 1))));
}

void AlternatedTcpReads(benchmark::State& state) {
    Server server;
    TarvelMaster<QtSerialPort, QtClock> desktop(server.address);
    TarvelMaster<PosixSerialPort, ConsoleClock> headless(server.address);
    LibmodbusReader libmodbus = LibmodbusTcp(server.address);
    if (server.address.empty() || !desktop.ok || !headless.ok || !libmodbus.ok()) {
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

TARVEL_QT_BENCHMARK_MAIN()
