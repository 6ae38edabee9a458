// Runs tarvel-sim and talks to it with the libmodbus RTU master, through the
// pty it prints and the symlink it makes.

#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>

#include <cerrno>
#include <iostream>
#include <sstream>

#include "SimProcess.h"

namespace {

namespace fs = std::filesystem;
using tarvel::test::ChildProcess;
using tarvel::test::ReadFile;
using tarvel::test::SimProcess;
using tarvel::test::WriteFile;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kTestMap = R"(
node 1
coil 0 1
coil 1 0
coil 2 1
discrete 3 1
holding 12 2301
holding 13 -2
input 12 0x08FD
input 20 live:voltage
input 21 live:power:3000
coil 5 live:status
holding 100 live:energy_hi:50000:0xFFF0
holding 101 live:energy_lo
holding 40 7
fault 1 holding 40 exception 2
fault 1 holding 41 badcrc
fault 1 holding 42 wrongnode 9
fault 1 holding 43 partial 4
fault 1 holding 44 delay 250
fault 1 holding 45 stray
node 2
holding 0 22
)";

// Processor time the process used so far, in clock ticks.
long CpuTicks(pid_t pid) {
    std::istringstream stat(ReadFile("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        if (i >= 14) ticks += std::stol(field);
    return ticks;
}

// A libmodbus RTU master on a path.
class Master {
  public:
    explicit Master(const std::string& path) {
        context_ = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
        if (context_ == nullptr) return;
        modbus_set_response_timeout(context_, 0, 400000);
        modbus_set_byte_timeout(context_, 0, 100000);
        connected_ = modbus_connect(context_) == 0;
    }
    ~Master() {
        if (connected_) modbus_close(context_);
        if (context_ != nullptr) modbus_free(context_);
    }
    bool connected() const { return connected_; }
    modbus_t* context(int node) {
        modbus_set_slave(context_, node);
        return context_;
    }
    // One holding register, or the errno of the failure.
    std::optional<int> readHolding(int node, int address, int& error) {
        std::uint16_t value = 0;
        if (modbus_read_registers(context(node), address, 1, &value) == 1) return value;
        error = errno;
        modbus_flush(context_);
        return std::nullopt;
    }

  private:
    modbus_t* context_ = nullptr;
    bool connected_ = false;
};

class SimTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (!HasFailure()) return;
        std::cerr << "simulator log:\n";
        for (const auto& line : sim.process().lines(ChildProcess::Err)) std::cerr << line << '\n';
    }

    // Starts the simulator at noon; the pty path it printed.
    std::string startSim(std::vector<std::string> extra = {}, const std::string& map = kTestMap) {
        extra.insert(extra.end(), {"--hour", "12"});
        return sim.start(map, extra) ? sim.device() : "";
    }
    std::string linkPath() const { return sim.link(); }

    SimProcess sim;
};

TEST_F(SimTest, ServesEveryFunctionCodeFromTheMap) {
    const std::string pty = startSim();
    ASSERT_TRUE(pty.starts_with("/dev/pts/")) << pty;
    EXPECT_EQ(fs::read_symlink(linkPath()).string(), pty);
    Master master(linkPath());
    ASSERT_TRUE(master.connected());

    std::uint8_t bits[3] = {};
    ASSERT_EQ(modbus_read_bits(master.context(1), 0, 3, bits), 3);
    EXPECT_EQ((std::vector<int>{bits[0], bits[1], bits[2]}), (std::vector<int>{1, 0, 1}));
    ASSERT_EQ(modbus_read_input_bits(master.context(1), 2, 2, bits), 2);
    EXPECT_EQ(bits[0], 0);
    EXPECT_EQ(bits[1], 1);
    std::uint16_t registers[2] = {};
    ASSERT_EQ(modbus_read_registers(master.context(1), 12, 2, registers), 2);
    EXPECT_EQ(registers[0], 2301);
    EXPECT_EQ(registers[1], 0xFFFE);
    ASSERT_EQ(modbus_read_input_registers(master.context(1), 12, 1, registers), 1);
    EXPECT_EQ(registers[0], 0x08FD);
    ASSERT_EQ(modbus_read_registers(master.context(2), 0, 1, registers), 1);
    EXPECT_EQ(registers[0], 22);

    // Writes go through libmodbus too and change the value read back.
    ASSERT_EQ(modbus_write_register(master.context(1), 12, 1234), 1);
    ASSERT_EQ(modbus_write_bit(master.context(1), 1, 1), 1);
    ASSERT_EQ(modbus_read_registers(master.context(1), 12, 1, registers), 1);
    EXPECT_EQ(registers[0], 1234);
    ASSERT_EQ(modbus_read_bits(master.context(1), 1, 1, bits), 1);
    EXPECT_EQ(bits[0], 1);
}

