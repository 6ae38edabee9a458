// tarvel-sim on the demo map answers a libmodbus RTU master on its
// pseudo-terminal, floats included, and leaves cleanly on SIGTERM. The faults it plays are
// proven by the integration tests of the Modbus master.

#include <gtest/gtest.h>
#include <modbus.h>

#include "SimProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvel::test;

TEST(Simulator, AnswersALibmodbusMasterAndLeavesOnSigterm) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(ReadFile(TARVEL_DEMO_MAP)))
        << testing::PrintToString(sim.process().lines(ChildProcess::Err));
    EXPECT_EQ(fs::read_symlink(sim.link()).string(), sim.device());

    modbus_t* master = modbus_new_rtu(sim.link().c_str(), 9600, 'N', 8, 1);
    ASSERT_NE(master, nullptr);
    modbus_set_response_timeout(master, 0, 500000);
    ASSERT_EQ(modbus_connect(master), 0) << modbus_strerror(errno);
    modbus_set_slave(master, 3);
    std::uint16_t frequency = 0;
    const int read = modbus_read_input_registers(master, 2, 1, &frequency);
    std::string error = read == 1 ? "" : modbus_strerror(errno);
    // The float meter's voltage and frequency, as libmodbus's getters read
    // the two orders.
    modbus_set_slave(master, 4);
    std::uint16_t floats[4] = {};
    const int readFloats = modbus_read_input_registers(master, 0, 4, floats);
    if (readFloats != 4) error += modbus_strerror(errno);
    modbus_close(master);
    modbus_free(master);
    EXPECT_EQ(read, 1) << error;
    EXPECT_EQ(frequency, 500);  // the meter's grid frequency, 50.0 Hz
    ASSERT_EQ(readFloats, 4) << error;
    EXPECT_EQ(modbus_get_float_abcd(floats), 230.1f);
    EXPECT_EQ(modbus_get_float_cdab(floats + 2), 50.02f);

    ASSERT_TRUE(sim.process().signal(SIGTERM));
    EXPECT_EQ(sim.process().waitExit(3s), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.controlPath())));
}

}  // namespace
