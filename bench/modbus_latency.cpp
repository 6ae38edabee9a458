// One register read after another against the device simulator on a
// pseudo-terminal: the program's master as the desktop program runs it
// (on its worker thread, the POSIX port and a clock that watch the wake-up)
// and as the headless runner runs it (the POSIX port and a clock that watch
// a signal pipe, no event loop), against a libmodbus master on a simulator
// of the same kind, alternated in the same run. Also the CPU spent while waiting through the
// time-outs of a silent node and through an unplugged device.
//
// Counters: *_median_us median latency of one read, *_cpu_us process CPU
// time per read (median over blocks of reads; *_cpu_mean_us the mean);
// cpu_ratio (desktop) and headless_cpu_ratio against libmodbus,
// cpu_percent of one core while waiting. qtport_* is the bare exchange on
// the desktop's port (discard, write, wait, read) without the master's
// logic; raw_* the same exchange in plain system calls (write, poll, read)
// on a third simulator, the floor that any master on this machine pays.
// Argument: the emulated baud rate (0: no wire time).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <memory>
#include <vector>

#include "AlternatedReads.h"
#include "SimProcess.h"
#include "modbus/MBus.h"
#include "modbus/Frame.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/WakeUp.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/WorkerThread.h"

namespace tarvel::bench {
namespace {

using test::SimProcess;

const char* const Plant = "node 1\nholding 0 1234\nnode 2\nholding 0 1\nfault 2 silent\n";

std::vector<std::string> wireOptions(int baud) {
    if (baud == 0) return {};
    return {"--baud", std::to_string(baud)};
}

// The program's master on its own simulator, with the desktop program's
// port and clock; the reads run on a worker thread, as its cycle does.
struct TarvelMaster {
    explicit TarvelMaster(int baud) {
        if (!sim.start(Plant, wireOptions(baud))) return;
        clock.watch(wake.fd(), [this] {
            wake.drain();
            return true;
        });
        port.watchAlso(wake.fd(), [this] { wake.drain(); });
        ok = bus.ConfiguraPorta("1", "19200,N,8,1", 0, false, false, false) && bus.ApriPorta(true);
        bus.ImpostaTimeOut(500);
    }
    double read(int node) {
        return bus.LeggiValore16(3, 0, static_cast<std::int16_t>(node), 0, false)
            .value_or(FailedValue);
    }
    // The same exchange on the bare port, without the master's logic.
    double exchange() {
        port.discardInput();
        port.write(request);
        auto deadline = std::chrono::steady_clock::now() + Millis(500);
        while (port.bytesWaiting() < 7 && std::chrono::steady_clock::now() < deadline)
            port.waitForInput(deadline);
        Bytes answer = port.readAll();
        return answer.size() == 7 ? answer[3] * 256 + answer[4] : FailedValue;
    }

    SimProcess sim;
    WakeUp wake;
    PosixSerialPort port{[this](int) { return sim.link(); }};
    ConsoleClock clock;
    MBus bus{port, clock};
    Bytes request = ReadFrame(1, 3, 0);
    bool ok = false;
    WorkerThread worker;
};

// The program's master as tarvel-headless runs it, on its own simulator:
// waits block on the port and on a pipe that stands for the signal pipe.
struct HeadlessMaster {
    explicit HeadlessMaster(int baud) {
        if (!sim.start(Plant, wireOptions(baud)) || ::pipe(wake) != 0) return;
        clock.watch(wake[0], [] { return false; });
        port.watchAlso(wake[0], [] {});
        ok = bus.ConfiguraPorta("1", "19200,N,8,1", 0, false, false, false) && bus.ApriPorta(true);
        bus.ImpostaTimeOut(500);
    }
    ~HeadlessMaster() {
        for (int fd : wake)
            if (fd >= 0) ::close(fd);
    }
    double read() { return bus.LeggiValore16(3, 0, 1, 0, false).value_or(FailedValue); }

    SimProcess sim;
    int wake[2] = {-1, -1};
    PosixSerialPort port{[this](int) { return sim.link(); }};
    ConsoleClock clock;
    MBus bus{port, clock};
    bool ok = false;
};

// libmodbus's master on a simulator of its own.
struct LibmodbusMaster {
    explicit LibmodbusMaster(int baud)
        : started(sim.start(Plant, wireOptions(baud))),
          reader(started ? modbus_new_rtu(sim.device().c_str(), 19200, 'N', 8, 1) : nullptr),
          ok(started && reader.ok()) {}
    double read() { return reader.read(); }

