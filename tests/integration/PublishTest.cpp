// The broker connection against a real Mosquitto broker on a loopback port,
// and the journal in a real SQLite file, read back with the sqlite3 program.

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "Broker.h"
#include "SqliteTool.h"
#include "platform/mosquitto/MosquittoClient.h"
#include "platform/sqlite/SqliteJournal.h"

namespace tarvel::integration {
namespace {

using namespace std::chrono_literals;
using test::Broker;
using test::Eventually;
using test::Sqlite;

// A wrong password is refused with the broker's words while the client
// keeps trying, and so is a broker that is not there yet. With the right one, messages at every QoS are each reported
// delivered once, and none is taken once stopped. TLS connects with the
// broker's CA, and a CA file that cannot be read is refused at the start.
// What reaches a subscriber, the greeting first and a clean stop's last
// message at the end: Publishing.EachCycleGivesOneMessagePerDevice; a broker
// that goes away and comes back: Publishing.NothingIsLostWhileTheBrokerIsAway.
TEST(MqttClientTest, ReportsEachDeliveryAndNamesEachConnectionFailure) {
    if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
    Broker broker;
    ASSERT_TRUE(broker.start({"tarvel", "s3cret", true}));
    MosquittoClient client;
    std::string error;
    MqttConnection c;
    c.host = "127.0.0.1";
    c.port = broker.port();
    c.clientId = "tarvel-test-" + std::to_string(::getpid());
    c.user = "tarvel";
    c.password = "wrong";
    ASSERT_TRUE(client.start(c, error)) << error;
    const MqttStatus refused{MqttState::Connecting, "Connection Refused: not authorised."};
    EXPECT_TRUE(Eventually([&] { return client.status() == refused; }, 5s))
        << client.status().error;

    c.password = "s3cret";
    ASSERT_TRUE(client.start(c, error)) << error;
    const auto connected = [&] { return client.status().state == MqttState::Connected; };
    ASSERT_TRUE(Eventually(connected, 10s)) << client.status().error;
    std::vector<int> ids, delivered;
    for (int qos : {0, 1, 2})  // -1: refused, never delivered
        ids.push_back(client.publish({"t/" + std::to_string(qos), "{}", qos, false}).value_or(-1));
    const auto taken = [&] {
        for (int id : client.takeDelivered()) delivered.push_back(id);
        return delivered.size() >= 3;
    };
    EXPECT_TRUE(Eventually(taken, 5s));
    std::sort(delivered.begin(), delivered.end());
    EXPECT_EQ(delivered, ids);
    client.stop(std::nullopt, 0);
    EXPECT_EQ(client.status().state, MqttState::Stopped);
    EXPECT_EQ(client.publish({"t/x", "late", 1, false}), std::nullopt) << "no connection";

    // A broker that is not there yet at the start is connected to when it
    // comes.
    broker.stop();
    ASSERT_TRUE(client.start(c, error)) << error;
    ASSERT_TRUE(broker.restart());
    EXPECT_TRUE(Eventually(connected, 10s)) << client.status().error;
    client.stop(std::nullopt, 0);

    MqttConnection tls = c;
    tls.host = "localhost";
    tls.port = broker.tlsPort();
    tls.caFile = broker.caFile();
    ASSERT_TRUE(client.start(tls, error)) << error;
    EXPECT_TRUE(Eventually(connected, 10s)) << client.status().error;
    client.stop(std::nullopt, 0);
    tls.caFile = "/nonexistent/ca.crt";
    EXPECT_FALSE(client.start(tls, error));
    EXPECT_EQ(error, "impossibile leggere il file /nonexistent/ca.crt (No such file or directory)");
}

// A name stands for addresses tried in turn, the resolver's answers given
// here whatever /etc/hosts says: one that refuses (127.0.0.2, where the
// broker does not listen) and one that takes the connection and never
// answers (its time is up) before the broker's. With TLS, the broker's
// certificate must carry the name, not the address connected to: it has
// broker.test and 127.0.0.1, so other.test on 127.0.0.1 is refused. The
// broker is told the name (SNI), not the address: openssl's server, told to
// expect broker.test, ends any other handshake.
TEST(MqttClientTest, TriesEachAddressOfTheNameAndChecksTheNameWithTls) {
    if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
    Broker broker;
    ASSERT_TRUE(broker.start({"", "", true}));
    test::SilentPeer silent("127.0.0.3", broker.port());
    ASSERT_EQ(silent.port(), broker.port());
    const auto resolver = [](const std::string&, std::string&) {
        return std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.1"};
    };
    // Time enough per address for a TLS handshake under the sanitizers on a
    // loaded machine: a handshake cut short fails for another reason.
    MosquittoClient client(resolver, 5s);
    const auto connected = [&] { return client.status().state == MqttState::Connected; };
    MqttConnection c;
    c.host = "broker.test";
    c.port = broker.port();
    std::string error;
    ASSERT_TRUE(client.start(c, error)) << error;
    EXPECT_TRUE(Eventually(connected, 30s)) << client.status().error;
    client.stop(std::nullopt, 0);

    c.port = broker.tlsPort();
    c.caFile = broker.caFile();
    ASSERT_TRUE(client.start(c, error)) << error;
    EXPECT_TRUE(Eventually(connected, 30s)) << client.status().error;
    client.stop(std::nullopt, 0);
    c.host = "other.test";
    ASSERT_TRUE(client.start(c, error)) << error;
    EXPECT_TRUE(Eventually(
        [&] { return client.status().error.ends_with("certificate verify failed"); }, 30s))
        << client.status().error;
    EXPECT_FALSE(connected());
    client.stop(std::nullopt, 0);

    test::ChildProcess server;
    const std::string crt = broker.serverFile("crt"), key = broker.serverFile("key");
    c.host = "broker.test";
    c.port = test::FreePort();
    ASSERT_TRUE(server.start(
        test::Installed("openssl"),
        {"s_server", "-accept", "127.0.0.1:" + std::to_string(c.port), "-cert", crt, "-key", key,
         "-cert2", crt, "-key2", key, "-servername", "broker.test", "-servername_fatal", "-rev"}));
    const auto line = [&](test::ChildProcess::Stream stream, const char* text) {
        return server.waitForLine(
            stream, [&](const std::string& l) { return l == text; }, 30s);
    };
    ASSERT_TRUE(line(test::ChildProcess::Out, "ACCEPT"));
    ASSERT_TRUE(client.start(c, error)) << error;
    EXPECT_TRUE(line(test::ChildProcess::Err, "CONNECTION ESTABLISHED"));
    client.stop(std::nullopt, 0);
}

// The owner of a callback may go once its removal returned: a removal from
// another thread waits for a call under way, and none starts after it. A
// callback may remove itself from inside its own call.
TEST(MqttClientTest, ACallbackIsNeverCalledAfterItsRemovalReturned) {
    if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
    Broker broker;
    ASSERT_TRUE(broker.start());
    MosquittoClient client;
    std::atomic<bool> inside = false, release = false, removed = false, sawRemoved = false;
    client.onEvent([&] {
        inside = true;
        Eventually([&] { return release.load(); }, 10s);
        sawRemoved = sawRemoved || removed;
    });
    MqttConnection c;
    c.host = "127.0.0.1";
    c.port = broker.port();
    std::string error;
    ASSERT_TRUE(client.start(c, error)) << error;
    ASSERT_TRUE(Eventually([&] { return inside.load(); }, 10s));
    std::thread remover([&] {
        client.onEvent(nullptr);
        removed = true;
    });
    EXPECT_FALSE(Eventually([&] { return removed.load(); }, 500ms))
        << "the removal returned while the callback ran";
    release = true;
    remover.join();
    EXPECT_FALSE(sawRemoved) << "the callback ran on after its removal returned";

    std::atomic<int> calls = 0;
    client.onEvent([&] {
        ++calls;
        client.onEvent(nullptr);
    });
    ASSERT_TRUE(client.publish({"t/self", "{}", 1, false}));
    EXPECT_TRUE(Eventually([&] { return !client.takeDelivered().empty(); }, 5s));
    client.stop(std::nullopt, 0);
    EXPECT_EQ(calls, 1);
}

// Messages come back oldest first, across a reopening, until removed, their
// bytes whole; an append the disk refuses is refused with its cause and
// keeps nothing of itself; past the cap the oldest make room and are
// counted. The journal is its owner's alone, and no other program's while
// open: locked, without a shared-memory file (which a failing disk under it
// turns into a SIGBUS).
TEST(SqliteJournalTest, KeepsMessagesInOrderUnderItsCap) {
    test::TempFolder folder;
    const std::string file = folder / "Tarvel-journal.db";
    std::string error;
    {
        SqliteJournal journal;
        ASSERT_TRUE(journal.open(file, 0, error)) << error;
        ASSERT_TRUE(journal.append(
            {{"t/1", "a", 1, false}, {"t/2", std::string("b\0c", 3), 2, true}}, error));
        ASSERT_TRUE(journal.append({{"t/1", "d", 0, false}}, error));
        EXPECT_EQ(test::ModeOf(file), 0600u);
        EXPECT_EQ(test::ModeOf(file + "-wal"), 0600u);
        EXPECT_FALSE(std::filesystem::exists(file + "-shm"));
        EXPECT_NE(Sqlite(file, "SELECT count(*) FROM messages;").find("database is locked"),
                  std::string::npos);
    }
    EXPECT_EQ(Sqlite(file,
                     "PRAGMA journal_mode; PRAGMA integrity_check;"
                     "SELECT id, topic, hex(payload), qos, retain FROM messages;"),
              "wal\nok\n1|t/1|61|1|0\n2|t/2|620063|2|1\n3|t/1|64|0|0\n");
    SqliteJournal journal;
    ASSERT_TRUE(journal.open(file, 0, error)) << error;
    EXPECT_EQ(journal.next(1, 10).size(), 2u);
    journal.remove({1, 3});
    ASSERT_TRUE(journal.open(file, 0, error)) << error;  // what is left, read after a reopening
    const auto left = journal.next(0, 10);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].id, 2);
    EXPECT_EQ(left[0].message, (MqttMessage{"t/2", std::string("b\0c", 3), 2, true}));
    {
        test::FileSizeLimit full(4096);
        EXPECT_FALSE(journal.append({{"t/1", std::string(100000, 'x'), 1, false}}, error));
    }
    EXPECT_NE(error, "");
    EXPECT_EQ(journal.size(), 1);

