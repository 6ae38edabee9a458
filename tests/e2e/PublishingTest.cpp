// tarvel-headless publishing to a real Mosquitto broker, watched by
// mosquitto_sub: the messages of a known cycle byte for byte, the state
// online and offline and its last will, and nothing lost while the broker
// is away, across a restart of the broker and a kill -9 of the logger. The
// last will's content: Publish.NothingLeavesTheJournalBeforeTheBrokerHasIt;
// the discovery configs' content: Publish.MessagesAreJsonWithTheValuesDigits.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <set>

#include "Broker.h"
#include "Headless.h"
#include "SqliteTool.h"

namespace tarvel::test {
namespace {

namespace fs = std::filesystem;

// The [MQTT] section of the broker on the port, with further keys `more`.
std::string Mqtt(int port, const std::string& more = "") {
    return "[MQTT]\nHost=127.0.0.1\nPort=" + std::to_string(port) + "\nTopic=plant/7\n" + more;
}

// A broker of its own for each test, and a program folder.
class Publishing : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
    }
    // The simulator, and settings that read one constant every 100 ms and
    // publish it to the port.
    bool oneValue(int port) {
        WriteFile(folder / "Tarvel.INI", Settings(sim.link(), {"0,0,x,0;A"}, Mqtt(port), 100, 200));
        return sim.start("node 1\n");
    }
    // The broker (persistent when asked, with a subscriber to device 1 whose
    // session outlives a restart), and oneValue() on it.
    bool oneValueOnTheBroker(bool persistent) {
        return broker.start({"", "", false, persistent}) &&
               sub.start(broker.port(), "plant/7/1", persistent ? "watcher" : "") &&
               oneValue(broker.port());
    }

    Broker broker;
    Subscriber sub;
    SimProcess sim;
    TempFolder folder;
};