    SimProcess sim;
    bool started;
    LibmodbusReader reader;
    bool ok;
};

// The exchange in plain system calls, with nothing around it.
struct RawMaster {
    explicit RawMaster(int baud) {
        if (!sim.start(Plant, wireOptions(baud))) return;
        fd = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        ok = fd >= 0 && ::tcgetattr(fd, &tio) == 0;
        ::cfmakeraw(&tio);
        ok = ok && ::tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    ~RawMaster() {
        if (fd >= 0) ::close(fd);
    }
    double read() {
        if (::write(fd, request.data(), request.size()) != ssize_t(request.size()))
            return FailedValue;
        std::uint8_t answer[16];
        std::size_t got = 0;
        while (got < 7) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 500) <= 0) return FailedValue;
            ssize_t n = ::read(fd, answer + got, sizeof answer - got);
            if (n > 0) got += static_cast<std::size_t>(n);
        }
        return got == 7 ? answer[3] * 256 + answer[4] : FailedValue;
    }

    SimProcess sim;
    Bytes request = ReadFrame(1, 3, 0);
    int fd = -1;
    bool ok = false;
};

void AlternatedReads(benchmark::State& state) {
    int baud = static_cast<int>(state.range(0));
    TarvelMaster tarvel(baud);
    HeadlessMaster headless(baud);
    LibmodbusMaster libmodbus(baud);
    RawMaster raw(baud);
    if (!tarvel.ok || !headless.ok || !libmodbus.ok || !raw.ok) {
        state.SkipWithError("simulator or port could not be set up");
        return;
    }
    Samples ours, console, bare, theirs, plain;
    for (auto _ : state) {
        tarvel.worker.call([&] { ours.measureBlock([&] { return tarvel.read(1); }); });
        console.measureBlock([&] { return headless.read(); });
        theirs.measureBlock([&] { return libmodbus.read(); });
        tarvel.worker.call([&] { bare.measureBlock([&] { return tarvel.exchange(); }); });
        plain.measureBlock([&] { return raw.read(); });
    }
    auto& c = state.counters;
    c["tarvel_median_us"] = median(ours.latency);
    c["libmodbus_median_us"] = median(theirs.latency);
    c["qtport_median_us"] = median(bare.latency);
    c["latency_ratio"] = median(ours.latency) / median(theirs.latency);
    c["tarvel_cpu_us"] = median(ours.cpu);
    c["libmodbus_cpu_us"] = median(theirs.cpu);
    c["qtport_cpu_us"] = median(bare.cpu);
    c["raw_cpu_us"] = median(plain.cpu);
    c["cpu_ratio"] = median(ours.cpu) / median(theirs.cpu);
    c["headless_median_us"] = median(console.latency);
    c["headless_cpu_us"] = median(console.cpu);
    c["headless_cpu_ratio"] = median(console.cpu) / median(theirs.cpu);
    c["raw_cpu_ratio"] = median(plain.cpu) / median(theirs.cpu);
    c["tarvel_cpu_mean_us"] = mean(ours.cpu);
    c["libmodbus_cpu_mean_us"] = mean(theirs.cpu);
    c["wrong_reads"] = ours.wrong + console.wrong + theirs.wrong + bare.wrong + plain.wrong;
}

// Reads of a node that never answers, back to back: the process should
// sleep through every time-out.
void SilentNodeWait(benchmark::State& state) {
    TarvelMaster tarvel(0);
    if (!tarvel.ok) {
        state.SkipWithError("simulator or port could not be set up");
        return;
    }
    tarvel.bus.ImpostaTimeOut(100);
    double wall = wallSeconds(), cpu = processCpuSeconds();
    for (auto _ : state) benchmark::DoNotOptimize(tarvel.read(2));
    state.counters["cpu_percent"] = 100 * (processCpuSeconds() - cpu) / (wallSeconds() - wall);
}

// Reads while the device is unplugged, as a cycle makes them (a pause
// between lines): failing transactions and reopen attempts once a second.
void UnpluggedWait(benchmark::State& state) {
    TarvelMaster tarvel(0);
    if (!tarvel.ok || tarvel.read(1) != 1234 || !tarvel.sim.control("unplug")) {
        state.SkipWithError("simulator or port could not be set up");
        return;
    }
    tarvel.bus.ImpostaTimeOut(100);
    double wall = wallSeconds(), cpu = processCpuSeconds();
    int succeeded = 0;
    for (auto _ : state) {
        succeeded += tarvel.read(1) == 1234;
        tarvel.clock.sleep(Millis(200));
    }
    state.counters["cpu_percent"] = 100 * (processCpuSeconds() - cpu) / (wallSeconds() - wall);
    state.counters["reopen_attempts"] = static_cast<double>(tarvel.bus.counters().reopens);
    state.counters["reads_while_away_ok"] = succeeded;
}

// Blocks of BlockReads reads per master: 1000 reads each without wire time,
// 400 at 19200 baud.
BENCHMARK(AlternatedReads)
    ->Arg(0)
    ->Iterations(50)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(AlternatedReads)
    ->Arg(19200)
    ->Iterations(20)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(SilentNodeWait)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(UnpluggedWait)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarvel::bench

TARVEL_QT_BENCHMARK_MAIN()
