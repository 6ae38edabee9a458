// The web server's cost, with the real server on a loopback port:
//
// MetricsText: the Prometheus text of 1,000 values over 10 devices and 10
// nodes, made from a snapshot (the part that grows with the plant).
// MetricsOverHttp: GET /metrics of the same snapshot through the running
// server and a keep-alive client, end to end (target at most 5 ms).
// Publish: what the end of a cycle costs the cycle's thread: the snapshot
// made and swapped in.
// Stop/0: the server's stop with no client; Stop/1: with three clients held
// open (a keep-alive connection idle after its answer, a request sent in
// part, the event stream), each already served.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "platform/httplib/HttplibWebServer.h"
#include "web/WebFormats.h"
#include "web/WebSite.h"

namespace {

using namespace tarvel;

CycleReport Thousand() {
    CycleReport report;
    report.number = 1;
    for (int i = 0; i < 1000; ++i) {
        Reading r;
        r.line = static_cast<std::size_t>(i);
        r.device = i / 100 + 1;
        r.name = "Valore" + std::to_string(i % 100);
        r.quality = Quality::Good;
        const auto magnitude = static_cast<std::uint64_t>(i * 7 + 3);
        r.number = ParsedNumber{static_cast<double>(magnitude), true, false, magnitude};
        r.decimals = 1;
        report.readings.push_back(r);
    }
    return report;
}

Health Nodes() {
    Health health;
    for (std::uint8_t n = 1; n <= 10; ++n) health.skipped(n);
    return health;
}

void Publish(WebFeed& feed, const CycleReport& report, const Health& health, const MonitorLog& log) {
    feed.publish({report, health, log, {}, std::chrono::system_clock::now(), {}});
}

void MetricsText(benchmark::State& state) {
    WebFeed feed;
    MonitorLog log;
    Publish(feed, Thousand(), Nodes(), log);
    const auto snapshot = feed.current();
    for (auto _ : state) benchmark::DoNotOptimize(tarvel::MetricsText(*snapshot));
}
BENCHMARK(MetricsText)->Unit(benchmark::kMicrosecond);

void MetricsOverHttp(benchmark::State& state) {
    WebFeed feed;
    MonitorLog log;
    Publish(feed, Thousand(), Nodes(), log);
    WebSite site(feed, {});
    HttplibWebServer server;
    std::string error;
    if (!server.start({"127.0.0.1", 18473, {}, {}}, site, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    httplib::Client client("127.0.0.1", 18473);
    client.set_keep_alive(true);
    for (auto _ : state) {
        const auto answer = client.Get("/metrics");
        if (!answer || answer->status != 200 || answer->body.find("Valore99") == std::string::npos) {
            state.SkipWithError("no metrics");
            break;
        }
    }
    server.stop();
}
BENCHMARK(MetricsOverHttp)->Unit(benchmark::kMicrosecond);

void PublishCycle(benchmark::State& state) {
    WebFeed feed;
    MonitorLog log;
    const CycleReport report = Thousand();
    const Health health = Nodes();
    for (auto _ : state) Publish(feed, report, health, log);
}
BENCHMARK(PublishCycle)->Unit(benchmark::kMicrosecond);

// A loopback connection that has sent `request` and, when `awaited` is
// not empty, read until it came; -1 when it failed.
int HeldClient(int port, const std::string& request, const std::string& awaited) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return -1;
    }
    std::string seen;
    char buffer[4096];
    while (!awaited.empty() && seen.find(awaited) == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    return fd;
}

void Stop(benchmark::State& state) {
    WebFeed feed;
    MonitorLog log;
    Publish(feed, Thousand(), Nodes(), log);
    WebSite site(feed, {});
    HttplibWebServer server;
    constexpr int port = 18474;
    for (auto _ : state) {
        std::string error;
        if (!server.start({"127.0.0.1", port, {}, {}}, site, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        std::vector<int> clients;
        if (state.range(0)) {
            clients = {HeldClient(port, "GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n", "\"nodes\""),
                       HeldClient(port, "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n", "data: "),
                       HeldClient(port, "GET /api/values HTTP/1.1\r\nHost: x\r\nX-Slow: a", "")};
        }
        const auto start = std::chrono::steady_clock::now();
        server.stop();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        for (const int fd : clients) {
            if (fd < 0) state.SkipWithError("a client was not served");
            ::close(fd);
        }
    }
}
BENCHMARK(Stop)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