// A scaled value, a 32-bit value, a failed read, a constant, a second
// device, and a profile switch to a profile that writes its own output file,
// which starts a third device as it starts another file: one message per
// device and cycle, the node's health retained,
// "online" first and "offline" at the end; a logger killed outright leaves
// its last will. The broker takes only the user and password of the
// settings, and with them and Discovery on, each value's discovery config
// is retained on the broker, and nothing is told. Wrong ones
// are told once with the broker's words while the cycles go on:
// Publish.TheProgramTellsEachTroubleOnceAndGoesOn and
// MqttClientTest.ReportsEachDeliveryAndNamesEachConnectionFailure.
TEST_F(Publishing, EachCycleGivesOneMessagePerDevice) {
    ASSERT_TRUE(broker.start({"tarvel", "s3cret"}));
    const std::vector<std::string> user{"-u", "tarvel", "-P", "s3cret"};
    ASSERT_TRUE(sub.start(broker.port(), "plant/7/#", {}, user));
    ASSERT_TRUE(sim.start("node 1\ninput 12 0x08FD\nholding 100 0x0001\nholding 101 0x0000\n"));
    const std::vector<std::string> list{
        "1,4,12,1;Vac", "1,3,100+&,0;Energia", "3,3,0,0;Muto", "0,0,Roof A,0;Impianto",
        "NEXT",         "1,4,12,3;Vac",        "SERIAL_0",     "1,4,12,0;Vac"};
    const std::string mqtt =
        "Out=linea.xml\n" + Mqtt(broker.port(), "User=tarvel\nPassword=s3cret\nDiscovery=1\n");
    WriteFile(folder / "Tarvel.INI", Settings(sim.link(), list, mqtt, 200, 200));
    Headless logger;
    EXPECT_EQ(logger.run(folder, {"--cycles", "1"}), 0);
    EXPECT_EQ(logger.lines(Stream::Err), std::vector<std::string>{});
    ASSERT_TRUE(sub.waitFor(7, 5s)) << testing::PrintToString(sub.lines());
    auto lines = sub.lines();  // every time written as T, the health up to its skipped reads
    for (auto& line : lines)
        line = std::regex_replace(std::regex_replace(line, std::regex(", \"median_ms\".*"), ""),
                                  std::regex("\"[-0-9]{10}T[0-9:.]{12}Z\""), "T");
    // The health goes out at once, the cycle through the journal.
    std::sort(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "plant/7/state online",
                  "plant/7/1 {\"time\": T, \"cycle\": 1, \"values\": {\"Vac\": 230.1, "
                  "\"Energia\": 65536, \"Muto\": null, \"Impianto\": \"Roof A\"}}",
                  "plant/7/2 {\"time\": T, \"cycle\": 1, \"values\": {\"Vac\": 2.301}}",
                  "plant/7/3 {\"time\": T, \"cycle\": 1, \"values\": {\"Vac\": 2301}}",
                  "plant/7/status/1 {\"time\": T, \"requests\": 5, \"good\": 5, \"timeouts\": "
                  "0, \"crc_errors\": 0, \"wrong_answers\": 0, \"exceptions\": {}, \"skipped\": 0",
                  "plant/7/status/3 {\"time\": T, \"requests\": 1, \"good\": 0, \"timeouts\": "
                  "1, \"crc_errors\": 0, \"wrong_answers\": 0, \"exceptions\": {}, \"skipped\": 0",
                  "plant/7/state offline"}));
    EXPECT_NE(ReadFile(folder / "linea.xml").find("<Vac>2301</Vac>"), std::string::npos);
    // The discovery configs, retained: one a value.
    Subscriber configs;
    ASSERT_TRUE(configs.start(broker.port(), "homeassistant/#", {}, user));
    ASSERT_TRUE(configs.waitFor(6, 5s)) << testing::PrintToString(configs.lines());
    EXPECT_EQ(configs.lines().size(), 6u) << testing::PrintToString(configs.lines());
    // A logger killed outright leaves its last will.
    Headless killed;
    ASSERT_TRUE(killed.start(folder));
    ASSERT_TRUE(sub.waitFor(9, 10s));
    ASSERT_TRUE(killed.process.signal(SIGKILL));
    EXPECT_TRUE(Eventually([&] { return sub.lines().back() == "plant/7/state offline"; }, 10s));
    // --check names the topics a run uses, and a CA file it cannot read (the
    // section's bad values: Publish.SettingsHaveTheirDefaultsAndNameEachBadValue).
    WriteFile(folder / "Tarvel.INI",
              Settings(sim.link(), list, mqtt + "CAFile=/nonexistent/ca\n", 200, 200));
    // Files that others may read: Headless.CheckWarnsOfSecretsOthersMayRead.
    for (const char* secret : {"Tarvel.INI", "Tarvel-journal.db"})
        fs::permissions(folder / secret, fs::perms::owner_read | fs::perms::owner_write);
    Headless checker;
    EXPECT_EQ(checker.run(folder, {"--check"}), 1);
    EXPECT_EQ(checker.lines(Stream::Out, "topic\t"),
              (std::vector<std::string>{"topic\tplant/7/1", "topic\tplant/7/2", "topic\tplant/7/3",
                                        "topic\tplant/7/state", "topic\tplant/7/status/1",
                                        "topic\tplant/7/status/3"}));
    EXPECT_EQ(checker.lines(Stream::Out, "warning\t"),
              std::vector<std::string>{"warning\t[MQTT] CAFile: impossibile leggere il file "
                                       "/nonexistent/ca (No such file or directory)"});
}

