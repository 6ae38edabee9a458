// A list on three gateways polled in parallel ([Parameters] Parallel=1):
// the same output files, history rows, broker messages and frames as the
// list run in turn; each port kept open from cycle to cycle; a gateway that
// keeps its answer back holds up none of the others.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>

#include "Broker.h"
#include "Headless.h"
#include "SqliteTool.h"

namespace tarvel::test {
namespace {

// COM n is gateway n (from 1), profile n its profile with its time-out;
// profile 0 is profile 1's; then `more` and the list, [Parameters] last so
// that `parameters` can follow it.
std::string Gateways(const std::vector<std::string>& urls, const std::vector<int>& timeOutMs,
                     const std::vector<std::string>& lines, const std::string& more,
                     const std::string& parameters) {
    std::string ports = "[Ports]\n", profiles;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        ports += "COM" + n + "=" + urls[i] + "\n";
        for (const std::string& number : i == 0 ? std::vector<std::string>{"0", n} : std::vector{n})
            profiles += "[Serial_" + number + "]\nCOM=" + n +
                        "\nSettings=9600,N,8,1\nTimeOut=" + std::to_string(timeOutMs[i]) + "\n";
    }
    std::string text = ports + profiles + more +
                       "[Parameters]\nFirt=1\nLast=" + std::to_string(lines.size()) +
                       "\nInterval=50\n";
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += std::to_string(1001 + i).substr(1) + "=" + lines[i] + "\n";
    return text + parameters;
}

// The lines of the stream with the "connected" of a network connection.
std::size_t Connections(SimProcess& sim) {
    const auto lines = sim.process().lines(ChildProcess::Err);
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [](const auto& l) {
        return l.find(": connected") != std::string::npos;
    }));
}

// What one run of the list wrote: the cycle lines, the output file, the
// history rows, the broker's messages (times as T) and the frames.
struct Written {
    std::vector<std::string> cycles, history, messages, frames;
    std::string xml;
};

