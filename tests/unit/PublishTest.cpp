// The published messages and their way through the journal, on fakes of
// the broker connection and the journal, with the virtual clock.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "FakeClock.h"
#include "FakeMqtt.h"
#include "Plant.h"
#include "app/Program.h"
#include "publish/Json.h"
#include "publish/Publisher.h"

namespace tarvel::test {
namespace {

using fakes::ClientFinto;
using fakes::GiornaleFinto;

// The publishing on the fakes, started on the broker "b" under the topic "t".
class Publish : public ::testing::Test {
  protected:
    void SetUp() override {
        imp.host = "b";
        imp.topic = "t";
        ASSERT_TRUE(p.Start(imp, error, false));
    }
    // One message a cycle, its payload the number.
    void cycles(Publisher& pub, int from, int a) {
        for (int i = from; i <= a; ++i) {
            pub.Enqueue({{"t/1", std::to_string(i), 1, false}}, error);
            pub.Step();
        }
    }

    fakes::FakeClock clock;
    ClientFinto client;
    GiornaleFinto giornale;
    Publisher p{giornale, client, clock};
    MqttSettings imp;
    std::string error;
};

// A read's number in the output, as a JSON number and as the history's
// double, from its registers (Python's struct.pack): 15 significant digits,
// exponents outside them, an integer's every digit from 16 on, no "0"
// before the point but in JSON (its text where it differs); the double is
// the one nearest to the digits (Python's float(text).hex()).
TEST(ReadingNumber, OutputJsonAndHistoryTakeTheSameDigits) {
    using T = ValueType;
    using R = std::vector<std::uint16_t>;
    using C = std::tuple<R, T, bool, int, const char*, const char*, std::optional<double>>;
    const R u64{0xAB54, 0xA98C, 0xEB1F, 0x0AD2}, i64{0xFFDF, 0xFFFF, 0xFFFF, 0xFFFF},
        d03{0x3FD3, 0x3333, 0x3333, 0x3334}, e15{0x0003, 0x8D7E, 0xA4C6, 0x7FFF};
    // clang-format off
    const C cases[] = {
        {{0xFFFB}, T::Int16, false, 2, "-.05", "-0.05", -0x1.999999999999ap-5},
        {{0x0001}, T::Int16, false, 308, "1E-308", nullptr, 0x0.730d67819e8d2p-1022},
        {{0x3039}, T::Int16, false, -300, "1.2345E+304", nullptr, 0x1.20074abe9789dp+1010},
        {u64, T::Int64, true, 4, "1234567890123456.789", nullptr, 0x1.18b54f22aeb03p+50},
        {u64, T::Int64, true, -2, "1234567890123456789000", nullptr, 0x1.0bb448ec2f608p+70},
        {i64, T::Int64, false, 0, "-9007199254740993", nullptr, -0x1p+53},  // halfway
        {i64, T::Int64, false, 17, "-.09007199254740993", "-0.09007199254740993",
         -0x1.70ef54646d497p-4},
        {e15, T::Int64, false, 20, "9.99999999999999E-06", nullptr, 0x1.4f8b588e368ebp-17},
        {{0x4366, 0x199A}, T::Float32, false, 2, "2.301", nullptr, 0x1.26872b020c49cp+1},
        {{0x3F00, 0x0000}, T::Float32, false, 0, ".5", "0.5", 0x1p-1},
        {d03, T::Float64, false, 0, ".3", "0.3", 0x1.3333333333333p-2},
        {d03, T::Float64, false, -3, "300", nullptr, 0x1.2cp+8},
        {{0x4341, 0xC379, 0x37E0, 0x8000}, T::Float64, false, 0, "1E+16", nullptr,
         0x1.1c37937e08p+53},
        {{0xAB31, 0x482F, 0xE620, 0xC5D2}, T::Float64, false, 0, "-1.23456789012346E-100", nullptr,
         -0x1.1482fe620c5dfp-332},
        // Rounded to its digits, the largest double is beyond the doubles.
        {{0x7FEF, 0xFFFF, 0xFFFF, 0xFFFF}, T::Float64, false, 0, "1.79769313486232E+308", nullptr,
         {}}};
    // clang-format on
    for (const auto& [registers, type, isUnsigned, decimals, xml, json, history] : cases) {
        Reading r;
        r.quality = Quality::Good;
        r.number = DecodeValue(registers, true, {type, isUnsigned});
        r.decimals = static_cast<std::int16_t>(decimals);
        EXPECT_EQ(ValueText(r), xml);
        EXPECT_EQ(JsonNumber(r), json ? json : xml);
        EXPECT_EQ(ValueNumber(r), history) << xml;
    }
    // Integers of up to 15 digits over powers of ten, both signs, against
    // C's printf("%.15G") of the quotient.
    std::uint64_t seed = 88172645463325252u;  // xorshift64
    for (int i = 0; i < 20000; ++i) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        const std::uint64_t magnitude = (seed >> 8) % [&] {
            std::uint64_t limit = 1;
            for (int d = 0; d <= static_cast<int>(seed % 15); ++d) limit *= 10;
            return limit;
        }();
        const auto decimals = static_cast<std::int16_t>((seed >> 4) % 24);
        const bool negative = (seed >> 2) & 1;
        const double value = negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15G", value / std::pow(10.0, decimals));
        Reading r;
        r.quality = Quality::Good;
        r.number = ParsedNumber{value, true, negative, magnitude};
        r.decimals = decimals;
        ASSERT_EQ(JsonNumber(r), expected) << magnitude << " over 10^" << decimals;
    }
}

// JSON texts as Python's json.dumps gives them (ensure_ascii=False): the
// message of a cycle, and the discovery configs.
TEST_F(Publish, MessagesAreJsonWithTheValuesDigits) {
    EXPECT_EQ(JsonString("Roof \"A\"\\\x01\x1f"), "\"Roof \\\"A\\\"\\\\\\u0001\\u001f\"");
    EXPECT_EQ(JsonString("Citt\xc3\xa0"), "\"Citt\xc3\xa0\"") << "UTF-8 stays";
    EXPECT_EQ(JsonString("Citt\xe0 \xe8"), "\"Citt\xc3\xa0 \xc3\xa8\"") << "Latin-1 becomes UTF-8";
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\xc3\x80\xc2\xaf\"") << "an overlong form is no UTF-8";

