// One-register reads over Modbus TCP on the loopback address, against the
// device simulator's libmodbus server: the program's master as both
// programs run it (the POSIX port and the console clock), against
// libmodbus's modbus_read_registers on the same server, in blocks that
// alternate in one run.
//
// Counters: *_median_us median latency of one read, *_cpu_us process CPU
// time per read (median over blocks); latency_ratio and cpu_ratio of the
// program's master against libmodbus.

#include <benchmark/benchmark.h>
#include <modbus.h>

#include <QCoreApplication>
#include <vector>

#include "AlternatedReads.h"
#include "SimProcess.h"
#include "modbus/MBus.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/qt/ConsoleClock.h"

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

struct TarvelMaster {
    explicit TarvelMaster(const std::string& address) : device("mbtcp://" + address) {
        ok = bus.ConfiguraPorta("1", "19200,N,8,1", 0, false, false, false) && bus.ApriPorta(true);
        bus.ImpostaTimeOut(500);
    }
    double read() { return bus.LeggiValore16(3, 0, 1, 0, false).value_or(FailedValue); }

    std::string device;
    PosixSerialPort port{[this](int) { return device; }};
    ConsoleClock clock;
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
    TarvelMaster tarvel(server.address);
    LibmodbusReader libmodbus = LibmodbusTcp(server.address);
    if (server.address.empty() || !tarvel.ok || !libmodbus.ok()) {
        state.SkipWithError("simulator or connection could not be set up");
        return;
    }
    Samples ours, theirs;
    for (auto _ : state) {
        ours.measureBlock([&] { return tarvel.read(); });
        theirs.measureBlock([&] { return libmodbus.read(); });
    }
    auto& c = state.counters;
    c["tarvel_median_us"] = median(ours.latency);
    c["libmodbus_median_us"] = median(theirs.latency);
    c["latency_ratio"] = median(ours.latency) / median(theirs.latency);
    c["tarvel_cpu_us"] = median(ours.cpu);
    c["libmodbus_cpu_us"] = median(theirs.cpu);
    c["cpu_ratio"] = median(ours.cpu) / median(theirs.cpu);
    c["wrong_reads"] = ours.wrong + theirs.wrong;
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