// Three simulators as RTU-over-TCP gateways, node 1 on each with its own
// values; a scaled value, a 32-bit value, a node nobody serves, a constant,
// a second device, a wait line and a group read once a minute spread over
// them.
TEST(Parallel, TheOutputsAreThoseOfTheListInTurnAndEachPortStaysOpen) {
    SimProcess sims[3];
    std::vector<std::string> urls;
    for (int i = 0; i < 3; ++i) {
        const int raw = 2301 + i;
        ASSERT_TRUE(sims[i].start("node 1\ninput 12 " + std::to_string(raw) +
                                      "\nholding 100 1\nholding 101 " + std::to_string(i) +
                                      "\nholding 102 9\n",
                                  {"--rtu-tcp", "0"}));
        urls.push_back("tcp://" + sims[i].address("rtu-tcp"));
    }
    const std::vector<std::string> list{"SERIAL_1",      "1,4,12,1;Va", "1,3,100+&,0;Ea",
                                        "3,3,0,0;Muto",  "SERIAL_2",    "0,0,Roof,0;Sito",
                                        "1,4,12,1;Vb",   "NEXT",        "SLEEP 20",
                                        "1,3,100+,0;Eb", "SERIAL_3",    "1,4,12,2;Vc",
                                        "EVERY 60000",   "1,3,102,0;Gc"};
    Broker broker;
    const bool mqtt = Broker::available() && broker.start();
    std::size_t connectionsBefore[3] = {};
    // Each run on a topic of its own: the broker keeps the last one's state.
    const auto run = [&](const std::string& parameters, const std::string& topic) {
        const std::string more =
            "[History]\nFile=storico.db\n" +
            (mqtt ? "[MQTT]\nHost=127.0.0.1\nPort=" + std::to_string(broker.port()) +
                        "\nTopic=" + topic + "\n"
                  : std::string());
        for (int i = 0; i < 3; ++i) connectionsBefore[i] = Connections(sims[i]);
        TempFolder folder;
        WriteSettings(folder, Gateways(urls, {300, 300, 300}, list, more, parameters));
        Subscriber sub;
        if (mqtt) {
            EXPECT_TRUE(sub.start(broker.port(), topic + "/#"));
        }
        Headless logger;
        EXPECT_EQ(logger.run(folder, {"--cycles", "2", "--monitor"}), 0);
        EXPECT_EQ(logger.lines(Stream::Err), std::vector<std::string>{});
        Written w{{}, {}, {}, logger.lines(Stream::Out, "TX "), ReadFile(folder / "NoName.xml")};
        for (const auto& line : logger.cycles())
            w.cycles.push_back(std::regex_replace(line, std::regex(folder.path().string()), "DIR"));
        const auto rx = logger.lines(Stream::Out, "RX ");
        w.frames.insert(w.frames.end(), rx.begin(), rx.end());
        std::istringstream rows(
            Sqlite(folder / "storico.db", "SELECT cycle, device, name, value, line FROM history"));
        for (std::string row; std::getline(rows, row);) w.history.push_back(row);
        // Two cycles: two devices each, the health of nodes 1 and 3.
        if (mqtt) {
            EXPECT_TRUE(sub.waitFor(10, 10s)) << testing::PrintToString(sub.lines());
        }
        for (const auto& line : sub.lines())
            w.messages.push_back(std::regex_replace(
                std::regex_replace(line.substr(topic.size()), std::regex(", \"median_ms\".*"), ""),
                std::regex("\"[-0-9]{10}T[0-9:.]{12}Z\""), "T"));
        std::sort(w.messages.begin(), w.messages.end());
        return w;
    };
    const Written inTurn = run("", "plant/7");
    const std::size_t inTurnOpened[3] = {Connections(sims[0]) - connectionsBefore[0],
                                         Connections(sims[1]) - connectionsBefore[1],
                                         Connections(sims[2]) - connectionsBefore[2]};
    Written parallel = run("Parallel=1\n", "plant/8");
    EXPECT_EQ(parallel.cycles, inTurn.cycles);
    EXPECT_EQ(parallel.xml, inTurn.xml);
    EXPECT_NE(inTurn.xml.find("<Va>230.1</Va>"), std::string::npos) << inTurn.xml;
    EXPECT_NE(inTurn.xml.find("<Vc>23.03</Vc>"), std::string::npos) << inTurn.xml;
    EXPECT_NE(inTurn.xml.find("<Eb>65537</Eb>"), std::string::npos) << inTurn.xml;
    EXPECT_EQ(parallel.history, inTurn.history);
    EXPECT_EQ(inTurn.history.size(), 15u);
    // The group goes out in the first cycle only; its value stays in the file.
    EXPECT_NE(inTurn.xml.find("<Gc>9</Gc>"), std::string::npos) << inTurn.xml;
    EXPECT_EQ(std::count(inTurn.frames.begin(), inTurn.frames.end(), "TX 01 03 00 66 00 01 64 15"),
              1);
    EXPECT_EQ(parallel.messages, inTurn.messages);
    // Each frame marked with its port; without the marks, the same frames.
    for (auto& frame : parallel.frames) {
        static const std::regex mark("^(TX|RX) COM[123] ");
        EXPECT_TRUE(std::regex_search(frame, mark)) << frame;
        frame = std::regex_replace(frame, std::regex("^(TX|RX) COM[123] "), "$1 ");
    }
    auto frames = inTurn.frames;
    std::sort(frames.begin(), frames.end());
    std::sort(parallel.frames.begin(), parallel.frames.end());
    EXPECT_EQ(parallel.frames, frames);
    // In turn, each serial line opens its port again; in parallel each port
    // is opened once (gateway 1 also once for profile 0 at the start).
    EXPECT_TRUE(Eventually([&] { return Connections(sims[2]) - connectionsBefore[2] >= 1; }, 5s));
    EXPECT_EQ(inTurnOpened[0], 3u);
    EXPECT_EQ(inTurnOpened[1], 2u);
    EXPECT_EQ(inTurnOpened[2], 2u);
    EXPECT_EQ(Connections(sims[0]) - connectionsBefore[0], 2u);
    EXPECT_EQ(Connections(sims[1]) - connectionsBefore[1], 1u);
    EXPECT_EQ(Connections(sims[2]) - connectionsBefore[2], 1u);
}

