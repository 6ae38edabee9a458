// One acquisition cycle of N read lines, run by tarvel-headless against
// tarvel-sim with wire-time emulation at 9600 baud, 10 bits a byte. What a
// cycle must take is the wire time of every request and answer, the time
// the device takes to answer, and the 200 ms pause between two lines; the
// rest is the logger's own overhead.
//
// The device time is measured first with the libmodbus master on the same
// simulator: the median time of one read minus its wire time (the pty and
// the simulator's own reaction).
//
// Counters: cycle_ms (the cycle's duration as the runner reports it),
// wire_ms, device_ms, pauses_ms (all for the whole cycle), and
// overhead_per_line_ms = (cycle - wire - device - pauses) / N; also
// overhead_no_device_per_line_ms, which counts the device time as overhead.
// Argument: N. Both programs are taken from the folder of this benchmark.

#include "TempFolder.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <modbus.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kBaud = 9600;
constexpr int kBitsPerByte = 10;
constexpr int kRequestBytes = 8;  // node, function, address, count, CRC
constexpr int kAnswerBytes = 7;   // node, function, byte count, one register, CRC
constexpr double kPauseMs = 200.0;

std::string siblingProgram(const char* name) {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string self(path, static_cast<std::size_t>(n));
    return self.substr(0, self.rfind('/') + 1) + name;
}

// A child whose stdout is read line by line; killed and reaped at the end.
class Child {
  public:
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ != nullptr) std::fclose(out_);
    }

    bool start(const std::string& program, const std::vector<std::string>& arguments) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = ::fdopen(fds[0], "r");
        return pid_ > 0 && out_ != nullptr;
    }

    std::optional<std::string> readLine() {
        char* line = nullptr;
        std::size_t size = 0;
        ssize_t n = ::getline(&line, &size, out_);
        std::optional<std::string> text;
        if (n >= 0) text = std::string(line, static_cast<std::size_t>(n));
        std::free(line);
        if (text && !text->empty() && text->back() == '\n') text->pop_back();
        return text;
    }

    // Asks the child to end and waits for it.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
};

using ScratchFolder = tarvel::test::TempFolder;

// Device 1 holds N input registers; line i reads register i.
void writePlant(const ScratchFolder& folder, int lines, const std::string& link) {
    std::ofstream map(folder / "plant.map");
    map << "node 1\n";
    for (int i = 0; i < lines; ++i) map << "input " << i << ' ' << 1000 + i << '\n';

    std::ofstream ini(folder / "Tarvel.INI");
    ini << "[Ports]\nCOM1=" << link << "\n\n"
        << "[Serial_0]\nCOM=1\nSettings=" << kBaud << ",N,8,1\nTimeOut=1000\nRetry=1\n\n"
        << "[Parameters]\nFirt=1\nLast=" << lines << "\nInterval=1\n";
    for (int i = 0; i < lines; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "%03d", i + 1);
        ini << key << "=1,4," << i << ",0;V" << i << '\n';
    }
}

double wireMsPerRead() { return (kRequestBytes + kAnswerBytes) * kBitsPerByte * 1000.0 / kBaud; }

// The median time of one read with the libmodbus master, in ms; nothing
// when the reads fail.
std::optional<double> referenceReadMs(const std::string& link, int registers) {
    modbus_t* master = modbus_new_rtu(link.c_str(), kBaud, 'N', 8, 1);
    if (master == nullptr) return std::nullopt;
    std::vector<double> times;
    if (modbus_set_slave(master, 1) == 0 && modbus_connect(master) == 0) {
        for (int i = 0; i < 20; ++i) {
            std::uint16_t value = 0;
            const auto start = std::chrono::steady_clock::now();
            if (modbus_read_input_registers(master, i % registers, 1, &value) != 1) break;
            std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            times.push_back(took.count());
        }
        modbus_close(master);
    }
    modbus_free(master);
    if (times.size() < 20) return std::nullopt;
    std::nth_element(times.begin(), times.begin() + 10, times.end());
    return times[10];
}

// The duration and failed reads of the cycle line; nothing for other lines.
std::optional<std::pair<long, int>> parseCycle(const std::string& line) {
    static const std::regex pattern(R"(^Ciclo \d+: .*letture fallite (\d+), durata (\d+) ms)");
    std::smatch match;
    if (!std::regex_search(line, match, pattern)) return std::nullopt;
    return std::make_pair(std::stol(match[2]), std::stoi(match[1]));
}

void BM_CycleOverhead(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    ScratchFolder folder;
    const std::string link = folder / "ttySIM";
    writePlant(folder, lines, link);

    Child sim;
    if (!sim.start(siblingProgram("tarvel-sim"),
                   {"--map", folder / "plant.map", "--link", link, "--baud", std::to_string(kBaud),
                    "--bits", std::to_string(kBitsPerByte)}) ||
        !sim.readLine()) {
        state.SkipWithError("tarvel-sim did not start");
        return;
    }
    auto referenceMs = referenceReadMs(link, lines);
    if (!referenceMs) {
        state.SkipWithError("the libmodbus master could not read from tarvel-sim");
        return;
    }
    Child runner;
    if (!runner.start(siblingProgram("tarvel-headless"), {"--folder", folder.path().string()})) {
        state.SkipWithError("tarvel-headless did not start");
        return;
    }

    double totalMs = 0;
    int cycles = 0;
    for (auto _ : state) {
        std::optional<std::pair<long, int>> cycle;
        while (!cycle) {
            auto line = runner.readLine();
            if (!line) break;
            cycle = parseCycle(*line);
        }
        if (!cycle || cycle->second != 0) {
            state.SkipWithError(cycle ? "reads failed" : "tarvel-headless ended");
            break;
        }
        state.SetIterationTime(static_cast<double>(cycle->first) / 1000.0);
        totalMs += static_cast<double>(cycle->first);
        ++cycles;
    }
    runner.stop();
    sim.stop();
    if (cycles == 0) return;

    const double cycleMs = totalMs / cycles;
    const double wireMs = lines * wireMsPerRead();
    const double deviceMs = lines * std::max(0.0, *referenceMs - wireMsPerRead());
    const double pausesMs = (lines - 1) * kPauseMs;
    state.counters["cycle_ms"] = cycleMs;
    state.counters["wire_ms"] = wireMs;
    state.counters["device_ms"] = deviceMs;
    state.counters["pauses_ms"] = pausesMs;
    state.counters["overhead_per_line_ms"] = (cycleMs - wireMs - deviceMs - pausesMs) / lines;
    state.counters["overhead_no_device_per_line_ms"] = (cycleMs - wireMs - pausesMs) / lines;
}

BENCHMARK(BM_CycleOverhead)->Arg(10)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CycleOverhead)
    ->Arg(100)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
