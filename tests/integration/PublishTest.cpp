// The broker connection against a real Mosquitto broker on a loopback port,
// watched by mosquitto_sub, and the journal in a real SQLite file, read back
// with the sqlite3 program.

#include <gtest/gtest.h>
#include <sys/stat.h>

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
using test::Subscriber;

MqttConnection To(int port) {
    MqttConnection c;
    c.host = "127.0.0.1";
    c.port = port;
    c.clientId = "tarvel-test-" + std::to_string(::getpid());
    return c;
}

bool Connected(const MqttClient& client) {
    return Eventually([&] { return client.status().state == MqttState::Connected; }, 10s);
}

// A wrong password is refused with the broker's words while the client
// keeps trying. With the right one, messages at every QoS reach the
// subscriber byte for byte, after the greeting (the subscriber takes them at
// QoS 1, in the order the broker got them); each is reported delivered
// once. A clean stop publishes its last message first; the will stays
// unsent. TLS connects with the broker's CA, and a CA file that cannot be
// read is refused at the start. (A broker that goes away and comes back:
// Publishing.NothingIsLostWhileTheBrokerIsAway.)
TEST(MqttClientTest, PublishesInOrderAndNamesEachConnectionFailure) {
    if (!Broker::available()) GTEST_SKIP() << "mosquitto is not installed";
    Broker broker;
    ASSERT_TRUE(broker.start({"tarvel", "s3cret", true}));
    Subscriber sub;
    ASSERT_TRUE(sub.start(broker.port(), "t/#", {}, {"-u", "tarvel", "-P", "s3cret"}));
    MosquittoClient client;
    std::string error;
    MqttConnection c = To(broker.port());
    c.user = "tarvel";
    c.password = "wrong";
    ASSERT_TRUE(client.start(c, error)) << error;
    EXPECT_TRUE(Eventually(
        [&] {
            return client.status() ==
                   MqttStatus{MqttState::Connecting, "Connection Refused: not authorised."};
        },
        5s))
        << client.status().error;

    c.password = "s3cret";
    c.will = MqttMessage{"t/state", "offline", 1, true};
    c.greeting = MqttMessage{"t/state", "online", 1, true};
    int events = 0;
    client.onEvent([&] { ++events; });
    ASSERT_TRUE(client.start(c, error)) << error;
    ASSERT_TRUE(Connected(client)) << client.status().error;
    const std::string json =
        "{\"time\": \"2026-12-06T21:45:03.120Z\", \"values\": {\"Vac\": 230.1}}";
    std::vector<int> ids;
    for (int qos : {0, 1, 2})  // -1: refused, never delivered
        ids.push_back(client.publish({"t/" + std::to_string(qos), json, qos, false}).value_or(-1));
    std::vector<int> delivered;
    EXPECT_TRUE(Eventually(
        [&] {
            for (int id : client.takeDelivered())
                if (std::find(ids.begin(), ids.end(), id) != ids.end()) delivered.push_back(id);
            return delivered.size() >= 3;
        },
        5s));
    std::sort(delivered.begin(), delivered.end());
    EXPECT_EQ(delivered, ids);
    EXPECT_GT(events, 3);
    client.stop(MqttMessage{"t/state", "offline (clean)", 1, true}, 5000);
    EXPECT_EQ(client.status().state, MqttState::Stopped);
    ASSERT_TRUE(sub.waitFor(5, 5s));
    EXPECT_EQ(sub.lines(), (std::vector<std::string>{"t/state online", "t/0 " + json, "t/1 " + json,
                                                     "t/2 " + json, "t/state offline (clean)"}));
    EXPECT_EQ(client.publish({"t/x", "late", 1, false}), std::nullopt) << "no connection";

    MqttConnection tls = To(broker.tlsPort());
    tls.host = "localhost";
    tls.caFile = broker.caFile();
    ASSERT_TRUE(client.start(tls, error)) << error;
    EXPECT_TRUE(Connected(client)) << client.status().error;
    client.stop(std::nullopt, 0);
    tls.caFile = "/nonexistent/ca.crt";
    EXPECT_FALSE(client.start(tls, error));
    EXPECT_EQ(error, "impossibile leggere il file /nonexistent/ca.crt (No such file or directory)");
}

// Messages come back oldest first, across a reopening, until removed; past
// the cap the oldest make room and are counted; an append the disk refuses
// keeps nothing of itself.
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
    }
    EXPECT_EQ(Sqlite(file,
                     "PRAGMA journal_mode; PRAGMA integrity_check;"
                     "SELECT id, topic, hex(payload), qos, retain FROM messages;"),
              "wal\nok\n1|t/1|61|1|0\n2|t/2|620063|2|1\n3|t/1|64|0|0\n");
    SqliteJournal journal;
    ASSERT_TRUE(journal.open(file, 0, error)) << error;
    auto entries = journal.next(1, 10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, 2);
    EXPECT_EQ(entries[0].message, (MqttMessage{"t/2", std::string("b\0c", 3), 2, true}));
    journal.remove({1, 3});
    EXPECT_EQ(journal.size(), 1);
    EXPECT_EQ(journal.next(0, 10)[0].id, 2);

    // A cap of 40 rows of 24 + 3 + 1 bytes: the oldest go, in batches.
    SqliteJournal capped;
    ASSERT_TRUE(capped.open(folder / "capped.db", 40 * 28, error)) << error;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(capped.append({{"t/1", std::to_string(i % 10), 1, false}}, error));
    EXPECT_LE(capped.size(), 40);
    EXPECT_EQ(capped.size() + capped.dropped(), 100);
    EXPECT_EQ(capped.next(0, 1)[0].id, capped.dropped() + 1) << "the oldest went first";

    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
        SqliteJournal readOnly;
        ASSERT_TRUE(readOnly.open(file, 0, error) || !error.empty());
        EXPECT_FALSE(readOnly.append({{"t/1", "x", 1, false}}, error));
        EXPECT_NE(error, "");
    }
    EXPECT_FALSE(SqliteJournal().open("/nonexistent/j.db", 0, error));
    EXPECT_EQ(error, "/nonexistent/j.db: unable to open database file");
}

}  // namespace
}  // namespace tarvel::integration