// A value's unit goes into its discovery config with the classes Home
// Assistant's MQTT sensor documents for it (unit_of_measurement,
// device_class, state_class); a value without a unit has none of them. The
// XML and the device message are those of the same lines without units.
// Two names that give one discovery name ("Energia.Tot", "Energia_Tot")
// get two configs, the later one numbered, and --check names the pair.
TEST_F(Publishing, DiscoveryConfigsCarryUnitsAndTellNamesApart) {
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(sim.start("node 1\ninput 12 0x08FD\n"));
    WriteFile(folder / "Tarvel.INI",
              Settings(sim.link(),
                       {"1,4,12,1;Vac;V", "1,4,12,0;Energia.Tot; kWh ", "1,4,12,0;Energia_Tot;"},
                       Mqtt(broker.port(), "ClientId=roof\nDiscovery=1\n"), 200, 200));
    Headless logger;
    EXPECT_EQ(logger.run(folder, {"--cycles", "1"}), 0);
    EXPECT_NE(ReadFile(folder / "NoName.xml")
                  .find("<Vac>230.1</Vac>\r\n      <Energia.Tot>2301</Energia.Tot>\r\n      "
                        "<Energia_Tot>2301</Energia_Tot>"),
              std::string::npos)
        << ReadFile(folder / "NoName.xml");
    Subscriber configs;
    ASSERT_TRUE(configs.start(broker.port(), "homeassistant/#"));
    ASSERT_TRUE(configs.waitFor(3, 5s)) << testing::PrintToString(configs.lines());
    auto lines = configs.lines();
    std::sort(lines.begin(), lines.end());
    const auto config = [](const std::string& subject, const std::string& name,
                           const std::string& unit) {
        return "homeassistant/sensor/roof/" + subject + "/config {\"name\": \"" + name +
               "\", \"unique_id\": \"roof_" + subject +
               "\", \"state_topic\": \"plant/7/1\", \"value_template\": \"{{ "
               "value_json['values'][\\\"" +
               name + "\\\"] }}\"" + unit +
               ", \"availability_topic\": \"plant/7/state\", \"device\": {\"identifiers\": "
               "[\"roof_1\"], \"name\": \"plant/7/1\", \"model\": \"Tarvel\"}}";
    };
    EXPECT_EQ(lines, (std::vector<std::string>{
                         config("1_Energia_Tot", "Energia.Tot",
                                ", \"unit_of_measurement\": \"kWh\", \"device_class\": "
                                "\"energy\", \"state_class\": \"total_increasing\""),
                         config("1_Energia_Tot_2", "Energia_Tot", ""),
                         config("1_Vac", "Vac",
                                ", \"unit_of_measurement\": \"V\", \"device_class\": "
                                "\"voltage\", \"state_class\": \"measurement\"")}));
    Headless checker;
    EXPECT_EQ(checker.run(folder, {"--check"}), 1);
    EXPECT_EQ(checker.lines(Stream::Out, "line\t"),
              (std::vector<std::string>{"line\t0\tread\t1\t4\t12\t1\tVac\tV",
                                        "line\t1\tread\t1\t4\t12\t0\tEnergia.Tot\tkWh",
                                        "line\t2\tread\t1\t4\t12\t0\tEnergia_Tot"}));
    EXPECT_EQ(checker.lines(Stream::Out, "warning\t"),
              std::vector<std::string>{
                  "warning\triga 2: descrizione \"Energia_Tot\" con lo stesso nome MQTT di "
                  "\"Energia.Tot\" della riga 1 (1_Energia_Tot): il discovery la pubblica come "
                  "1_Energia_Tot_2"});
}