TEST_F(SimTest, LiveValuesMoveWithinTheirBoundsAndTheCounterOnlyGrows) {
    ASSERT_FALSE(startSim().empty());
    Master master(linkPath());
    ASSERT_TRUE(master.connected());

    std::uint16_t inputs[2] = {};
    ASSERT_EQ(modbus_read_input_registers(master.context(1), 20, 2, inputs), 2);
    EXPECT_NEAR(inputs[0], 2300, 20);
    EXPECT_NEAR(inputs[1], 3000, 30);  // noon, peak 3000 W, +-1 %
    std::uint8_t status = 0;
    ASSERT_EQ(modbus_read_bits(master.context(1), 5, 1, &status), 1);
    EXPECT_EQ(status, 1);

    std::vector<std::uint32_t> counts;
    for (int i = 0; i < 15; ++i) {
        std::uint16_t words[2] = {};
        ASSERT_EQ(modbus_read_registers(master.context(1), 100, 2, words), 2);
        counts.push_back((static_cast<std::uint32_t>(words[0]) << 16) | words[1]);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(counts.front(), 0xFFF0u);
    for (std::size_t i = 1; i < counts.size(); ++i) EXPECT_GE(counts[i], counts[i - 1]) << i;
    // 50000 a second from 0xFFF0: past the first high-word carry by now.
    EXPECT_GT(counts.back(), 0x10000u);
}

TEST_F(SimTest, SameSeedGivesTheSameValues) {
    auto voltages = [](const std::string& seed) {
        SimProcess sim;
        std::vector<int> values;
        if (!sim.start(kTestMap, {"--seed", seed, "--hour", "12"})) return values;
        Master master(sim.link());
        for (int i = 0; i < 6 && master.connected(); ++i) {
            std::uint16_t value = 0;
            if (modbus_read_input_registers(master.context(1), 20, 1, &value) == 1) {
                values.push_back(value);
            }
        }
        return values;
    };
    const auto first = voltages("7");
    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(voltages("7"), first);
    EXPECT_NE(voltages("8"), first);
}

TEST_F(SimTest, FaultsGiveTheirErrors) {
    ASSERT_FALSE(startSim().empty());
    Master master(linkPath());
    ASSERT_TRUE(master.connected());
    int error = 0;

    EXPECT_FALSE(master.readHolding(1, 40, error));
    EXPECT_EQ(error, EMBXILADD);
    EXPECT_FALSE(master.readHolding(1, 41, error));
    EXPECT_EQ(error, EMBBADCRC);
    EXPECT_FALSE(master.readHolding(1, 42, error));
    EXPECT_EQ(error, EMBBADSLAVE);
    EXPECT_FALSE(master.readHolding(1, 43, error));
    EXPECT_EQ(error, ETIMEDOUT);
    EXPECT_FALSE(master.readHolding(1, 45, error));
    EXPECT_EQ(error, EMBBADSLAVE);
    EXPECT_FALSE(master.readHolding(9, 0, error));  // no such node
    EXPECT_EQ(error, ETIMEDOUT);

    const auto before = Clock::now();
    EXPECT_EQ(master.readHolding(1, 44, error), 0);
    EXPECT_GE(Clock::now() - before, 250ms);

    // A request with a bad CRC gets no answer; the next good one does.
    const int fd = modbus_get_socket(master.context(1));
    const std::uint8_t damaged[] = {0x01, 0x03, 0x00, 0x0C, 0x00, 0x01, 0x44, 0x0A};
    ASSERT_EQ(::write(fd, damaged, sizeof damaged), 8);
    pollfd answer{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&answer, 1, 200), 0);
    EXPECT_EQ(master.readHolding(1, 12, error), 2301);
}