    imp.topic = "tarvel/roof";
    // Readings: a number with its decimals, a failed read, a constant.
    const auto readValue = [](int device, const char* name, Quality q, std::uint64_t value = 0) {
        Reading r;
        r.device = device;
        r.name = name;
        r.quality = q;
        if (q == Quality::Good && value) r.number = ParsedNumber{double(value), true, false, value};
        if (q == Quality::Good && !value) r.constant = "Roof A";
        r.decimals = 1;
        return r;
    };
    const auto messages =
        CycleMessages(imp, "2026-12-06T21:45:03.120Z", 12,
                      {readValue(1, "Vac", Quality::Good, 2301), readValue(1, "Pac", Quality::Failed),
                       readValue(1, "Impianto", Quality::Good), readValue(2, "Vac", Quality::Good, 5)});
    EXPECT_EQ(messages, (std::vector<MqttMessage>{
                            {"tarvel/roof/1",
                             "{\"time\": \"2026-12-06T21:45:03.120Z\", \"cycle\": 12, \"values\": "
                             "{\"Vac\": 230.1, \"Pac\": null, \"Impianto\": \"Roof A\"}}",
                             1, false},
                            {"tarvel/roof/2",
                             "{\"time\": \"2026-12-06T21:45:03.120Z\", \"cycle\": 12, \"values\": "
                             "{\"Vac\": 0.5}}",
                             1, false}}));