// Three Modbus TCP gateways: the first is this test, which answers its
// request only once the third, a simulator, has been asked; the second
// never answers. In turn the first would be waited for until its time-out
// before the third is asked; in parallel its answer is in, and the silent
// one's values are empty and cost the others nothing. A stop then ends the
// third's wait line at once: the line after it is not run, the output is
// written and the run ends with 0.
TEST(Parallel, AGatewayThatKeepsItsAnswerHoldsUpNoOtherAndAStopEndsEachPort) {
    SilentPeer silent;
    auto [listener, address] = Loopback(0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 2302\n", {"--tcp", "0", "--verbose"}));
    const std::vector<std::string> urls{
        "mbtcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
        "mbtcp://127.0.0.1:" + std::to_string(silent.port()), "mbtcp://" + sim.address("tcp")};
    TempFolder folder;
    WriteSettings(folder,
                  Gateways(urls, {10000, 100, 300},
                           {"SERIAL_1", "1,4,12,1;Va", "SERIAL_2", "1,4,12,1;Vs", "1,4,13,1;Vt",
                            "SERIAL_3", "1,4,12,1;Vc", "SLEEP 30000", "1,4,12,1;Vd"},
                           "", "Parallel=1\n"));
    Headless logger;
    ASSERT_TRUE(logger.start(folder, {"--cycles", "1"}));
    // The connection of profile 0 at the start, closed; then the worker's.
    int connection = -1;
    std::uint8_t request[12] = {};
    for (int round = 0; round < 2; ++round) {
        pollfd p{listener, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 20000), 1);
        if (connection >= 0) ::close(connection);
        connection = ::accept(listener, nullptr, nullptr);
    }
    ASSERT_GE(connection, 0);
    pollfd p{connection, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1);
    ASSERT_EQ(::recv(connection, request, sizeof request, MSG_WAITALL), 12);
    // Read input register 12 of node 1 (the Modbus TCP framing: independent
    // of the transaction identifier in the first two bytes).
    EXPECT_EQ(std::vector<std::uint8_t>(request + 2, request + 12),
              (std::vector<std::uint8_t>{0, 0, 0, 6, 1, 4, 0, 12, 0, 1}));
    ASSERT_TRUE(sim.process().waitForLine(
        Stream::Err, [](const std::string& l) { return l.find(" rx ") != std::string::npos; },
        20s));
    // 2301 in input register 12, the transaction identifier given back.
    const std::uint8_t answer[] = {request[0], request[1], 0, 0, 0, 5, 1, 4, 2, 0x08, 0xFD};
    ASSERT_EQ(::send(connection, answer, sizeof answer, MSG_NOSIGNAL), ssize_t(sizeof answer));
    std::this_thread::sleep_for(1s);  // the silent gateway's time-outs over, well inside the wait
    ASSERT_TRUE(logger.process.signal(SIGTERM));
    EXPECT_EQ(logger.process.waitExit(10s), 0);  // well inside the wait of 30 s
    ::close(connection);
    ::close(listener);
    EXPECT_EQ(logger.cycles(),
              std::vector<std::string>{"Ciclo 1: righe eseguite 8, letture fallite 2, senza "
                                       "valore 0, durata N ms, file scritti: " +
                                       (folder / "NoName.xml")});
    const std::string xml = ReadFile(folder / "NoName.xml");
    for (const char* value : {"<Va>230.1</Va>", "<Vs></Vs>", "<Vt></Vt>", "<Vc>230.2</Vc>"})
        EXPECT_NE(xml.find(value), std::string::npos) << value << "\n" << xml;
    EXPECT_EQ(xml.find("<Vd>"), std::string::npos) << xml;
}

}  // namespace
}  // namespace tarvel::test