TEST_F(SimTest, BaudRateAddsTheWireTime) {
    ASSERT_FALSE(startSim({"--baud", "1200", "--bits", "11"}).empty());
    Master master(linkPath());
    ASSERT_TRUE(master.connected());
    int error = 0;
    // 8 request bytes and 7 answer bytes of 11 bits at 1200 baud: 137.5 ms.
    const auto before = Clock::now();
    EXPECT_EQ(master.readHolding(1, 12, error), 2301);
    EXPECT_GE(Clock::now() - before, 137ms);
}

TEST_F(SimTest, ControlPipeAndSignalsReloadUnplugAndEnd) {
    ASSERT_FALSE(startSim().empty());
    int error = 0;
    {
        Master master(linkPath());
        ASSERT_TRUE(master.connected());
        ASSERT_EQ(master.readHolding(2, 0, error), 22);

        WriteFile(sim.mapPath(), std::string(kTestMap) + "fault 2 silent\n");
        ASSERT_TRUE(sim.control("reload"));
        std::optional<int> value = 22;
        for (int i = 0; i < 10 && value; ++i) value = master.readHolding(2, 0, error);
        EXPECT_FALSE(value);
        EXPECT_EQ(error, ETIMEDOUT);

        WriteFile(sim.mapPath(), std::string(kTestMap) + "fault 2 holding 0 exception 4\n");
        sim.process().signal(SIGUSR1);
        for (int i = 0; i < 10 && error != EMBXSFAIL; ++i) master.readHolding(2, 0, error);
        EXPECT_EQ(error, EMBXSFAIL);

        ASSERT_TRUE(sim.control("unplug"));
        value = 0;
        for (int i = 0; i < 10 && value; ++i) value = master.readHolding(1, 12, error);
        EXPECT_FALSE(value);
    }
    ASSERT_TRUE(sim.control("plug"));
    const auto pty = sim.process().waitForLine(
        ChildProcess::Out, [](const std::string&) { return true; }, 3s, 1);
    ASSERT_TRUE(pty);
    EXPECT_EQ(fs::read_symlink(linkPath()).string(), *pty);
    Master again(linkPath());
    ASSERT_TRUE(again.connected());
    EXPECT_EQ(again.readHolding(1, 12, error), 2301);

    // Idle means asleep: no more than a few clock ticks in 300 ms.
    const long ticks = CpuTicks(sim.process().pid());
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(CpuTicks(sim.process().pid()) - ticks, 3);

    sim.process().signal(SIGTERM);
    EXPECT_EQ(sim.process().waitExit(3s), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(linkPath())));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.controlPath())));
}

TEST_F(SimTest, DemoPlantMapLoadsAndAnswers) {
    ASSERT_FALSE(startSim({}, ReadFile(TARVEL_DEMO_MAP)).empty());
    Master master(linkPath());
    ASSERT_TRUE(master.connected());
    for (int node : {1, 2}) {
        std::uint16_t voltage = 0;
        ASSERT_EQ(modbus_read_input_registers(master.context(node), 12, 1, &voltage), 1) << node;
        EXPECT_NEAR(voltage, 2300, 30);
    }
    std::uint16_t words[2] = {};
    ASSERT_EQ(modbus_read_registers(master.context(3), 200, 2, words), 2);
    EXPECT_GT((static_cast<std::uint32_t>(words[0]) << 16) | words[1], 0u);
    sim.process().signal(SIGINT);
    EXPECT_EQ(sim.process().waitExit(3s), 0);
}

}  // namespace
