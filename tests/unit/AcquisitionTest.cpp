#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestBench.h"
#include "acquisition/CyclePrediction.h"
#include "app/AnswerLines.h"

namespace tarvel::test {
namespace {

// The execution and the cycle alone over two profiles, and a device whose
// registers the lines below read.
struct Registri : CycleBench {
    explicit Registri(const std::vector<std::string>& lines = {}, const Keys& keys = {})
        : CycleBench(lines, keys) {
        profile(1);
        device.values = {{{1, 0}, 1},   {{4, 12}, 0x08FD}, {{3, 100}, 1},
                         {{3, 101}, 0}, {{3, 40}, 0xFFFF}, {{3, 41}, 0xFFFE},
                         {{3, 5}, 5},   {{3, 6}, 0xFFFB},  {{3, 0xFFFF}, 3}};
    }
};

// Register 40 holds FFFF, 41 FFFE; "&" reads without sign; "+" takes the
// low word from the next register, "-" from the one before, with the
// addresses wrapping at 16 bits ("+" wins, and a "-" left in the field is a
// sign); a register is an address up to 65535 (the upper half goes out as
// the same 16 bits), and a register beyond 16 bits is not read. A constant
// keeps its field but "&", letters and signs included. A wait blocks; a
// serial line applies its profile.
TEST(Execution, AnswersEveryKindOfLineAndValueTypesFromTheirBytes) {
    Registri b;
    EXPECT_EQ(b.run("SLEEP 1500"), "#Sleep 1500");
    EXPECT_EQ(b.run("SLEEP -300"), "#Sleep -300");
    // Blocked, not waited; 100 ms of it were the port's opening.
    EXPECT_EQ(b.fp.clock.totalSlept() - Millis(100), Millis(1500));

    // Reads, constants, and lines that are neither.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"1,4,12,1;Vac", "<Vac>230.1</Vac>"}, {"1,4,12,-1;Vac", "<Vac>23010</Vac>"},
        {"0,0,R&D +1 F,0;Nome", "<Nome>RD +1 F</Nome>"}, {"1,3,40&,0;A", "<A>65535</A>"},
        {"1,1,0,0;A", "<A>1</A>"}, {"1,3,40+,0;A", "<A>-2</A>"},
        {"1,3,&40+,0;A", "<A>4294967294</A>"}, {"1,3,41-,0;A", "<A>-65537</A>"},
        {"1,3,-1 +,0;A", "<A>196608</A>"}, {"1,3,65535,0;A", "<A>3</A>"},
        {"1,3,65536,0;A", "<A>-99999</A>"}, {"1,16,5,0;A", "<A></A>"},
        {"NEXT", "%Next device"}, {"", "#Empty line"}, {"1,3,5;A", "#Invalid line"},
        // Decimals a double cannot scale by give no number.
        {"1,3,5,309;A", "<A></A>"}, {"1,3,100+&,0;Energia", "<Energia>65536</Energia>"}};
    // clang-format on
    for (const auto& [line, answer] : cases) EXPECT_EQ(b.run(line), answer) << line;
    // A node beyond one byte is not read: 256 would reach every node as 0.
    const std::vector<Bytes>& w = b.fp.port.written();
    const auto sent = w.size();
    EXPECT_EQ(b.run("256,3,5,0;A"), "<A></A>");
    EXPECT_EQ(b.run("-255,3,5,0;A"), "<A></A>");
    EXPECT_EQ(w.size(), sent);