    // Home Assistant's discovery: one retained config per value of each
    // device, pointing at the device's topic; a name twice in a device once;
    // a unit with its classes.
    imp.topic = "plant/7";
    imp.clientId = "tarvel-roof-1a2b";
    std::vector<RequestLine> lines;
    for (const char* text : {"1,4,12,1;Vac", "0,0,Roof A,0;Impianto", "SLEEP 5", "1,4,12,1;Vac",
                             "NEXT", "2,3,0,0;Pac.L1",
                             "2,3,1,0;T;\xB0"
                             "C",
                             "2,3,2,0;C;%"})
        lines.push_back(LoadLine(text));
    const auto configs = DiscoveryMessages(imp, lines, DevicesOfLines(lines, OutputSettings{}));
    ASSERT_EQ(configs.size(), 5u);
    EXPECT_EQ(configs[0],
              (MqttMessage{"homeassistant/sensor/tarvel-roof-1a2b/1_Vac/config",
                           "{\"name\": \"Vac\", \"unique_id\": \"tarvel-roof-1a2b_1_Vac\", "
                           "\"state_topic\": \"plant/7/1\", \"value_template\": \"{{ "
                           "value_json['values'][\\\"Vac\\\"] }}\", \"availability_topic\": "
                           "\"plant/7/state\", \"device\": {\"identifiers\": "
                           "[\"tarvel-roof-1a2b_1\"], \"name\": \"plant/7/1\", \"model\": "
                           "\"Tarvel\"}}",
                           1, true}));
    EXPECT_EQ(configs[2].topic, "homeassistant/sensor/tarvel-roof-1a2b/2_Pac_L1/config");
    // A Latin-1 unit is Home Assistant's UTF-8 one; a percentage has no
    // class (the units with one: Publishing.DiscoveryConfigsCarryUnitsAndTellNamesApart).
    EXPECT_NE(configs[3].payload.find(", \"unit_of_measurement\": \"\xC2\xB0"
                                      "C\", "
                                      "\"device_class\": \"temperature\", \"state_class\": "
                                      "\"measurement\", "),
              std::string::npos)
        << configs[3].payload;
    EXPECT_NE(configs[4].payload.find(
                  ", \"unit_of_measurement\": \"%\", \"state_class\": \"measurement\", "),
              std::string::npos)
        << configs[4].payload;
}

TEST_F(Publish, SettingsHaveTheirDefaultsAndNameEachBadValue) {
    std::map<std::string, std::string> ini;
    const auto read = [&](const std::string& k) { return ini.count(k) ? ini[k] : ""; };
    std::vector<std::string> problems;
    const auto readValue = [&](const char* folder = "/srv/a") {
        return ReadMqttSettings(read, "roof", folder, problems);
    };
    // Host, port, topic, CA file, QoS, retain, discovery, journal and its cap.
    const auto fields = [&] {
        const MqttSettings m = readValue();
        std::ostringstream out;
        out << m.host << " " << m.port << " " << m.topic << " " << m.caFile << " " << m.qos << " "
            << m.retain << " " << m.discovery << " " << m.journal << " " << m.journalMB;
        return out.str();
    };
    ini = {{"Host", "broker.lan"}};
    EXPECT_EQ(fields(), "broker.lan 1883 tarvel/roof  1 0 0 /srv/a/Tarvel-journal.db 100");
    const std::string id = readValue().clientId;
    EXPECT_TRUE(id.starts_with("tarvel-roof-"));
    EXPECT_EQ(readValue().clientId, id) << "the same at every start";
    EXPECT_NE(readValue("/srv/b").clientId, id);

    // The TLS port, a topic without its last slash, a journal in the folder.
    ini = {{"Host", "b"},   {"CAFile", "/etc/ca.crt"}, {"Topic", "plant/7/"}, {"QoS", "2"},
           {"Retain", "1"}, {"Journal", "j.db"},       {"Discovery", "1"}};
    EXPECT_EQ(fields(), "b 8883 plant/7 /etc/ca.crt 2 1 1 /srv/a/j.db 100");

    // Each bad key is named; the section is then refused
    // (Headless.SettingsRefusedInTheRunAsInTheCheck).
    ini = {{"Host", "b"}, {"Port", "70000"}, {"Topic", "a/#"}, {"User", "a\x7F"}};
    readValue();
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "[MQTT] Port: valore non valido \"70000\" (da 1 a 65535)",
                            "[MQTT] Topic: valore non valido \"a/#\" (senza # né +)",
                            "[MQTT] User: valore non valido \"a\x7F\" (testo UTF-8 senza "
                            "caratteri di controllo)"}));
}

