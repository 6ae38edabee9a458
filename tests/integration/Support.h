#pragma once
// Helpers of the real-port tests: the pseudo-terminal pair of SimProcess.h,
// the master on the simulator and a stopwatch for wall and CPU time.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "SimProcess.h"
#include "modbus/MBus.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/qt/ConsoleClock.h"

namespace tarvel::integration {

using test::PtyPair;

// Wall time and this process's CPU time since it was made.
struct Stopwatch {
    using Steady = std::chrono::steady_clock;
    Steady::time_point wall = Steady::now();
    std::clock_t cpu = std::clock();
    double wallMs() const {
        return std::chrono::duration<double, std::milli>(Steady::now() - wall).count();
    }
    // CPU time as a share of wall time.
    double load() const {
        return static_cast<double>(std::clock() - cpu) * 1000 / CLOCKS_PER_SEC / wallMs();
    }
};

// The master on the simulator of a plant, with a time-out of 300 ms and
// the monitor on: on its pseudo-terminal at 19200,N,8,1, or on one of its
// network ports ("tcp" for Modbus TCP, "rtu-tcp" for RTU frames); more
// options of the simulator when given.
struct SimMaster {
    bool start(const std::string& plant, const std::string& served = {},
               std::vector<std::string> options = {}) {
        if (!served.empty()) options.insert(options.end(), {"--" + served, "0"});
        if (!sim.start(plant, options)) return false;
        device = sim.link();
        if (!served.empty()) {
            address = sim.address(served);
            device = (served == "tcp" ? "mbtcp://" : "tcp://") + address;
        }
        bus.ImpostaTimeOut(300);
        bus.ImpostaMonitorAttivo(true);
        return open(false);
    }
    bool open(bool nullDiscard) {
        return bus.ConfiguraPorta("1", "19200,N,8,1", 0, nullDiscard, false, false) &&
               bus.ApriPorta(true);
    }
    std::optional<double> read16(std::int16_t function, std::int32_t reg, std::int16_t node = 1) {
        return bus.LeggiValore16(function, static_cast<std::int16_t>(reg), node, 0, false);
    }
    // What a read of one register met: Complete, or its failed exchange's outcome.
    TransactionResult outcome(std::int16_t function, std::int32_t reg, std::int16_t node = 1) {
        return bus.ReadItems(function, {static_cast<std::uint16_t>(reg)}, node).last.outcome;
    }
    // The monitor's answer lines, the last one first.
    std::string answer(std::size_t back = 0) const {
        const auto& lines = bus.monitor().answers();
        return back < lines.size() ? lines[lines.size() - 1 - back] : "";
    }

    test::SimProcess sim;
    std::string address, device;
    PosixSerialPort port{[this](int) { return device; }};
    ConsoleClock clock;
    MBus bus{port, clock};
};

}  // namespace tarvel::integration