    // Values of every type and order from the bytes Python's struct module
    // packs them into (registers from the lowest address); a "-" names the
    // most significant register, the highest. The letters in either case,
    // anywhere in the field; floats and 64-bit values in one request.
    // Bytes, the register the line names (from the lowest), markers,
    // decimals and the value.
    using C = std::tuple<std::string, int, const char*, const char*, const char*>;
    const C types[] = {
        {"4366199a", 0, "F", "0", "230.1"},  // not 230.100006103516
        {"199a4366", 1, "F-", "0", "230.1"},
        {"66439a19", 0, "FS", "0", "230.1"},
        {"7fc00000", 0, "F", "0", ""},  // NaN
        {"7f800000", 0, "F", "0", ""},  // infinity
        {"c4dfe185ca57c517", 0, "D", "0", "-6.02214076E+23"},
        {"fff0000000000000", 0, "D", "0", ""},
        {"fffffffffffffffe", 0, "Q&", "0", "18446744073709551614"},
        {"0020000000000001", 0, "q", "0", "9007199254740993"},
        {"00038d7ea4c67fff", 0, "Q", "0", "999999999999999"},
        {"00038d7ea4c68000", 0, "Q", "1", "100000000000000"},
        {"c517ca57e185c4df", 3, "D-", "0", "-6.02214076E+23"},  // at 2000 to 2003
        {"ab54a98ceb1f0ad2", 0, "&Q", "3", "12345678901234567.89"},
        {"ab54a98ceb1f0ad2", 0, "&Q", "-2", "1234567890123456789000"},
        {"8000000000000000", 0, "Q", "0", "-9223372036854775808"},
        {"8000000000000000", 0, "QN", "0", ""},
        {"ffffffffffffffff", 0, "QN", "0", "-1"},
        {"8000", 0, "", "0", "-32768"},
        {"8000", 0, "N", "0", ""},
        {"ffffffff", 0, "+&N", "0", ""},
        {"1234", 0, "S", "0", "13330"},
        {"4366199a", 0, "FD", "0", "-99999"},  // which type is meant cannot be told
    };
    int base = 1000;  // each value 100 registers above the one before
    for (const auto& [hex, named, markers, decimals, value] : types) {
        for (std::size_t i = 0; i < hex.size() / 4; ++i)
            b.device.values[{3, base + static_cast<int>(i)}] =
                static_cast<std::uint16_t>(std::stoul(hex.substr(4 * i, 4), nullptr, 16));
        const std::string line =
            "1,3," + std::to_string(base + named) + markers + "," + decimals + ";A";
        EXPECT_EQ(b.run(line), std::string("<A>") + value + "</A>") << line;
        base += 100;
    }
    // One request for the whole value, from its lowest register (CRC of an
    // independent implementation).
    for (const Bytes& frame : {Bytes{0x01, 0x03, 0x03, 0xE8, 0x00, 0x02, 0x44, 0x7B},
                               Bytes{0x01, 0x03, 0x07, 0xD0, 0x00, 0x04, 0x44, 0x84}})
        EXPECT_NE(std::find(w.begin(), w.end(), frame), w.end()) << MBus::TestoHex(frame);
    // Floats and 64-bit values are registers: on coils nothing is sent.
    const auto onCoils = w.size();
    EXPECT_EQ(b.run("1,1,0F,0;A"), "<A></A>");
    EXPECT_EQ(w.size(), onCoils);
    // A failed read of any type leaves the element empty.
    b.device.silent = true;
    EXPECT_EQ(b.run("1,3,1000Q,0;A"), "<A></A>");

