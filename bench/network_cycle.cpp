// The acquisition cycle on a network port against libmodbus's master, on the
// loopback address, in one run: after each cycle of tarvel-headless (the
// first left out: it makes the connection), while it waits its interval,
// libmodbus reads the same registers in a loop, so that both meet the same
// load of the machine; the figures are the medians over the rounds.
//
// BM_NetworkCycle/0 (Modbus TCP) and /1 (RTU frames over TCP):
// single-register reads with Pause=0 against tarvel-sim. Counters:
// tarvel_us and libmodbus_us, the time per read (tarvel: the cycle's
// duration as the runner reports it); tarvel_cpu_us and libmodbus_cpu_us,
// the CPU time per read (tarvel: every thread of the runner from one cycle
// line to the next; libmodbus: the thread of its loop); time_ratio and
// cpu_ratio, tarvel over libmodbus.
// A cycle also writes its XML file so that a power cut leaves the old one or
// the new one (written beside, flushed, renamed), which libmodbus's loop
// does not: file_us and file_cpu_us are that write of the
// same bytes by the benchmark after the loop, per read, and
// time_ratio_with_file and cpu_ratio_with_file compare the cycle with the
// loop and the write together.
// What a cycle costs once, whatever its length (the output, the cycle's
// line), is measured too, with a list of one line in the same run:
// tarvel_read_us and tarvel_read_cpu_us are what each further line adds
// (the difference of the two cycles over the difference of their lines),
// read_time_ratio and read_cpu_ratio compare that with libmodbus's read.
// What the machine charges for memory left idle, measured in the same run:
// touch_after_wait_us and touch_after_interval_us, the CPU time of reading
// one byte of each of 64 pages after sleeping 2 ms (an answer's wait) or
// the interval. Where memory stays at hand both are about a microsecond;
// where the host takes idle memory back, the second grows with the idle
// time, and each page a cycle touches after its interval costs about a
// 64th of it. Both masters pay it for every page they touch.
//
// BM_Window/W: a Modbus TCP server of libmodbus's that sends each answer
// 5 ms after its request, however many wait; the cycle with Window=W, and
// libmodbus's loop, which keeps one request out. Counters: tarvel_reads_s,
// libmodbus_reads_s and their ratio.

#include <arpa/inet.h>
#include <fcntl.h>
#include <benchmark/benchmark.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "SimProcess.h"

namespace {

using namespace tarvel::test;
using Steady = std::chrono::steady_clock;

constexpr int Rounds = 10;  // a round for each cycle after the first

double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The CPU time of every thread of a process, from the scheduler's
// nanosecond counters.
double processCpuSeconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream in(task.path() / "schedstat");
        double ns = 0;
        if (in >> ns) total += ns * 1e-9;
    }
    return total;
}

// Line i reads holding register i of node 1; `profile` holds more keys of
// Serial_0. The interval leaves the runner idle while libmodbus reads.
void writeSettings(const TempFolder& folder, const std::string& link, int lines,
                   const std::string& profile, int intervalMs) {
    std::string ini = "[Ports]\nCOM1=" + link + "\n\n[Serial_0]\nCOM=1\nSettings=19200,N,8,1\n"
                      "TimeOut=1000\nPause=0\n" + profile + "\n[Parameters]\nFirt=1\nLast=" +
                      std::to_string(lines) + "\nInterval=" + std::to_string(intervalMs) + "\n";
    for (int i = 0; i < lines; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "%03d=1,3,%d,0;V%d\n", i + 1, i, i);
        ini += line;
    }
    WriteFile(folder / "Tarvel.INI", ini);
}

// Time and CPU per read of each master in one round.
struct Round {
    double tarvelUs = 0, tarvelCpuUs = 0, libmodbusUs = 0, libmodbusCpuUs = 0;
    double fileUs = 0, fileCpuUs = 0;
};