// The cycle numbers of the device messages in arrival order, what was sent
// again (a cycle's number and time seen before) left out.
std::vector<long> Cycles(const std::vector<std::string>& lines) {
    static const std::regex device(R"re(^plant/7/1 \{"time": "([^"]+)", "cycle": ([0-9]+), .*)re");
    std::set<std::pair<long, std::string>> seen;
    std::vector<long> cycles;
    std::smatch m;
    for (const auto& line : lines)
        if (std::regex_match(line, m, device) && seen.insert({std::stol(m[2]), m[1]}).second)
            cycles.push_back(std::stol(m[2]));
    return cycles;
}

// The broker goes away for about twenty cycles and comes back: the cycles
// meanwhile arrive with their own times, in order. Then the logger is
// killed outright while the broker is away, and started again before the
// broker: what the first run journaled comes first, then the second run's
// from 1 on (a cycle journaled before its line was printed perhaps among the
// first run's): the wait is for five of the second run's own.
TEST_F(Publishing, NothingIsLostWhileTheBrokerIsAway) {
    ASSERT_TRUE(oneValueOnTheBroker(true));
    Headless run;
    ASSERT_TRUE(run.start(folder));
    ASSERT_TRUE(Eventually([&] { return Cycles(sub.lines()).size() >= 3; }, 10s));
    broker.stop();
    const std::size_t before = run.cycles().size();
    ASSERT_TRUE(Eventually([&] { return run.cycles().size() >= before + 20; }, 20s));
    ASSERT_TRUE(broker.restart());
    const long target = static_cast<long>(run.cycles().size());
    ASSERT_TRUE(
        Eventually([&] { return std::ranges::count(Cycles(sub.lines()), target) > 0; }, 20s))
        << testing::PrintToString(sub.lines());
    broker.stop();
    ASSERT_TRUE(run.process.signal(SIGKILL));
    const long lastOfFirstRun = static_cast<long>(run.cycles().size());
    run.process.waitExit(5s);

    Headless again;
    ASSERT_TRUE(again.start(folder));
    ASSERT_TRUE(Eventually([&] { return again.cycles().size() >= 5; }, 10s));
    ASSERT_TRUE(broker.restart());
    std::vector<long> cycles;
    const auto second = [&] { return std::find(cycles.begin() + 1, cycles.end(), 1); };
    ASSERT_TRUE(Eventually(
        [&] { return (cycles = Cycles(sub.lines())).size() > 1 && cycles.end() - second() >= 5; },
        20s))
        << testing::PrintToString(sub.lines());
    EXPECT_GE(second() - cycles.begin(), lastOfFirstRun);
    for (std::size_t i = 0; i < cycles.size(); ++i)  // 1, 2, 3, ... twice
        EXPECT_EQ(cycles[i], i == 0 || cycles.begin() + i == second() ? 1 : cycles[i - 1] + 1) << i;
}

// A journal that cannot grow (a file-size limit, as on a full disk) loses no
// cycle and ends nothing: with the broker there each cycle reaches it at
// once, and while it is away the cycles wait in memory and arrive when it is
// back, in order. The cause is told.
TEST_F(Publishing, AFullDiskLosesNoCycle) {
    ASSERT_TRUE(oneValueOnTheBroker(true));
    Headless run;
    {
        FileSizeLimit full(64 * 1024);  // the journal's first few cycles
        ASSERT_TRUE(run.start(folder));
    }
    const auto arrived = [&](std::size_t cycle) {
        return Eventually([&] { return std::ranges::count(Cycles(sub.lines()), long(cycle)) > 0; },
                          20s);
    };
    ASSERT_TRUE(Eventually([&] { return run.cycles().size() >= 20; }, 20s));
    ASSERT_TRUE(arrived(run.cycles().size())) << testing::PrintToString(sub.lines());
    broker.stop();
    const std::size_t before = run.cycles().size();
    ASSERT_TRUE(Eventually([&] { return run.cycles().size() >= before + 10; }, 20s));
    ASSERT_TRUE(broker.restart());
    ASSERT_TRUE(arrived(run.cycles().size())) << testing::PrintToString(sub.lines());
    const std::vector<long> cycles = Cycles(sub.lines());
    for (std::size_t i = 0; i < cycles.size(); ++i) EXPECT_EQ(cycles[i], long(i) + 1);
    EXPECT_TRUE(run.process.running());
    EXPECT_EQ(run.lines(Stream::Err, "127.0.0.1:" + std::to_string(broker.port()) + ": giornale: ")
                  .size(),
              1u)
        << testing::PrintToString(run.lines(Stream::Err));
}

// Sets or clears the immutable flag, which even root cannot write through.
bool Immutable(const std::string& path, bool on) {
    return !Installed("chattr").empty() &&
           RunQuietly(Installed("chattr"), {on ? "+i" : "-i", path});
}

// A journal that cannot be one turns nothing off: a damaged one is kept
// aside, the time in its name, and a new one is made, readable by its owner
// alone; one made immutable cannot even be moved, and the cycles wait in
// memory instead. Either way the cause is told once and every cycle reaches
// the broker. A journal made immutable while the logger runs ends nothing.
TEST_F(Publishing, AJournalThatCannotBeUsedTurnsNothingOff) {
    ASSERT_TRUE(oneValueOnTheBroker(false));
    const std::string journal = folder / "Tarvel-journal.db", garbage(8192, 'x');
    const std::string told = "127.0.0.1:" + std::to_string(broker.port()) + ": giornale: ";
    WriteFile(journal, garbage);
    Headless damaged;
    EXPECT_EQ(damaged.run(folder, {"--cycles", "3"}), 0);
    std::string aside;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        if (std::regex_match(entry.path().filename().string(),
                             std::regex(R"(Tarvel-journal\.db\.[-0-9]{10}T[0-9]{6}\.bad)")))
            aside = entry.path().string();
    EXPECT_EQ(damaged.lines(Stream::Err),
              (std::vector<std::string>{"Tarvel: Problema nella pubblicazione MQTT.",
                                        told + journal + ": file is not a database: spostato in " +
                                            aside + ", iniziato un nuovo giornale"}));
    EXPECT_TRUE(ReadFile(aside) == garbage) << "kept as it was";
    EXPECT_EQ(ModeOf(journal), 0600u);
    ASSERT_TRUE(sub.waitFor(3, 5s));
    EXPECT_EQ(Cycles(sub.lines()), (std::vector<long>{1, 2, 3}));

    struct Thaw {
        std::string path;
        ~Thaw() { Immutable(path, false); }
    } thaw{journal};
    if (!Immutable(journal, true)) GTEST_SKIP() << "chattr +i is not possible here";
    Headless frozen;
    EXPECT_EQ(frozen.run(folder, {"--cycles", "3"}), 0);
    EXPECT_EQ(frozen.lines(Stream::Err, told),
              std::vector<std::string>{told + journal +
                                       ": Operation not permitted; impossibile spostarlo "
                                       "(Operation not permitted)"});
    ASSERT_TRUE(sub.waitFor(6, 5s));
    EXPECT_EQ(Cycles(sub.lines()), (std::vector<long>{1, 2, 3, 1, 2, 3}));

    ASSERT_TRUE(Immutable(journal, false));
    Headless running;
    ASSERT_TRUE(running.start(folder));
    ASSERT_TRUE(Eventually([&] { return running.cycles().size() >= 3; }, 10s));
    ASSERT_TRUE(Immutable(journal, true));
    const std::size_t target = running.cycles().size() + 10;
    ASSERT_TRUE(Eventually([&] { return running.cycles().size() >= target; }, 10s));
    EXPECT_TRUE(
        Eventually([&] { return std::ranges::count(Cycles(sub.lines()), long(target)); }, 10s))
        << testing::PrintToString(sub.lines());
    EXPECT_TRUE(running.process.running());
}

// A stop waits for no broker that does not answer: a host that takes the
// connection and never answers (the loopback stand-in for one that drops
// every packet) holds up neither the end of --cycles nor SIGTERM. The few
// seconds given are a safety net, far above the moment the end takes; what
// waits stays in the journal.
TEST_F(Publishing, AStopWaitsForNoBrokerThatDoesNotAnswer) {
    SilentPeer silent;
    ASSERT_NE(silent.port(), 0);
    ASSERT_TRUE(oneValue(silent.port()));
    const auto cycle = [](long n) {
        return [n](const std::string& l) { return l.starts_with("Ciclo " + std::to_string(n)); };
    };
    Headless counted;
    ASSERT_TRUE(counted.start(folder, {"--cycles", "3"}));
    ASSERT_TRUE(counted.process.waitForLine(Stream::Out, cycle(3), 20s));
    EXPECT_EQ(counted.process.waitExit(3s), 0);
    EXPECT_EQ(Sqlite(folder / "Tarvel-journal.db", "SELECT count(*) FROM messages;"), "3\n");
    Headless stopped;
    ASSERT_TRUE(stopped.start(folder));
    ASSERT_TRUE(stopped.process.waitForLine(Stream::Out, cycle(2), 20s));
    ASSERT_TRUE(stopped.process.signal(SIGTERM));
    EXPECT_EQ(stopped.process.waitExit(3s), 0);
}

}  // namespace
}  // namespace tarvel::test