// While the broker is away the cycles wait in the journal, and go in their
// order when it is back, no more than the window at a time; only what the
// broker acknowledged leaves the journal; what it never acknowledges goes
// again after a minute; a clean end sends what it can, then "offline".
TEST_F(Publish, NothingLeavesTheJournalBeforeTheBrokerHasIt) {
    EXPECT_EQ(client.connection.will, (MqttMessage{"t/state", "offline", 1, true}));
    EXPECT_EQ(client.connection.greeting, (MqttMessage{"t/state", "online", 1, true}));

    cycles(p, 1, 150);
    EXPECT_EQ(giornale.size(), 150);
    EXPECT_TRUE(client.consegnati.empty());

    client.up = true;
    p.Step();
    ASSERT_EQ(client.consegnati.size(), Publisher::InFlightWindow);
    p.Step();
    EXPECT_EQ(client.consegnati.size(), Publisher::InFlightWindow) << "the window is full";
    client.confermaTutti();
    p.Step();
    EXPECT_EQ(giornale.size(), 50);
    for (int i = 0; i < 150; ++i) EXPECT_EQ(client.consegnati[i].payload, std::to_string(i + 1));

    // Never acknowledged: handed again after a minute, from the oldest.
    clock.advance(Publisher::AckTimeout);
    p.Step();
    EXPECT_EQ(client.consegnati.size(), 200u);
    EXPECT_EQ(client.consegnati[150].payload, "101");
    client.confermaTutti();
    p.Step();
    EXPECT_EQ(giornale.size(), 0);

    // A clean end: a broker away is not waited for (a connection being made
    // would be, for a moment); what is left stays for the next start.
    ASSERT_TRUE(p.Enqueue({{"t/1", "last", 1, false}}, error));
    client.up = false;
    const TimePoint fine = clock.now();
    p.Stop(5000);
    EXPECT_LE(clock.now() - fine, Publisher::ConnectWait);
    EXPECT_EQ(client.attesaFinale, 0);
    EXPECT_EQ(giornale.size(), 1) << "kept for the next start";
    EXPECT_EQ(client.latest, (MqttMessage{"t/state", "offline", 1, true}));

    // A broker connected at the end gets the whole time for what waits.
    Publisher q(giornale, client, clock);
    ASSERT_TRUE(q.Start(imp, error, false));
    client.up = true;
    const TimePoint fine2 = clock.now();
    q.Stop(5000);
    EXPECT_EQ(clock.now() - fine2, Millis(5000)) << "\"last\" never acknowledged";
}

