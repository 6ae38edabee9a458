// Publishing's cost, against a real Mosquitto broker on a loopback port and
// a real journal file:
//
// PublishCycle: what a cycle of 100 values over 4 devices costs on the
// cycle's own thread (the messages made and written to the journal).
// CycleOutputs: the journal, the history and the publish together, as a
// cycle's end runs them: the history's rows handed over, the device
// messages made and journaled, the health messages handed over; median_us
// is the target's figure (at most 1 ms).
//
// Replay/journal: 100,000 journaled messages handed to the broker at QoS 1
// until the journal is empty, in messages per second (target at least
// 5,000/s), with the journal's size on disk per message.
// Replay/reference: the same messages published with libmosquitto alone,
// the same window of unacknowledged messages, no journal.

#include <benchmark/benchmark.h>
#include <mosquitto.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>

#include "Broker.h"
#include "HistoryOnFile.h"
#include "platform/mosquitto/MosquittoClient.h"
#include "platform/sqlite/SqliteJournal.h"
#include "publish/Publisher.h"

namespace {

using namespace tarvel;
using namespace std::chrono_literals;

constexpr int Messages = 100000;

std::vector<Reading> CycleValues() {
    std::vector<Reading> values;
    for (int i = 0; i < 100; ++i) {
        // Value<i> is i * 7 + 0.5 on device i / 25 + 1; one in ten failed.
        Reading r = bench::Letta(static_cast<std::size_t>(i), i / 25 + 1,
                                 "Valore" + std::to_string(i), false, i % 10 == 9);
        const auto half = static_cast<std::uint64_t>(i * 70 + 5);
        if (r.number) r.number = ParsedNumber{static_cast<double>(half), true, false, half};
        values.push_back(r);
    }
    return values;
}

// A connection that is never up: the messages stay in the journal.
struct Offline : MqttClient {
    bool start(const MqttConnection&, std::string&) override { return true; }
    std::optional<int> publish(const MqttMessage&) override { return std::nullopt; }
    std::vector<int> takeDelivered() override { return {}; }
    MqttStatus status() const override { return {MqttState::Connecting, {}}; }
    void onEvent(std::function<void()>) override {}
    void stop(const std::optional<MqttMessage>&, int) override {}
};

// Publishing with its journal in `folder`, to a broker never reached.
struct OfflinePublishing {
    OfflinePublishing(const std::filesystem::path& folder, Clock& clock, benchmark::State& state)
        : publishing(journal, client, clock) {
        settings.host = "127.0.0.1";
        settings.topic = "tarvel/bench";
        settings.journal = folder / "journal.db";
        if (!publishing.Start(settings, error, false)) state.SkipWithError(error.c_str());
    }

    SqliteJournal journal;
    Offline client;
    Publisher publishing;
    MqttSettings settings;
    std::string error;
};

void PublishCycle(benchmark::State& state) {
    test::TempFolder folder;
    fakes::FakeClock clock;
    OfflinePublishing offline(folder.path(), clock, state);
    auto& [journal, client, publishing, settings, error] = offline;
    const auto values = CycleValues();
    long cycle = 0;
    for (auto _ : state) {
        const auto messages = CycleMessages(settings, "2026-12-07T12:00:00.000Z", ++cycle, values);
        if (!publishing.Enqueue(messages, error)) state.SkipWithError(error.c_str());
    }
}
BENCHMARK(PublishCycle)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();

void CycleOutputs(benchmark::State& state) {
    bench::HistoryOnFile history;
    auto& [folder, store, wall, clock, dialogs, historyLog] = history;
    OfflinePublishing offline(folder.path(), clock, state);
    auto& [journal, client, publishing, settings, error] = offline;

    // 100 values over 4 devices: reads, a failed one in ten, a constant.
    std::vector<Reading> readings;
    for (int i = 0; i < 100; ++i) {
        const std::string name = "V" + std::to_string(i);
        const bool costante = i % 20 == 19, failed = i % 10 == 9 && !costante;
        readings.push_back(
            bench::Letta(static_cast<std::size_t>(i), i / 25 + 1, name, costante, failed));
    }
    Health health;
    for (std::uint8_t n = 1; n <= 4; ++n) {
        Transaction t;
        t.node = n;
        t.outcome = TransactionResult::Complete;
        t.duration = std::chrono::microseconds(2300);
        health.record(t, clock.now());
    }

    std::vector<double> cycleUs;
    long cycle = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        historyLog.CycleStart();
        const std::vector<Reading>& valueList = readings;
        historyLog.RecordCycle(++cycle, valueList);
        publishing.Enqueue(CycleMessages(settings, UtcText(wall.now()), cycle, valueList), error);
        publishing.PublishStatus(StatusMessages(settings, health, clock.now(), wall.now()));
        cycleUs.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
        state.PauseTiming();
        store.waitIdle(std::chrono::seconds(10));
        state.ResumeTiming();
    }
    std::sort(cycleUs.begin(), cycleUs.end());
    state.counters["median_us"] = cycleUs[cycleUs.size() / 2];
    state.counters["p99_us"] = cycleUs[cycleUs.size() * 99 / 100];
}
BENCHMARK(CycleOutputs)->Iterations(500)->Unit(benchmark::kMicrosecond);

