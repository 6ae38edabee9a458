// The Modbus master over the Qt serial port, against the device simulator
// on a pseudo-terminal.

#include <gtest/gtest.h>

#include <cmath>

#include "SimProcess.h"
#include "Support.h"
#include "modbus/MBus.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtSerialPort.h"

namespace tarvel::integration {
namespace {

using test::SimProcess;

const char* const Plant =
    "node 1\nholding 12 2301\ninput 12 0x08FD\ninput 30 -5\ncoil 0 1\ncoil 1 0\ndiscrete 3 1\n"
    "fault 1 holding 40 exception 2\nfault 1 holding 43 partial 4\nfault 1 holding 44 stray 0xAA\n"
    "holding 47 0x1234\nfault 1 holding 47 stray 0\n"
    "node 2\nholding 0 1\nfault 2 silent\nnode 3\nholding 0 42\nfault 3 delay 300\n";

class MBusSim : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start(Plant))
            << testing::PrintToString(sim.process().lines(test::ChildProcess::Err));
        ASSERT_TRUE(bus.ConfiguraPorta("1", "19200,N,8,1", 0, false, false, false));
        ASSERT_TRUE(bus.ApriPorta(true)) << port.errorText();
        bus.ImpostaTimeOut(300);
        bus.ImpostaMonitorAttivo(true);
    }

    std::optional<double> read16(std::int16_t function, std::int16_t reg, std::int16_t node,
                                 std::int16_t decimals = 0) {
        return bus.LeggiValore16(function, reg, node, decimals, false);
    }
    std::string lastAnswer() const {
        const auto& lines = bus.monitor().risposte();
        return lines.empty() ? "" : lines.back();
    }
    // Milliseconds one 16-bit read of holding register `reg` takes.
    double timedRead(int reg, int node) {
        Stopwatch watch;
        read16(3, reg, node);
        return watch.wallMs();
    }

    SimProcess sim;
    QtSerialPort port{[this](int) { return sim.link(); }};
    QtClock clock;
    MBus bus{port, clock};
};

// The frames of every read function, as libmodbus answers them.
TEST_F(MBusSim, EveryFunctionCodeReadsItsItem) {
    // Function, register, decimals, value.
    using R = std::tuple<int, int, int, double>;
    for (const auto& [function, reg, decimals, value] :
         {R{1, 0, 0, 1}, R{1, 1, 0, 0}, R{2, 3, 0, 1}, R{4, 12, 1, 230.1}, R{4, 30, 0, -5},
          R{3, 12, 1, 230.1}}) {
        EXPECT_DOUBLE_EQ(read16(function, reg, 1, decimals).value_or(NAN), value) << reg;
        EXPECT_EQ(bus.esito(), EsitoTransazione::Completa);
    }
    EXPECT_TRUE(lastAnswer().starts_with("01 03 02 08 FD ")) << lastAnswer();
}

// What the line delivers is judged as a whole: an answer cut short is seen
// at the deadline, a byte in front spoils the answer behind it.
TEST_F(MBusSim, CutAndShiftedAnswersGiveTheirStatus) {
    EXPECT_EQ(read16(3, 43, 1), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::Parziale);
    EXPECT_EQ(lastAnswer(), "01 03 02 00 (Exception)");
    EXPECT_EQ(read16(3, 44, 1), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::ErroreCRC);
    EXPECT_TRUE(lastAnswer().starts_with("AA 01 03 02 00 00 ") &&
                lastAnswer().ends_with(" (CRC error)"))
        << lastAnswer();
}

TEST_F(MBusSim, ZeroByteFilterDropsAStrayZero) {
    EXPECT_EQ(read16(3, 47, 1), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::ErroreCRC);
    EXPECT_TRUE(lastAnswer().starts_with("00 01 03 02 12 34 ")) << lastAnswer();
    bus.ApriPorta(false);
    ASSERT_TRUE(bus.ConfiguraPorta("1", "19200,N,8,1", 0, true, false, false));
    ASSERT_TRUE(bus.ApriPorta(true)) << port.errorText();
    EXPECT_EQ(read16(3, 47, 1), 0x1234);
    EXPECT_EQ(lastAnswer(), "01 03 02 12 34 B5 33");
}

TEST_F(MBusSim, WaitsEndOnTimeWithoutSpinning) {
    Stopwatch all;
    bus.ImpostaTimeOut(200);
    double shortest = 1e9;
    double ms = middleOfThree([&] {
        double one = timedRead(0, 2);
        EXPECT_EQ(bus.esito(), EsitoTransazione::TimeOut);
        shortest = std::min(shortest, one);
        return one;
    });
    EXPECT_GE(shortest, 199.5);
    EXPECT_LT(ms, 210);
    EXPECT_LT(all.load(), 0.1);

    // An exception answer is complete at five bytes; a time-out of a second
    // does not hold it up.
    bus.ImpostaTimeOut(1000);
    ms = middleOfThree([&] {
        double one = timedRead(40, 1);
        EXPECT_EQ(bus.esito(), EsitoTransazione::Eccezione);
        return one;
    });
    EXPECT_LT(ms, 30);
    EXPECT_EQ(lastAnswer(), "01 83 02 C0 F1 (Exception)");
}

TEST_F(MBusSim, LateAnswerDoesNotPolluteTheNextRead) {
    bus.ImpostaTimeOut(200);
    EXPECT_EQ(read16(3, 0, 3), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::TimeOut);
    // The answer arrives during the pause between two lines of a cycle.
    clock.sleep(Millis(200));
    EXPECT_EQ(read16(3, 12, 1), 2301);
    EXPECT_EQ(bus.esito(), EsitoTransazione::Completa);
    EXPECT_TRUE(lastAnswer().starts_with("01 03 02 08 FD ")) << lastAnswer();
}

TEST_F(MBusSim, UnpluggedDeviceIdlesAndComesBack) {
    bus.ImpostaTimeOut(100);
    ASSERT_EQ(read16(3, 12, 1), 2301);
    ASSERT_TRUE(sim.control("unplug"));

    // Reads fail while the device is away, and the process stays idle.
    Stopwatch away;
    int reads = 0;
    while (away.wallMs() < 1500) {
        EXPECT_EQ(read16(3, 12, 1), std::nullopt);
        EXPECT_EQ(bus.esito(), EsitoTransazione::TimeOut);
        clock.sleep(Millis(50));
        ++reads;
    }
    EXPECT_GE(reads, 5);
    EXPECT_LT(away.load(), 0.1);
    EXPECT_LE(bus.contatori().riaperture, 2u);

    // Plugged back at the same path: reads succeed again within about a
    // second, on the same line settings.
    ASSERT_TRUE(sim.control("plug"));
    Stopwatch back;
    std::optional<double> value;
    while (!value && back.wallMs() < 3000) {
        value = read16(3, 12, 1);
        clock.sleep(Millis(50));
    }
    EXPECT_EQ(value, 2301);
    EXPECT_LT(back.wallMs(), 1500);
    EXPECT_EQ(bus.LeggiSettings(), "19200,n,8,1");
    EXPECT_TRUE(port.isOpen());
}

}  // namespace
}  // namespace tarvel::integration
