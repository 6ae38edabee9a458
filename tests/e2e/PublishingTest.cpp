// tarvel-headless publishing to a real Mosquitto broker, watched by
// mosquitto_sub: the messages of a known cycle byte for byte, the state and
// its last will, and nothing lost while the broker is away, across a
// restart of the broker and a kill -9 of the logger.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <numeric>
#include <set>

#include "Broker.h"
#include "Headless.h"

namespace tarvel::test {
namespace {

namespace fs = std::filesystem;

// The logger on the simulator, publishing to the broker on the port; `more`
// are further keys of [MQTT].
std::string Settings(const std::string& device, int brokerPort, int intervalMs,
                     const std::vector<std::string>& lines, const std::string& more = "") {
    return test::Settings(
        device, lines,
        "[MQTT]\nHost=127.0.0.1\nPort=" + std::to_string(brokerPort) + "\nTopic=plant/7\n" + more,
        intervalMs, 200);
}

// A scaled value, a 32-bit value, a failed read, a constant and a second
// device: one message per device and cycle, the node's health retained,
// "online" first and "offline" at the end; a logger killed outright leaves
// its last will. With the right credentials and Discovery on, each value's
// discovery config is retained on the broker (its content:
// Publish.DiscoveryDescribesEachValue), and nothing is told. Wrong
// ones are told once with the broker's words, the password never shown,
// while the cycles go on: Publish.TheProgramTellsEachTroubleOnceAndGoesOn
// and MqttClientTest.ConnectionFailuresNameTheirCauseAndTheClientKeepsTrying.
TEST(Publishing, EachCycleGivesOneMessagePerDevice) {
    if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
    Broker broker;
    ASSERT_TRUE(broker.start({"tarvel", "s3cret"}));
    const std::vector<std::string> user{"-u", "tarvel", "-P", "s3cret"};
    Subscriber sub;
    ASSERT_TRUE(sub.start(broker.port(), "plant/7/#", {}, user));
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 0x08FD\nholding 100 0x0001\nholding 101 0x0000\n"));
    TempFolder folder;
    const std::vector<std::string> list{"1,4,12,1;Vac", "1,3,100+&,0;Energia",
                                        "3,3,0,0;Muto", "0,0,Roof A,0;Impianto",
                                        "NEXT",         "1,4,12,3;Vac"};
    const std::string login = "User=tarvel\nPassword=s3cret\nDiscovery=1\n";
    WriteFile(folder / "Tarvel.INI", Settings(sim.link(), broker.port(), 200, list, login));
    Headless logger;
    EXPECT_EQ(logger.run(folder, {"--cycles", "1"}), 0);
    EXPECT_TRUE(logger.lines(Stream::Err).empty())
        << testing::PrintToString(logger.lines(Stream::Err));
    ASSERT_TRUE(sub.waitFor(6, 5s)) << testing::PrintToString(sub.lines());
    const std::string status1 =
        "plant/7/status/1 {\"time\": T, \"requests\": 4, \"good\": 4, \"timeouts\": 0, "
        "\"crc_errors\": 0, \"wrong_answers\": 0, \"exceptions\": {}, \"skipped\": 0, ";
    auto lines = sub.lines();  // every time written as T
    for (auto& line : lines)
        line = std::regex_replace(line, std::regex("\"[-0-9]{10}T[0-9:.]{12}Z\""), "T");
    ASSERT_EQ(lines.size(), 6u) << testing::PrintToString(lines);
    // The health goes out at once, the cycle through the journal.
    std::sort(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(lines[0], "plant/7/state online");
    EXPECT_EQ(lines[1],
              "plant/7/1 {\"time\": T, \"cycle\": 1, \"values\": {\"Vac\": 230.1, "
              "\"Energia\": 65536, \"Muto\": null, \"Impianto\": \"Roof A\"}}");
    EXPECT_EQ(lines[2], "plant/7/2 {\"time\": T, \"cycle\": 1, \"values\": {\"Vac\": 2.301}}");
    EXPECT_TRUE(lines[3].starts_with(status1)) << lines[3];
    EXPECT_TRUE(
        lines[4].starts_with("plant/7/status/3 {\"time\": T, \"requests\": 1, \"good\": 0, "
                             "\"timeouts\": 1,"))
        << lines[4];
    EXPECT_EQ(lines[5], "plant/7/state offline");
    // The discovery configs, retained: one a value.
    Subscriber configs;
    ASSERT_TRUE(configs.start(broker.port(), "homeassistant/#", {}, user));
    ASSERT_TRUE(configs.waitFor(5, 5s));
    EXPECT_EQ(configs.lines().size(), 5u) << testing::PrintToString(configs.lines());

    Headless killed;
    ASSERT_TRUE(killed.start(folder));
    ASSERT_TRUE(sub.waitFor(8, 10s));
    ASSERT_TRUE(killed.process.signal(SIGKILL));
    EXPECT_TRUE(Eventually([&] { return sub.lines().back() == "plant/7/state offline"; }, 10s))
        << "the last will, after the broker's keep-alive";

    // --check names the topics a run uses, and a CA file it cannot read (the
    // section's bad values: Publish.SettingsHaveTheirDefaultsAndNameEachBadValue).
    WriteFile(folder / "Tarvel.INI",
              Settings(sim.link(), broker.port(), 200, list, login + "CAFile=/nonexistent/ca\n"));
    Headless checker;
    EXPECT_EQ(checker.run(folder, {"--check"}), 1);
    EXPECT_EQ(
        checker.lines(Stream::Out, "topic\t"),
        (std::vector<std::string>{"topic\tplant/7/1", "topic\tplant/7/2", "topic\tplant/7/state",
                                  "topic\tplant/7/status/1", "topic\tplant/7/status/3"}));
    EXPECT_EQ(checker.lines(Stream::Out, "warning\t"),
              std::vector<std::string>{"warning\t[MQTT] CAFile: impossibile leggere il file "
                                       "/nonexistent/ca (" +
                                       std::string(std::strerror(ENOENT)) + ")"});
}

// The cycle numbers of the device messages in arrival order; with `once`,
// what was sent again (a cycle's number and time seen before) left out.
std::vector<long> Cycles(const std::vector<std::string>& lines, bool once = false) {
    static const std::regex device(R"re(^plant/7/1 \{"time": "([^"]+)", "cycle": ([0-9]+), .*)re");
    std::set<std::pair<long, std::string>> seen;
    std::vector<long> cycles;
    std::smatch m;
    for (const auto& line : lines)
        if (std::regex_match(line, m, device) &&
            (seen.insert({std::stol(m[2]), m[1]}).second || !once))
            cycles.push_back(std::stol(m[2]));
    return cycles;
}

// The broker goes away for about twenty cycles and comes back: the cycles
// meanwhile arrive with their own times, in order. Then the logger is
// killed outright while the broker is away, and started again before the
// broker: what the first run journaled comes first.
TEST(Publishing, NothingIsLostWhileTheBrokerIsAway) {
    if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
    Broker broker;
    ASSERT_TRUE(broker.start({"", "", false, true}));  // persistent
    Subscriber sub;
    ASSERT_TRUE(sub.start(broker.port(), "plant/7/1", "watcher"));
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\n"));
    TempFolder folder;
    WriteFile(folder / "Tarvel.INI", Settings(sim.link(), broker.port(), 100, {"0,0,x,0;A"}));
    Headless run;
    ASSERT_TRUE(run.start(folder));
    ChildProcess& logger = run.process;
    ASSERT_TRUE(Eventually([&] { return Cycles(sub.lines()).size() >= 3; }, 10s));
    broker.stop();
    const auto cyclesSoFar = [&] { return logger.lines(ChildProcess::Out).size(); };
    const std::size_t before = cyclesSoFar();
    ASSERT_TRUE(Eventually([&] { return cyclesSoFar() >= before + 20; }, 20s));
    ASSERT_TRUE(broker.restart());
    const long target = static_cast<long>(cyclesSoFar());
    ASSERT_TRUE(Eventually(
        [&] {
            const auto a = Cycles(sub.lines());
            return !a.empty() && a.back() >= target;
        },
        20s))
        << testing::PrintToString(sub.lines());
    broker.stop();
    ASSERT_TRUE(logger.signal(SIGKILL));
    const long lastOfFirstRun = static_cast<long>(logger.lines(ChildProcess::Out).size());
    logger.waitExit(5s);

    Headless again;
    ASSERT_TRUE(again.start(folder));
    ASSERT_TRUE(Eventually([&] { return again.cycles().size() >= 5; }, 10s));
    ASSERT_TRUE(broker.restart());
    // The first run's cycles, a cycle journaled before its line was printed
    // perhaps among them, then the second run's from 1 on: the wait is for
    // five of the second run's own.
    const auto runs = [&] {
        const std::vector<long> once = Cycles(sub.lines(), true);
        const auto second = std::find(once.begin() + (once.empty() ? 0 : 1), once.end(), 1);
        return std::pair{std::vector<long>(once.begin(), second),
                         std::vector<long>(second, once.end())};
    };
    ASSERT_TRUE(Eventually(
        [&] {
            const auto [first, next] = runs();
            return first.size() >= static_cast<std::size_t>(lastOfFirstRun) && next.size() >= 5;
        },
        20s))
        << testing::PrintToString(sub.lines());
    again.process.stop();
    const auto [first, next] = runs();
    for (const auto& run : {first, next}) {  // 1, 2, 3, ...
        std::vector<long> counted(run.size());
        std::iota(counted.begin(), counted.end(), 1);
        EXPECT_EQ(run, counted);
    }
}

}  // namespace
}  // namespace tarvel::test