    // A cap of 40 rows of 24 + 3 + 1 bytes: the oldest go, in batches.
    SqliteJournal capped;
    ASSERT_TRUE(capped.open(folder / "capped.db", 40 * 28, error)) << error;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(capped.append({{"t/1", std::to_string(i % 10), 1, false}}, error));
    EXPECT_LE(capped.size(), 40);
    EXPECT_EQ(capped.size() + capped.dropped(), 100);
    EXPECT_EQ(capped.next(0, 1)[0].id, capped.dropped() + 1) << "the oldest went first";
    EXPECT_FALSE(SqliteJournal().open("/nonexistent/j.db", 0, error));
    EXPECT_EQ(error, "/nonexistent/j.db: No such file or directory");
}

// A file that cannot be a journal is kept, its name followed by the time and
// ".bad", and a new journal starts in its place.
TEST(SqliteJournalTest, ADamagedJournalIsKeptAsideAndANewOneStarts) {
    test::TempFolder folder;
    const std::string file = folder / "Tarvel-journal.db", garbage(8192, 'x');
    test::WriteFile(file, garbage);
    SqliteJournal journal;
    std::string error;
    ASSERT_TRUE(journal.open(file, 0, error)) << error;
    std::string aside;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        if (std::regex_match(entry.path().filename().string(),
                             std::regex(R"(Tarvel-journal\.db\.[-0-9]{10}T[0-9]{6}\.bad)")))
            aside = entry.path().string();
    EXPECT_EQ(error, file + ": file is not a database: spostato in " + aside +
                         ", iniziato un nuovo giornale");
    EXPECT_EQ(test::ReadFile(aside), garbage);
    ASSERT_TRUE(journal.append({{"t/1", "a", 1, false}}, error)) << error;
    EXPECT_EQ(journal.next(0, 10).size(), 1u);
}

}  // namespace
}  // namespace tarvel::integration