// The cycle's XML file written again as the cycle writes it, beside it:
// time and CPU per read into the round.
bool writeAsTheCycle(const std::filesystem::path& folder, int lines, Round& round) {
    std::ifstream in(folder / "NoName.xml", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const double cpu = threadCpuSeconds();
    const auto start = Steady::now();
    const std::string temporary = (folder / ".reference.xml.tmp").string();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
              ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    ok = ok && ::rename(temporary.c_str(), (folder / "reference.xml").c_str()) == 0;
    const std::chrono::duration<double, std::micro> took = Steady::now() - start;
    round.fileUs = took.count() / lines;
    round.fileCpuUs = (threadCpuSeconds() - cpu) * 1e6 / lines;
    return ok && !bytes.empty();
}

// libmodbus's master reading the registers of the lines once, in a loop,
// after an idle time as a cycle comes after its interval: time and CPU per
// read into the round, the CPU with the wake-up from the idle time as the
// cycle's is; false when a read fails.
bool libmodbusLoop(modbus_t* ctx, int lines, std::chrono::milliseconds idle, Round& round) {
    std::uint16_t value = 0;
    const double cpu = threadCpuSeconds();
    std::this_thread::sleep_for(idle);
    const auto start = Steady::now();
    for (int i = 0; i < lines; ++i)
        if (modbus_read_registers(ctx, i, 1, &value) != 1 || value != 7) return false;
    const std::chrono::duration<double, std::micro> took = Steady::now() - start;
    round.libmodbusUs = took.count() / lines;
    round.libmodbusCpuUs = (threadCpuSeconds() - cpu) * 1e6 / lines;
    return true;
}

// tarvel-headless's cycles, and after each of them (while the runner waits
// its interval) libmodbus's loop over the same registers, so that both
// meet the same load of the machine: a round for each cycle but the first,
// which makes the connection. The loop starts half the interval after the
// cycle's line, so that it too comes out of an idle time, with the server
// idle as long. Nothing after an error or a failed read.
std::optional<std::vector<Round>> interleaved(const std::string& link, int lines,
                                              const std::string& profile, int intervalMs,
                                              modbus_t* ctx) {
    static const std::regex pattern(R"(^Ciclo \d+: .*letture fallite (\d+), .*durata (\d+) ms)");
    TempFolder folder;
    writeSettings(folder, link, lines, profile, intervalMs);
    ChildProcess runner;
    if (!runner.start(ProgramBeside("tarvel-headless"), {"--folder", folder.path().string()}))
        return std::nullopt;
    std::vector<Round> rounds;
    double cpuBefore = 0;
    std::size_t next = 0;
    for (int cycle = 0; cycle <= Rounds; ++cycle) {
        const auto line = runner.waitForLine(
            ChildProcess::Out, [](const std::string& l) { return std::regex_search(l, pattern); },
            std::chrono::minutes(2), next, &next);
        ++next;
        std::smatch found;
        if (!line || !std::regex_search(*line, found, pattern) || found[1] != "0")
            return std::nullopt;
        const double cpu = processCpuSeconds(runner.pid());
        Round round;
        round.tarvelUs = std::stod(found[2]) * 1000 / lines;
        round.tarvelCpuUs = (cpu - cpuBefore) * 1e6 / lines;
        cpuBefore = cpu;
        const auto idle = std::chrono::milliseconds(intervalMs / 2);
        if (!libmodbusLoop(ctx, lines, idle, round) || !writeAsTheCycle(folder.path(), lines, round))
            return std::nullopt;
        if (cycle > 0) rounds.push_back(round);
    }
    return rounds;
}

// The CPU time of reading a byte of each of 64 pages after sleeping
// `idle`, the median of `times`, in microseconds.
double touchAfterIdleUs(std::chrono::milliseconds idle, int times) {
    constexpr std::size_t Pages = 64, Page = 4096;
    std::vector<char> memory(Pages * Page, 1);
    std::vector<double> costs;
    for (int i = 0; i < times; ++i) {
        std::this_thread::sleep_for(idle);
        const double cpu = threadCpuSeconds();
        for (std::size_t p = 0; p < Pages; ++p)
            (void)*static_cast<volatile char*>(&memory[p * Page]);
        costs.push_back((threadCpuSeconds() - cpu) * 1e6);
    }
    std::sort(costs.begin(), costs.end());
    return costs[costs.size() / 2];
}

double median(std::vector<Round> rounds, double Round::*field) {
    std::sort(rounds.begin(), rounds.end(),
              [field](const Round& a, const Round& b) { return a.*field < b.*field; });
    return rounds[rounds.size() / 2].*field;
}

// "127.0.0.1:PORT" -> its port number.
int portOf(const std::string& address) { return std::stoi(address.substr(address.rfind(':') + 1)); }

// libmodbus's master connected to a Modbus TCP server, or (rtu) with its
// RTU framing on a TCP connection to a serial device server: the RTU
// context is handed the connected socket in place of a serial device.
struct LibmodbusMaster {
    LibmodbusMaster(const std::string& address, bool rtu) {
        const int port = portOf(address);
        if (!rtu) {
            ctx = modbus_new_tcp("127.0.0.1", port);
            ok = ctx && modbus_connect(ctx) == 0;
        } else {
            ctx = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
            socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in at{AF_INET, htons(static_cast<std::uint16_t>(port)),
                           {htonl(INADDR_LOOPBACK)}, {}};
            ok = ctx && ::connect(socket, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                 modbus_set_socket(ctx, socket) == 0;
        }
        ok = ok && modbus_set_slave(ctx, 1) == 0 &&
             modbus_set_response_timeout(ctx, 1, 0) == 0;
    }
    ~LibmodbusMaster() {
        if (socket >= 0)
            ::close(socket);
        else if (ctx)
            modbus_close(ctx);
        if (ctx) modbus_free(ctx);
    }
    LibmodbusMaster(const LibmodbusMaster&) = delete;
    LibmodbusMaster& operator=(const LibmodbusMaster&) = delete;

    modbus_t* ctx = nullptr;
    int socket = -1;
    bool ok = false;
};

// 500 lines. Modbus TCP: 300 ms between cycles; RTU over TCP, where the
// simulator takes each frame after its silence (about 2 ms, a second a
// cycle): 2500 ms, so that libmodbus's loop ends before the next cycle.
void BM_NetworkCycle(benchmark::State& state) {
    const bool rtu = state.range(0) == 1;
    const int lines = 500;
    std::string map = "node 1\n";
    for (int i = 0; i < lines; ++i) map += "holding " + std::to_string(i) + " 7\n";
    SimProcess sim;
    const std::string kind = rtu ? "rtu-tcp" : "tcp";
    if (!sim.start(map, {"--" + kind, "0"})) {
        state.SkipWithError("tarvel-sim did not start");
        return;
    }
    const std::string address = sim.address(kind);
    LibmodbusMaster master(address, rtu);
    const std::string link = (rtu ? "tcp://" : "mbtcp://") + address;
    const int intervalMs = rtu ? 2500 : 300;
    std::vector<Round> rounds, oneLine;
    for (auto _ : state) {
        const auto more = master.ok ? interleaved(link, lines, "", intervalMs, master.ctx)
                                    : std::nullopt;
        const auto single = more ? interleaved(link, 1, "", intervalMs, master.ctx) : std::nullopt;
        if (!more || !single) {
            state.SkipWithError("a cycle or a read failed");
            return;
        }
        state.SetIterationTime(median(*more, &Round::tarvelUs) * lines * 1e-6);
        rounds.insert(rounds.end(), more->begin(), more->end());
        oneLine.insert(oneLine.end(), single->begin(), single->end());
    }
    auto& c = state.counters;
    // Per read figures of the one-line cycles are those of the whole cycle.
    const auto added = [&](double Round::*field) {
        return (median(rounds, field) * lines - median(oneLine, field)) / (lines - 1);
    };
    c["tarvel_read_us"] = added(&Round::tarvelUs);
    c["tarvel_read_cpu_us"] = added(&Round::tarvelCpuUs);
    c["tarvel_us"] = median(rounds, &Round::tarvelUs);
    c["libmodbus_us"] = median(rounds, &Round::libmodbusUs);
    c["time_ratio"] = c["tarvel_us"] / c["libmodbus_us"];
    c["tarvel_cpu_us"] = median(rounds, &Round::tarvelCpuUs);
    c["libmodbus_cpu_us"] = median(rounds, &Round::libmodbusCpuUs);
    c["cpu_ratio"] = c["tarvel_cpu_us"] / c["libmodbus_cpu_us"];
    c["file_us"] = median(rounds, &Round::fileUs);
    c["file_cpu_us"] = median(rounds, &Round::fileCpuUs);
    c["time_ratio_with_file"] = c["tarvel_us"] / (c["libmodbus_us"] + c["file_us"]);
    c["cpu_ratio_with_file"] = c["tarvel_cpu_us"] / (c["libmodbus_cpu_us"] + c["file_cpu_us"]);
    c["read_time_ratio"] = c["tarvel_read_us"] / c["libmodbus_us"];
    c["read_cpu_ratio"] = c["tarvel_read_cpu_us"] / c["libmodbus_cpu_us"];
    c["touch_after_wait_us"] = touchAfterIdleUs(std::chrono::milliseconds(2), 51);
    c["touch_after_interval_us"] = touchAfterIdleUs(std::chrono::milliseconds(intervalMs), 3);
}

// A Modbus TCP server that answers every request DelayMs after it came, on
// every connection, however many requests wait: libmodbus's answers, held
// back for the time.
class DelayedServer {
  public:
    static constexpr int DelayMs = 5;

    DelayedServer() : mapping_(modbus_mapping_new(0, 0, 1000, 0)) {
        for (int i = 0; i < 1000; ++i) mapping_->tab_registers[i] = 7;
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof at;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
            ::listen(listener_, 4) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) == 0)
            port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~DelayedServer() {
        stop_ = true;
        thread_.join();
        for (const auto& [fd, bytes] : connections_) ::close(fd);
        ::close(listener_);
        modbus_free(context_);
        modbus_mapping_free(mapping_);
    }
    DelayedServer(const DelayedServer&) = delete;
    DelayedServer& operator=(const DelayedServer&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    struct Due {
        Steady::time_point at;
        int fd;
        std::vector<std::uint8_t> request;
    };

    void serve() {
        while (!stop_) {
            std::vector<pollfd> watched{{listener_, POLLIN, 0}};
            for (const auto& [fd, bytes] : connections_) watched.push_back({fd, POLLIN, 0});
            int wait = 20;
            if (!due_.empty())
                wait = static_cast<int>(std::max<long>(
                    0, std::chrono::ceil<std::chrono::milliseconds>(due_.front().at - Steady::now())
                           .count()));
            ::poll(watched.data(), watched.size(), wait);
            if (watched[0].revents & POLLIN) {
                const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) connections_[fd] = {};
            }
            for (std::size_t i = 1; i < watched.size(); ++i)
                if (watched[i].revents) take(watched[i].fd);
            answerDue();
        }
    }
    // Cuts what came into requests by their MBAP length.
    void take(int fd) {
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(fd);
            connections_.erase(fd);
            return;
        }
        auto& bytes = connections_[fd];
        bytes.insert(bytes.end(), buffer, buffer + n);
        while (bytes.size() >= 6 && bytes.size() >= 6u + (bytes[4] << 8 | bytes[5])) {
            const auto end = bytes.begin() + 6 + (bytes[4] << 8 | bytes[5]);
            due_.push_back({Steady::now() + std::chrono::milliseconds(DelayMs), fd,
                            std::vector<std::uint8_t>(bytes.begin(), end)});
            bytes.erase(bytes.begin(), end);
        }
    }
    void answerDue() {
        while (!due_.empty() && due_.front().at <= Steady::now()) {
            const Due d = std::move(due_.front());
            due_.erase(due_.begin());
            if (!connections_.contains(d.fd)) continue;
            modbus_set_socket(context_, d.fd);
            modbus_reply(context_, d.request.data(), static_cast<int>(d.request.size()), mapping_);
        }
    }

    modbus_t* context_ = modbus_new_tcp("127.0.0.1", 0);
    modbus_mapping_t* mapping_;
    int listener_ = -1;
    int port_ = 0;
    std::map<int, std::vector<std::uint8_t>> connections_;
    std::vector<Due> due_;  // in the order of arrival, which is their order
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

// 200 lines, 2500 ms between cycles (libmodbus's loop takes about one
// second).
void BM_Window(benchmark::State& state) {
    constexpr int Lines = 200;
    const int window = static_cast<int>(state.range(0));
    DelayedServer server;
    LibmodbusMaster master(server.address(), false);
    std::vector<Round> rounds;
    for (auto _ : state) {
        const auto more = master.ok ? interleaved("mbtcp://" + server.address(), Lines,
                                                  "Window=" + std::to_string(window), 2500,
                                                  master.ctx)
                                    : std::nullopt;
        if (!more) {
            state.SkipWithError("a cycle or a read failed");
            return;
        }
        state.SetIterationTime(median(*more, &Round::tarvelUs) * Lines * 1e-6);
        rounds.insert(rounds.end(), more->begin(), more->end());
    }
    auto& c = state.counters;
    c["tarvel_reads_s"] = 1e6 / median(rounds, &Round::tarvelUs);
    c["libmodbus_reads_s"] = 1e6 / median(rounds, &Round::libmodbusUs);
    c["ratio"] = c["tarvel_reads_s"] / c["libmodbus_reads_s"];
}

BENCHMARK(BM_NetworkCycle)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Window)->Arg(1)->Arg(8)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
