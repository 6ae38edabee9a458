// The web server's cost, with the real server on a loopback port:
//
// MetricsText: the Prometheus text of 1,000 values over 10 devices and 10
// nodes, made from a snapshot (the part that grows with the plant).
// MetricsOverHttp: GET /metrics of the same snapshot through the running
// server and a keep-alive client, end to end (target at most 5 ms).
// Publish: what the end of a cycle costs the cycle's thread: the snapshot
// made and swapped in.

#include <benchmark/benchmark.h>
#include <httplib.h>

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

}  // namespace

BENCHMARK_MAIN();