// What the journal cannot take waits in memory: a connected broker gets it
// at once, one away when it is back, after what the journal holds; once the
// journal takes writes again, memory goes back into it first. Past its bound
// the oldest in memory make room, counted. Without any journal (it cannot
// even be opened) memory alone carries the cycles, the cause told.
TEST_F(Publish, WhatTheJournalCannotTakeWaitsInMemoryInOrder) {
    cycles(p, 1, 2);
    giornale.pieno = true;
    cycles(p, 3, 4);
    EXPECT_EQ(p.status().waiting, 4);
    EXPECT_EQ(p.status().journalError, "database or disk is full");
    client.up = true;
    cycles(p, 5, 5);
    EXPECT_EQ(client.payloads(), "1 2 3 4 5");
    client.confermaTutti();
    p.Step();
    EXPECT_EQ(p.status().waiting, 0);

    client.up = false;
    cycles(p, 6, 7);
    giornale.pieno = false;
    cycles(p, 8, 8);
    EXPECT_EQ(giornale.size(), 0) << "not tried again so soon";
    clock.advance(Publisher::JournalRetry);
    cycles(p, 9, 9);
    EXPECT_EQ(giornale.size(), 4) << "6 to 9 in the journal";
    EXPECT_EQ(p.status().journalError, "");
    client.up = true;
    p.Step();
    EXPECT_EQ(client.payloads(), "1 2 3 4 5 6 7 8 9");
    client.confermaTutti();
    p.Step();

    client.up = false;
    giornale.pieno = true;
    cycles(p, 1, static_cast<int>(Publisher::MaxInMemory) + 3);
    EXPECT_EQ(p.status().droppedInMemory, 3);
    client.up = true;
    p.Step();
    EXPECT_EQ(client.consegnati.at(9).payload, "4") << "the oldest went";

    GiornaleFinto guasto;
    guasto.guasto = "j.db: unable to open database file";
    Publisher senza(guasto, client, clock);
    ASSERT_TRUE(senza.Start(imp, error, false));
    EXPECT_EQ(senza.status().journalError, guasto.guasto);
    client.consegnati.clear();
    cycles(senza, 1, 2);
    EXPECT_EQ(client.payloads(), "1 2");
}

// The program publishes each cycle (a read that is not made, whose output
// shows -99999, is null) and tells each trouble of the publishing once,
// while the cycles and the output go on: a broker that refuses the
// credentials, a journal at its cap (with the count), a disk that refuses
// the journal, and memory full meanwhile (with the count). The password of the settings is never
// shown (the details are checked whole); that the connection gets the credentials, and the
// "offline" of a clean end: Publishing.EachCycleGivesOneMessagePerDevice.
TEST_F(Publish, TheProgramTellsEachTroubleOnceAndGoesOn) {
    fakes::Impianto plant;
    fakes::FakeWallClock wall{plant.fp.clock, WallTime{}};
    plant.profile(0);
    plant.requests({"1,4,12,1;Vac", "1,3,70000,0;Alto", "NEXT", "0,0,Roof,0;K"});
    plant.ini({{"MQTT/Host", "b"}, {"MQTT/Topic", "t"}, {"MQTT/Password", "s3cret"}});
    plant.device.values[{4, 12}] = 2301;
    client.error = "Connection Refused: not authorised.";
    Program prog(plant.fp.platform(&client, &giornale, nullptr, &wall));
    ASSERT_TRUE(prog.CaricaImpostazioni());
    ASSERT_TRUE(prog.ImpostaPortaSeriale(0));
    prog.MenuAvvio_Click();
    // The cycle's start by the wall clock (the layout: the JSON test above).
    EXPECT_EQ(giornale.entries.at(1).payload,
              "{\"time\": \"1970-01-01T00:00:00.100Z\", \"cycle\": 1, \"values\": "
              "{\"Vac\": 230.1, \"Alto\": null}}");
    giornale.droppedCount = 1;
    prog.TmrLettura_Timer();
    client.error.clear();
    giornale.droppedCount = 2;
    prog.TmrLettura_Timer();
    giornale.pieno = true;
    // Two messages a cycle wait in memory, until it is full.
    for (std::size_t i = 0; i <= Publisher::MaxInMemory / 2; ++i) prog.TmrLettura_Timer();
    EXPECT_EQ(plant.fp.dialogs.details,
              (std::vector<std::string>{
                  "b:1883: broker: Connection Refused: not authorised.",
                  "b:1883: giornale pieno (JournalMB 100): i messaggi più vecchi vengono scartati "
                  "(1 finora)",
                  "b:1883: giornale: database or disk is full",
                  "b:1883: giornale: database or disk is full; in memoria 10000 messaggi al più: i "
                  "più vecchi vengono scartati (2 finora)"}));
    EXPECT_EQ(plant.testiMessaggi(),
              std::vector<std::string>(4, "Problema nella pubblicazione MQTT."));
    EXPECT_EQ(plant.fp.files.files.size(), 1u) << "the output goes on";
}

}  // namespace
}  // namespace tarvel::test