    // A serial line applies its profile.
    EXPECT_EQ(b.run("SERIAL_1"), "Serial_1");
    EXPECT_EQ(b.run("SERIAL"), "Serial_SERIAL");  // profile 0
    EXPECT_TRUE(b.fp.dialogs.messages.empty());
}

TEST(Cycle, RunsTheListPausingOnlyBetweenLines) {
    Registri b({"1,4,12,1;Vac", "NEXT", "SLEEP 500"});
    b.cycle.setInterval(Millis(5000));
    const Millis start = b.fp.clock.elapsed();
    b.cycle.MenuAvvio_Click();
    EXPECT_EQ(b.answers,
              (std::vector<std::string>{"<Vac>230.1</Vac>", "%Next device", "#Sleep 500"}));
    // Two pauses of 200 ms and the wait line; no pause after the last line.
    EXPECT_EQ(b.fp.clock.elapsed() - start, Millis(900));
    EXPECT_EQ(b.lampade, (std::vector<Lamp>{Lamp::Green, Lamp::Yellow, Lamp::Green,
                                               Lamp::Red}));
    EXPECT_EQ(b.cycles.at(0).filesWritten, std::vector<std::string>{"/opt/tarvel/NoName.xml"});

    // The next cycle starts the interval after the end of this one.
    b.fp.clock.advance(Millis(4999));
    EXPECT_EQ(b.cycles.size(), 1u);
    b.fp.clock.advance(Millis(1));
    EXPECT_EQ(b.cycles.size(), 2u);

    // Starting again while on does nothing; stopping while waiting ends it.
    b.cycle.MenuAvvio_Click();
    EXPECT_EQ(b.cycles.size(), 2u);
    b.cycle.MenuFerma_Click();
    b.fp.clock.advance(Millis(60000));
    EXPECT_EQ(b.cycles.size(), 2u);

    // An empty list still writes the output.
    b.lines.clear();
    b.cycle.MenuAvvio_Click();
    EXPECT_EQ(b.file("/opt/tarvel/NoName.xml"), Documento({{}}));
}

// A group is read in the first cycle, then in the first cycle that starts
// at least its period after the start of the cycle that last read it. Not
// due, its lines send nothing and cost no pause; the answer list keeps
// their last answer and the report leaves them out. An EVERY line costs no
// pause; a block never reaches across one.
TEST(Cycle, AGroupIsReadOnceItsPeriodHasPassedSinceItsLastRead) {
    Registri b({"1,4,12,1;Vac", "EVERY 5401", "1,4,12,0;Slow", "EVERY 0", "1,4,12,0;Fast"});
    b.cycle.setInterval(Millis(5000));
    const auto names = [&b](std::size_t cycle) {
        std::string text;
        for (const Reading& r : b.cycles.at(cycle).readings) text += r.name + " ";
        return text;
    };
    b.cycle.MenuAvvio_Click();  // starts at 0, two pauses: ends at 400
    EXPECT_EQ(b.fp.port.written().size(), 3u);
    EXPECT_EQ(names(0), "Vac Slow Fast ");
    b.fp.clock.advance(Millis(5000));  // starts at 5400, before 5401: one pause
    EXPECT_EQ(b.fp.port.written().size(), 5u);
    EXPECT_EQ(names(1), "Vac Fast ");
    EXPECT_EQ(b.cycles.at(1).linesRun, 4);
    EXPECT_EQ(b.answers, (std::vector<std::string>{"<Vac>230.1</Vac>", "#Every 5401",
                                                   "<Slow>2301</Slow>", "#Every 0",
                                                   "<Fast>2301</Fast>"}));
    b.fp.clock.advance(Millis(5200));  // starts at 10600
    EXPECT_EQ(names(2), "Vac Slow Fast ");
    // The period counts from the start of the cycle that read the group:
    // 5400 after a start at 0 is due.
    b.lines[1] = LoadLine("EVERY 5400");
    b.cycle.MenuFerma_Click();
    b.cycle.MenuAvvio_Click();
    b.fp.clock.advance(Millis(5000));
    EXPECT_EQ(names(4), "Vac Slow Fast ");

    Registri block({"1,4,12,0;A", "EVERY 60000", "1,4,13,0;B"}, {{"Block", "10"}});
    block.cycle.MenuAvvio_Click();
    EXPECT_EQ(block.fp.port.written().size(), 2u);
}

// The cycle predicted from the settings, worked by hand. 9600,E,8,1 is 11
// bits a character: a read of one register, an 8-byte request and a 7-byte
// answer, takes 15 x 11 / 9600 s = 17.1875 ms; with Pause set (to 0) a
// request first waits what the time since the last exchange leaves of the
// end-of-frame silence, 3.5 x 11 / 9600 s = 4.011 ms, in whole ms: 5. A
// silent device costs each attempt its 8-byte request (9.1667 ms) and the
// time-out. COM2 is a gateway: its bytes cost nothing.
TEST(Prediction, BestWorstAndBusyOfAListWorkedByHand) {
    std::vector<RequestLine> lines;
    for (const char* t : {"1,3,0,0;A", "1,3,1+,0;B", "SLEEP 20", "EVERY 10000", "2,4,5,0;C",
                          "EVERY 0", "SERIAL_1", "1,3,0,0;D"})
        lines.push_back(LoadLine(t));
    SerialProfile serial{.com = "1", .settings = "9600,E,8,1", .timeOutMs = 100, .retry = 2,
                         .pauseMs = 0, .pauseSet = true, .skipAfter = 1};
    SerialProfile gateway{.com = "2", .settings = "9600,N,8,1"};
    const auto forecasts = PredictCycle(
        {lines, [&](std::int16_t n) { return n == 0 ? &serial : n == 1 ? &gateway : nullptr; },
         [](const std::string& com) { return com == "2"; }, Millis(1000)});
    ASSERT_EQ(forecasts.size(), 2u);
    const PortForecast& com1 = forecasts[0];
    const PortForecast& com2 = forecasts[1];
    EXPECT_EQ(com1.com + com2.com, "12");
    // COM2: the serial line's 100 ms after opening the port, D's pause of
    // 200 ms; when silent D also waits its 800 ms.
    EXPECT_DOUBLE_EQ(com2.bestMs, 300);
    EXPECT_DOUBLE_EQ(com2.worstMs, 1100);
    EXPECT_DOUBLE_EQ(com2.busyPercent, 0);
    // BEST on COM1: A 17.1875; B two requests after 5 ms each, 44.375; the
    // wait 20; C after the wait, no silence: 17.1875, read in one cycle of
    // ceil(10000 / (81.5625 + 300 + 1000)) = 8.
    EXPECT_DOUBLE_EQ(com1.bestMs, 81.5625 + 17.1875 / 8);
    EXPECT_DOUBLE_EQ(com1.busyPercent, 100 * (3 * 17.1875 + 17.1875 / 8) / (81.5625 + 17.1875 / 8));
    // WORST on COM1: A two attempts, the second after the silence:
    // 2 x 109.1667 + 5 = 223.3333; B nothing (Skip=1 after A failed); the
    // wait 20; C as A, in one cycle of ceil(10000 / (243.3333 + 1100 +
    // 1000)) = 5: 243.3333 + 44.6667.
    EXPECT_NEAR(com1.worstMs, 288.0, 1e-9);
}

// The loop tests for a stop right after it selects a line, and after each
// answer; the output is written all the same, and the report counts the
// lines that ran. A profile that cannot be applied stops it too.
TEST(Cycle, AStopEndsTheLoopAtItsNextTestAndTheOutputIsStillWritten) {
    using R = std::vector<std::string>;
    // The first read ends at 10 ms, the pause at 210 ms; at 215 ms the
    // second request waits for its answer.
    for (const auto& [stop, answers] : {std::pair{Millis(200), R{"<Vac>230.1</Vac>"}},
                                         {Millis(215), R{"<Vac>230.1</Vac>", "<B>5</B>"}}}) {
        SCOPED_TRACE(stop.count());
        Registri b({"1,4,12,1;Vac", "1,3,5,0;B", "1,3,6,0;C"});
        b.device.delay = Millis(10);
        b.fp.clock.after(stop, [&] { b.cycle.MenuFerma_Click(); });
        b.cycle.MenuAvvio_Click();
        EXPECT_EQ(b.answers, answers);
        EXPECT_NE(b.file("/opt/tarvel/NoName.xml").find(answers.back()), std::string::npos);
        b.fp.clock.advance(Millis(10000));
        ASSERT_EQ(b.cycles.size(), 1u);
        EXPECT_EQ(b.cycles[0].linesRun, static_cast<int>(answers.size()));
        EXPECT_EQ(b.cycles[0].readings.back().name, answers.size() == 1 ? "Vac" : "B");
        EXPECT_EQ(b.lampade.back(), Lamp::Off);
    }
    for (const char* line : {"SERIAL_9", "SERIAL_40000"}) {
        CycleBench b({line, "1,4,12,1;Vac"});
        b.cycle.MenuAvvio_Click();
        EXPECT_EQ(b.answers, std::vector<std::string>{"Serial__0"}) << line;
        EXPECT_FALSE(b.cycle.acquisizioneAttiva());
        EXPECT_EQ(b.fp.dialogs.messages.size(), 1u);
    }
}

// The window is sent a copy of the answer list after each line of a cycle:
// every copy keeps the lines it had, whatever is added to a later one or
// to itself again, and a line added to the last copy leaves the lines
// before it where they are instead of copying them (a cycle of n lines
// would copy n * n / 2 lines otherwise).
TEST(AnswerList, EveryCopyKeepsItsLinesAndAnAddedLineCopiesNoOther) {
    const auto lines = [](const AnswerLines& a) { return std::vector<std::string>(a.begin(), a.end()); };
    std::vector<AnswerLines> copies{AnswerLines{}};
    std::vector<std::string> expected;
    for (int i = 0; i < 70; ++i) {
        expected.push_back("<V" + std::to_string(i) + ">" + std::to_string(i) + "</V" + std::to_string(i) + ">");
        copies.push_back(copies.back().with(expected.back()));
    }
    for (std::size_t n = 0; n < copies.size(); ++n)
        ASSERT_EQ(lines(copies[n]), std::vector<std::string>(expected.begin(), expected.begin() + n))
            << "the copy of " << n << " lines";
    EXPECT_TRUE(copies.front().empty());
    // Lines are copied only when the room runs out, and the room doubles.
    std::set<const std::string*> storages;
    for (std::size_t n = 1; n < copies.size(); ++n) storages.insert(&copies[n][0]);
    EXPECT_LE(storages.size(), 4u) << "70 lines added one by one";

    // A line added to a copy that is not the last one goes after its own
    // lines, and the later copy keeps its own.
    for (const std::size_t n : {2, 66}) {
        const AnswerLines other = copies[n].with("#Sleep 10");
        std::vector<std::string> own(expected.begin(), expected.begin() + static_cast<long>(n));
        own.push_back("#Sleep 10");
        EXPECT_EQ(lines(other), own);
        EXPECT_EQ(copies[n + 1][n], expected[n]) << n;
    }
    const AnswerLines longer = copies[70].with("last");
    EXPECT_EQ(longer.size(), 71u);
    EXPECT_EQ(longer[70], "last");
    EXPECT_EQ(lines(copies[70]), expected);
}

}  // namespace
}  // namespace tarvel::test
