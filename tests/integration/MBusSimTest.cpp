// The Modbus master over the Qt serial port, against the device simulator
// on a pseudo-terminal: reads of every table, alone and in blocks, with the
// frames libmodbus answers; the zero-byte filter, late answers, a device
// that is unplugged and an adapter that echoes. A wait's own deadline, idle:
// SerialPortPty.LeftoversWaitsAndHangUp.

#include <gtest/gtest.h>

#include "Support.h"

namespace tarvel::integration {
namespace {

const char* const Plant =
    "node 1\nholding 12 2301\nholding 47 0x1234\nfault 1 holding 47 stray 0\n"
    "holding 20 0x1234\nfault 1 holding 20 delay 400\n"
    "node 3\nholding 0 42\nfault 3 delay 300\n";

// One request for many items of each table gives the items of the map, as
// the reads of one item do (FastCycle.BlockReadsGroupLinesAndGiveTheOutputOfSingleReads;
// an exception answer: Modbus.FailedExchangesAndAnswersCheckedBeforeTheyBecomeValues).
TEST(BlockSim, BlocksOfEveryTableMatchReadsOfOneItem) {
    std::string plant = "node 1\n";
    for (int i = 0; i < 20; ++i) {
        const std::string a = std::to_string(i);
        plant += "coil " + a + " " + std::to_string(i % 3 == 0) + "\ndiscrete " + a + " " +
                 std::to_string(i % 2) + "\nholding " + a + " " + std::to_string(1000 + i * 7) +
                 "\ninput " + a + " " + std::to_string(0xF000 + i) + "\n";
    }
    SimMaster m;
    ASSERT_TRUE(m.start(plant)) << m.port.errorText();
    // Coils 3, 6, ... 18 on: from the lowest bit of each byte.
    EXPECT_EQ(m.bus.ReadBlock(1, 3, 17, 1).bits, Bytes({0x49, 0x92, 0x00}));
    EXPECT_EQ(m.answer(), "01 01 03 49 92 00 80 F8");
    // From 3, so that the bits do not start on a byte boundary: the first
    // and the last item (holding 1021 and 1133).
    const std::uint16_t items[][2] = {{1, 0}, {1, 1}, {1021, 1133}, {0xF003, 0xF013}};
    for (std::uint8_t function = 1; function <= 4; ++function) {
        SCOPED_TRACE(function);
        const Transaction block = m.bus.ReadBlock(function, 3, 17, 1);
        ASSERT_TRUE(block.ok());
        EXPECT_EQ(block.item(3), items[function - 1][0]);
        EXPECT_EQ(block.item(19), items[function - 1][1]);
        EXPECT_EQ(block.item(20), std::nullopt);
    }
    EXPECT_EQ(m.bus.LeggiHex(4, 0, 19, 1), "F013");
    EXPECT_EQ(m.answer(), "01 04 02 F0 13 BC FD");  // input 19 read alone
    // The largest requests the protocol allows.
    EXPECT_TRUE(m.bus.ReadBlock(3, 41, MaxBlockRegisters, 1).ok());
    EXPECT_TRUE(m.bus.ReadBlock(1, 0, MaxBlockBits, 1).ok());
}

// An answer that comes after the time-out never becomes another read's
// value. The next read of the same node goes after a fence, which the
// simulator echoes after the late answer; the monitor shows that as a late
// answer. A late answer of another node is dropped as well. (Two answers back to back:
// FastCycle.AStaleOrLateAnswerNeverBecomesAValue.) Then the device is
// unplugged and comes back, and a zero byte in front of an answer spoils it
// unless the filter is on.
TEST(MBusSim, LateAnswersAnUnpluggedDeviceAndAStrayZero) {
    SimMaster m;
    ASSERT_TRUE(m.start(Plant)) << m.port.errorText();
    EXPECT_EQ(m.outcome(3, 20, 1), TransactionResult::TimeOut);  // answered after 400 ms
    EXPECT_EQ(m.read16(3, 12, 1), 2301);
    EXPECT_EQ(m.answer(1), "01 03 02 12 34 B5 33 (Late answer)");
    EXPECT_EQ(m.answer(), "01 03 02 08 FD 7E 05");

    m.bus.ImpostaTimeOut(200);
    EXPECT_EQ(m.outcome(3, 0, 3), TransactionResult::TimeOut);  // answered after 300 ms
    m.clock.sleep(Millis(200));
    EXPECT_EQ(m.read16(3, 12, 1), 2301);

    m.bus.ImpostaTimeOut(100);
    ASSERT_TRUE(m.sim.control("unplug"));
    // Reads fail while the device is away; idle: SerialPortPty.LeftoversWaitsAndHangUp;
    // opened again at once, then at most once a second:
    // Modbus.FailedExchangesAndAnswersCheckedBeforeTheyBecomeValues.
    EXPECT_EQ(m.outcome(3, 12, 1), TransactionResult::TimeOut);

    // Plugged back at the same path: reads succeed again (the port is tried
    // again at most once a second), on the same line settings.
    ASSERT_TRUE(m.sim.control("plug"));
    Stopwatch back;
    std::optional<double> value;
    while (!value && back.wallMs() < 3000) {
        value = m.read16(3, 12, 1);
        m.clock.sleep(Millis(50));
    }
    EXPECT_EQ(value, 2301);
    EXPECT_EQ(m.bus.LeggiSettings(), "19200,n,8,1");
    EXPECT_TRUE(m.port.isOpen());

    // A zero byte in front of the answer spoils it, unless the filter is on.
    EXPECT_EQ(m.outcome(3, 47, 1), TransactionResult::CrcError);
    EXPECT_EQ(m.answer(), "00 01 03 02 12 34 B5 33 (CRC error)");
    m.bus.ApriPorta(false);
    ASSERT_TRUE(m.open(true)) << m.port.errorText();
    EXPECT_EQ(m.read16(3, 47, 1), 0x1234);
    EXPECT_EQ(m.answer(), "01 03 02 12 34 B5 33");
}

// An adapter that gives back every byte it sends (the simulator's --echo):
// the echo spoils the answer, unless it is read back first (the profile's
// Echo key: FastCycle.WithEchoEachRequestIsReadBackBeforeItsAnswer).
TEST(MBusSim, AnEchoingAdapterIsReadBackBeforeTheAnswer) {
    SimMaster m;
    ASSERT_TRUE(m.start(Plant, {}, {"--echo"})) << m.port.errorText();
    EXPECT_EQ(m.outcome(3, 12), TransactionResult::CrcError);
    m.clock.sleep(Millis(100));  // its answer comes meanwhile: a late one
    m.bus.setEcho(true);
    EXPECT_EQ(m.read16(3, 12), 2301);
    EXPECT_EQ(m.answer(), "01 03 02 08 FD 7E 05");
}

}  // namespace
}  // namespace tarvel::integration
