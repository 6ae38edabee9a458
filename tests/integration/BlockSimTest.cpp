// Block reads against the device simulator: one request for many items of
// each table gives the items that reads of one item give.

#include <gtest/gtest.h>

#include "SimProcess.h"
#include "modbus/MBus.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtSerialPort.h"

namespace tarvel::integration {
namespace {

TEST(BlockSim, BlocksOfEveryTableMatchReadsOfOneItem) {
    std::string plant = "node 1\nfault 1 holding 40 exception 2\n";
    for (int i = 0; i < 20; ++i) {
        const std::string a = std::to_string(i);
        plant += "coil " + a + " " + std::to_string(i % 3 == 0) + "\ndiscrete " + a + " " +
                 std::to_string(i % 2) + "\nholding " + a + " " + std::to_string(1000 + i * 7) +
                 "\ninput " + a + " " + std::to_string(0xF000 + i) + "\n";
    }
    test::SimProcess sim;
    ASSERT_TRUE(sim.start(plant));
    QtSerialPort port{[&](int) { return sim.link(); }};
    QtClock clock;
    MBus bus{port, clock};
    ASSERT_TRUE(bus.ConfiguraPorta("1", "19200,N,8,1", 0, false, false, false));
    ASSERT_TRUE(bus.ApriPorta(true)) << port.errorText();
    bus.ImpostaTimeOut(300);

    for (std::uint8_t function = 1; function <= 4; ++function) {
        SCOPED_TRACE(function);
        // From 3, so that the bits do not start on a byte boundary.
        const std::optional<Blocco> block = bus.LeggiBlocco(function, 3, 17, 1);
        ASSERT_TRUE(block);
        for (std::uint16_t address = 3; address < 20; ++address)
            EXPECT_EQ(TestoElemento(*block, address), bus.LeggiHex(function, 0, address, 1))
                << address;
        EXPECT_EQ(TestoElemento(*block, 20), std::nullopt);
    }
    // The largest requests the protocol allows.
    EXPECT_TRUE(bus.LeggiBlocco(3, 41, MassimoBloccoRegistri, 1));
    EXPECT_TRUE(bus.LeggiBlocco(1, 0, MassimoBloccoBit, 1));

    // A block over an item the device refuses fails with the exception.
    EXPECT_EQ(bus.LeggiBlocco(3, 38, 5, 1), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::Eccezione);
    EXPECT_EQ(bus.codiceEccezione(), 2);
}

}  // namespace
}  // namespace tarvel::integration