MqttMessage Message(int i) {
    return {"tarvel/bench/1",
            "{\"time\": \"2026-12-07T12:00:00.000Z\", \"cycle\": " + std::to_string(i) +
                ", \"values\": {\"Vac\": 230.1, \"Pac\": 1520, \"Energia\": 1234567}}",
            1, false};
}

void Replay(benchmark::State& state) {
    if (!test::Broker::available()) {
        state.SkipWithError("mosquitto is not installed");
        return;
    }
    test::Broker broker;
    if (!broker.start()) {
        state.SkipWithError("the broker did not start");
        return;
    }
    const bool journaled = state.range(0) == 1;
    double bytesPerMessage = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::TempFolder folder;
        SqliteJournal journal;
        std::string error;
        const std::string file = folder / "journal.db";
        journal.open(file, 0, error);
        std::vector<MqttMessage> batch;
        for (int i = 0; i < Messages; ++i) batch.push_back(Message(i));
        journal.append(batch, error);
        struct stat st {};
        ::stat(file.c_str(), &st);
        bytesPerMessage = static_cast<double>(st.st_size) / Messages;
        state.ResumeTiming();
        if (journaled) {
            MosquittoClient client;
            fakes::FakeClock clock;
            Publisher publishing(journal, client, clock);
            MqttSettings settings;
            settings.host = "127.0.0.1";
            settings.port = broker.port();
            settings.topic = "tarvel/bench";
            settings.clientId = "bench-journal";
            settings.journal = file;
            publishing.Start(settings, error);
            test::Eventually([&] { return journal.size() == 0; }, 120s);
            publishing.Stop(0);
        } else {
            // libmosquitto alone: the same window of unacknowledged messages.
            mosquitto_lib_init();
            mosquitto* m = mosquitto_new("bench-reference", true, nullptr);
            std::atomic<int> acknowledged{0};
            mosquitto_user_data_set(m, &acknowledged);
            mosquitto_publish_callback_set(
                m, [](mosquitto*, void* done, int) { ++*static_cast<std::atomic<int>*>(done); });
            mosquitto_connect(m, "127.0.0.1", broker.port(), 30);
            mosquitto_loop_start(m);
            for (int i = 0; i < Messages; ++i) {
                while (i - acknowledged.load() >= static_cast<int>(Publisher::InFlightWindow))
                    std::this_thread::sleep_for(50us);
                const MqttMessage msg = Message(i);
                mosquitto_publish(m, nullptr, msg.topic.c_str(),
                                  static_cast<int>(msg.payload.size()), msg.payload.data(), 1,
                                  false);
            }
            test::Eventually([&] { return acknowledged.load() == Messages; }, 120s);
            mosquitto_disconnect(m);
            mosquitto_loop_stop(m, false);
            mosquitto_destroy(m);
        }
    }
    state.counters["messages_per_s"] =
        benchmark::Counter(Messages, benchmark::Counter::kIsIterationInvariantRate);
    if (journaled) state.counters["journal_bytes_per_message"] = bytesPerMessage;
}
BENCHMARK(Replay)
    ->ArgName("journal")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
