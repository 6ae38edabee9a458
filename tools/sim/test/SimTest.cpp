// Runs tarvel-sim and talks to it with the libmodbus RTU master, through the
// pty it prints and the symlink it makes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
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

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// A folder for the map, the link and the control pipe, removed at the end.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "tarvel-sim-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// The simulator process; killed if still running when the guard ends.
class SimProcess {
  public:
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    bool start(const std::vector<std::string>& arguments, const fs::path& errorLog) {
        int fds[2];
        if (::pipe(fds) != 0) return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const int log = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (log >= 0) ::dup2(log, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(TARVEL_SIM_PATH)};
            for (const auto& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(TARVEL_SIM_PATH, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
        return pid_ > 0;
    }

    // The next line of stdout, or nothing after `timeout`.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout) {
        const auto end = Clock::now() + timeout;
        std::string line;
        while (Clock::now() < end) {
            pollfd fd{out_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (::poll(&fd, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
            char c;
            if (::read(out_, &c, 1) != 1) return std::nullopt;
            if (c == '\n') return line;
            line += c;
        }
        return std::nullopt;
    }

    void signal(int number) const { ::kill(pid_, number); }

    // The exit code, or nothing when the process is still running after `timeout`.
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        const auto end = Clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > end) return std::nullopt;
            std::this_thread::sleep_for(10ms);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Processor time used so far, in clock ticks.
    long cpuTicks() const {
        std::istringstream stat(ReadText("/proc/" + std::to_string(pid_) + "/stat"));
        std::string field;
        long ticks = 0;
        for (int i = 1; i <= 15 && stat >> field; ++i) {
            if (i >= 14) ticks += std::stol(field);
        }
        return ticks;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

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
    void SetUp() override {
        ASSERT_FALSE(folder_.path().empty());
        WriteText(mapPath(), kTestMap);
    }
    void TearDown() override {
        if (HasFailure()) std::cerr << "simulator log:\n" << ReadText(folder_.path() / "sim.log");
    }

    fs::path mapPath() const { return folder_.path() / "plant.map"; }
    fs::path linkPath() const { return folder_.path() / "port"; }
    fs::path fifoPath() const { return folder_.path() / "control"; }

    // Starts the simulator and returns the pty path it printed.
    std::string startSim(SimProcess& sim, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments{
            "--map",     mapPath().string(),  "--link", linkPath().string(),
            "--control", fifoPath().string(), "--hour", "12"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        if (!sim.start(arguments, folder_.path() / "sim.log")) return {};
        return sim.readLine(3s).value_or("");
    }

    void command(const std::string& line) const { WriteText(fifoPath(), line + "\n"); }

    TempFolder folder_;
};

TEST_F(SimTest, ServesEveryFunctionCodeFromTheMap) {
    SimProcess sim;
    const std::string pty = startSim(sim);
    ASSERT_TRUE(pty.starts_with("/dev/pts/")) << pty;
    EXPECT_EQ(fs::read_symlink(linkPath()).string(), pty);
    Master master(linkPath().string());
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
    SimProcess sim;
    ASSERT_FALSE(startSim(sim).empty());
    Master master(linkPath().string());
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
    auto voltages = [this](const std::string& seed) {
        SimProcess sim;
        std::vector<int> values;
        if (startSim(sim, {"--seed", seed}).empty()) return values;
        Master master(linkPath().string());
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
    SimProcess sim;
    ASSERT_FALSE(startSim(sim).empty());
    Master master(linkPath().string());
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
    SimProcess sim;
    ASSERT_FALSE(startSim(sim, {"--baud", "1200", "--bits", "11"}).empty());
    Master master(linkPath().string());
    ASSERT_TRUE(master.connected());
    int error = 0;
    // 8 request bytes and 7 answer bytes of 11 bits at 1200 baud: 137.5 ms.
    const auto before = Clock::now();
    EXPECT_EQ(master.readHolding(1, 12, error), 2301);
    EXPECT_GE(Clock::now() - before, 137ms);
}

TEST_F(SimTest, ControlPipeAndSignalsReloadUnplugAndEnd) {
    SimProcess sim;
    ASSERT_FALSE(startSim(sim).empty());
    int error = 0;
    {
        Master master(linkPath().string());
        ASSERT_TRUE(master.connected());
        ASSERT_EQ(master.readHolding(2, 0, error), 22);

        WriteText(mapPath(), std::string(kTestMap) + "fault 2 silent\n");
        command("reload");
        std::optional<int> value = 22;
        for (int i = 0; i < 10 && value; ++i) value = master.readHolding(2, 0, error);
        EXPECT_FALSE(value);
        EXPECT_EQ(error, ETIMEDOUT);

        WriteText(mapPath(), std::string(kTestMap) + "fault 2 holding 0 exception 4\n");
        sim.signal(SIGUSR1);
        for (int i = 0; i < 10 && error != EMBXSFAIL; ++i) master.readHolding(2, 0, error);
        EXPECT_EQ(error, EMBXSFAIL);

        command("unplug");
        value = 0;
        for (int i = 0; i < 10 && value; ++i) value = master.readHolding(1, 12, error);
        EXPECT_FALSE(value);
    }
    command("plug");
    const auto pty = sim.readLine(3s);
    ASSERT_TRUE(pty);
    EXPECT_EQ(fs::read_symlink(linkPath()).string(), *pty);
    Master again(linkPath().string());
    ASSERT_TRUE(again.connected());
    EXPECT_EQ(again.readHolding(1, 12, error), 2301);

    // Idle means asleep: no more than a few clock ticks in 300 ms.
    const long ticks = sim.cpuTicks();
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(sim.cpuTicks() - ticks, 3);

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitExit(3s), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(linkPath())));
    EXPECT_FALSE(fs::exists(fs::symlink_status(fifoPath())));
}

TEST_F(SimTest, DemoPlantMapLoadsAndAnswers) {
    SimProcess sim;
    std::vector<std::string> arguments{"--map", TARVEL_DEMO_MAP, "--link", linkPath().string()};
    ASSERT_TRUE(sim.start(arguments, folder_.path() / "sim.log"));
    ASSERT_TRUE(sim.readLine(3s));
    Master master(linkPath().string());
    ASSERT_TRUE(master.connected());
    for (int node : {1, 2}) {
        std::uint16_t voltage = 0;
        ASSERT_EQ(modbus_read_input_registers(master.context(node), 12, 1, &voltage), 1) << node;
        EXPECT_NEAR(voltage, 2300, 30);
    }
    std::uint16_t words[2] = {};
    ASSERT_EQ(modbus_read_registers(master.context(3), 200, 2, words), 2);
    EXPECT_GT((static_cast<std::uint32_t>(words[0]) << 16) | words[1], 0u);
    sim.signal(SIGINT);
    EXPECT_EQ(sim.waitExit(3s), 0);
}

}  // namespace
