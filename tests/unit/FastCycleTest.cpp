// The pause between lines, block reads, skipping a dead node, and the
// fence that keeps a late answer from becoming another line's value.

#include <gtest/gtest.h>

#include <algorithm>

#include "TestBench.h"

namespace tarvel::test {
namespace {

using Cycle = CycleBench;

TEST(FastCycle, ThePauseIsTheOneOfTheProfileInForce) {
    Cycle c({"1,4,12,1;A", "SERIAL_1", "1,4,12,1;B", "1,4,12,1;C"}, {{"Pause", "0"}});
    c.profile(1, "Pause", "150");
    // No pause after A (profile 0), 150 ms after the switch and after B, and
    // 100 ms for opening the port of profile 1.
    EXPECT_EQ(c.ciclo(), Millis(0 + 100 + 150 + 150));

    // With its own pause, a request follows the end of the last exchange
    // only after the silence that ends a frame: 3.5 characters of 11 bits,
    // 2.01 ms at 19200 baud, 1.75 ms above (4.01 ms at 9600: the silent
    // node below); the same wait comes before every request, those of a
    // 32-bit value too. Without a pause of its own, 200 ms:
    // Cycle.RunsTheListPausingOnlyBetweenLines.
    for (const auto& [settings, ciclo] :
         {std::pair{"19200,N,8,1", Millis(3)}, std::pair{"115200,E,8,1", Millis(2)}}) {
        Cycle d({"1,4,12,1;A", "1,4,12,1;B"}, {{"Pause", "0"}, {"Settings", settings}});
        EXPECT_EQ(d.ciclo(), ciclo) << settings;
    }
    // A network port keeps neither that silence nor the 100 ms after
    // opening that a serial line gets (5 ms at 9600 baud, then 100 ms): the
    // reads and a switch to the same profile cost only the device's time,
    // none here.
    for (LinkKind link : {LinkKind::Serial, LinkKind::RtuOverTcp}) {
        Cycle n({"1,4,12,1;A", "1,4,12,1;B", "SERIAL_0", "1,4,12,1;C"}, {{"Pause", "0"}});
        n.fp.port.link = link;
        ASSERT_TRUE(n.linea.ImpostaPortaSeriale(0));
        EXPECT_EQ(n.ciclo(), link == LinkKind::Serial ? Millis(5 + 100) : Millis(0));
    }
    // The port's part of the cycle is the sum of its reads' times, not of
    // their whole milliseconds: three reads of 0.6 ms on a gateway.
    Cycle g({"1,4,12,1;A", "1,4,12,1;B", "1,4,12,1;C"}, {{"Pause", "0"}});
    g.fp.port.link = LinkKind::RtuOverTcp;
    ASSERT_TRUE(g.linea.ImpostaPortaSeriale(0));
    g.device.delay = std::chrono::microseconds(600);
    g.ciclo();
    ASSERT_EQ(g.cycles.back().ports.size(), 1u);
    EXPECT_EQ(g.cycles.back().ports[0].time, std::chrono::microseconds(3 * 600));
    // Bad pauses fail the profile, naming the key: in the table of
    // SerialSetup.EveryFailureCauseShowsOneMessageAndLeavesThePortClosed.
}

TEST(FastCycle, ADeadNodeCostsOneReadPerCycleAndIsTriedAgainNextCycle) {
    std::vector<std::string> lines(30, "1,3,0,0;V");
    lines.push_back("2,3,0,0;Altro");
    Cycle c(lines, {{"Skip", "1"}, {"Retry", "2"}, {"TimeOut", "300"}});
    c.device.silent = true;
    // One read's two attempts, then 29 lines that send nothing; node 2 is
    // still asked (and is silent too: another 2 x 300 ms); 30 pauses.
    EXPECT_EQ(c.ciclo(), Millis(600 + 600 + 30 * 200));
    const std::vector<std::string>& r = c.answers;
    EXPECT_EQ(std::count(r.begin(), r.end(), "<V></V>"), 30);

    // The device is back: the next cycle reads every line again.
    c.device.silent = false;
    c.device.values[{3, 0}] = 9;
    c.ciclo();
    EXPECT_EQ(std::count(r.begin(), r.end(), "<V>9</V>"), 30);
}

TEST(FastCycle, HealthCountsWhatEachNodesRequestsGave) {
    // Node 1 answers, refuses, or garbles by register, never twice in a row
    // (an answer from node 2, which it gives for register 3, is a late
    // answer of another node: a time-out for node 1); node 2 is silent and
    // its third line is skipped.
    Cycle c({"1,3,0,0;A", "1,3,1,0;B", "1,3,0,0;C", "1,3,2,0;D", "1,3,0,0;E", "1,3,3,0;F",
             "1,3,0,0;G", "1,3,4,0;H", "2,3,0,0;I", "2,3,1,0;J", "2,3,2,0;K"},
            {{"Skip", "2"}});
    c.fp.port.setDevice([&](const Bytes& r) {
        const int addr = r[3];
        c.device.exception.reset();
        if (addr == 1 || addr == 4) c.device.exception = addr == 1 ? 2 : 4;
        c.device.badCrc = addr == 2;
        c.device.wrongNode = addr == 3;
        return c.device(r);
    });
    const auto fields = [&](std::uint8_t node) {
        return HealthFields(node, c.mbus.health().nodes().at(node));
    };
    using Campi = std::vector<std::string>;
    c.device.delay = Millis(5);
    c.ciclo();
    EXPECT_EQ(fields(1), (Campi{"1", "8", "4", "1", "1", "0", "2:1 4:1", "0", "5.0"}));
    EXPECT_EQ(fields(2), (Campi{"2", "2", "0", "2", "0", "0", "-", "1", "-"}));

    // The median of the last answer times, four a cycle of 5 and four of
    // 9 ms; the last good answer is of this cycle.
    c.device.delay = Millis(9);
    const TimePoint first = c.fp.clock.now();
    c.ciclo();
    EXPECT_EQ(fields(1)[8], "7.0");
    EXPECT_GT(c.mbus.health().nodes().at(1).lastGood.value_or(TimePoint{}), first);
}

TEST(FastCycle, AStopThatMustNotWaitEndsTheRunningRequestAtOnce) {
    Cycle c({"1,3,0,0;A", "1,3,1,0;B"}, {{"Retry", "20"}, {"TimeOut", "1000"}});
    // The stop comes while the device has not answered A's first attempt:
    // A fails at once, B is not run, the output is written.
    c.fp.port.setDevice([&](const Bytes&) {
        c.cycle.StopNow();
        return std::vector<fakes::Delivery>{};
    });
    EXPECT_EQ(c.ciclo(), Millis(0));
    EXPECT_EQ(c.fp.port.written().size(), 1u);
    EXPECT_EQ(c.answers, std::vector<std::string>{"<A></A>"});
    EXPECT_EQ(c.cycles.size(), 1u);

    // A stop while the fence before B waits: B does not go out.
    Cycle f({"1,3,0,0;A", "1,3,1,0;B"}, {{"TimeOut", "300"}});
    f.fp.port.setDevice([&](const Bytes& r) {
        if (r[1] == 8) f.cycle.StopNow();
        return std::vector<fakes::Delivery>{};
    });
    f.ciclo();
    EXPECT_EQ(f.fp.port.written().size(), 2u);
    EXPECT_EQ(f.answers, (std::vector<std::string>{"<A></A>", "<B></B>"}));
}

TEST(FastCycle, AStaleOrLateAnswerNeverBecomesAValue) {
    // Two answers back to back are not used: the first attempt finds a
    // stale answer in front of its own, and the retry reads the new value.
    Cycle doppie({"1,3,0,0;A"}, {{"Retry", "2"}});
    doppie.device.values[{3, 0}] = 7;
    int calls = 0;
    doppie.fp.port.setDevice([&](const Bytes& request) {
        auto answers = doppie.device(request);
        if (calls++ == 0) answers.push_back(answers.front());
        doppie.device.values[{3, 0}] = 8;
        return answers;
    });
    doppie.ciclo();
    EXPECT_EQ(doppie.answers, std::vector<std::string>{"<A>8</A>"});

    // A silent node costs one time-out for a fence once a cycle: three
    // time-outs and the fence's before B, which the silent node does not
    // answer; C goes out behind that fence, with no other. Each frame waits
    // for the silence after the exchange before it (5 ms at 9600 baud).
    Cycle muto({"1,3,0,0;A", "1,3,1,0;B", "1,3,2,0;C"}, {{"Pause", "0"}, {"TimeOut", "300"}});
    muto.device.silent = true;
    EXPECT_EQ(muto.ciclo(), Millis(4 * 300 + 3 * 5));
    EXPECT_EQ(muto.ciclo(), Millis(4 * 300 + 4 * 5));  // the next cycle fences again

    // The answer to A comes this long after A's time-out; B reads another
    // register of the same node. The fence before B is answered after A's
    // late answer, which is dropped, and B's answer after the fence's. With
    // block reads on, the block of A and B times out first: its late answer
    // is dropped before A reads alone, and A's before B.
    for (const char* block : {"", "125"}) {
        for (int ritardo : {10, 270}) {
            SCOPED_TRACE(std::string("Block=") + block + ", " + std::to_string(ritardo));
            Cycle c({"1,3,0,0;A", "1,3,1,0;B"},
                    {{"Pause", "0"}, {"Block", block}, {"TimeOut", "300"}});
            c.device.values = {{{3, 0}, 111}, {{3, 1}, 222}};
            c.fp.port.setDevice([&](const Bytes& request) {
                auto answer = c.device(request);
                const bool dallaA = request[1] == 3 && request[3] == 0;
                answer.front().delay = Millis(dallaA ? 300 + ritardo : 5);
                return answer;
            });
            c.ciclo();
            EXPECT_EQ(c.answers, (std::vector<std::string>{"<A></A>", "<B>222</B>"}));
        }
    }
}

// While a device behaves, the wire carries the reads and nothing else, at
// their old pace. (A device that answers every second read late:
// Headless.ALateAnswerNeverBecomesAnotherLinesValue.)
TEST(FastCycle, TheWireCarriesTheReadsAndNothingElse) {
    Cycle c({"1,3,100,0;A", "1,3,101,0;B", "1,3,102,0;C"}, {{"TimeOut", "300"}});
    c.device.values = {{{3, 100}, 111}, {{3, 101}, 222}, {{3, 102}, 333}};
    c.device.delay = Millis(20);
    EXPECT_EQ(c.ciclo(), Millis(3 * 20 + 2 * 200));
    c.ciclo();
    // Python's struct.pack('>BBHH', 1, 3, 100, 1) and a bit-wise CRC-16.
    const Bytes a = FromHex("01 03 00 64 00 01 C5 D5"), b = FromHex("01 03 00 65 00 01 94 15"),
                d = FromHex("01 03 00 66 00 01 64 15");
    EXPECT_EQ(c.fp.port.written(), (std::vector<Bytes>{a, b, d, a, b, d}));
    EXPECT_EQ(c.answers, (std::vector<std::string>{"<A>111</A>", "<B>222</B>", "<C>333</C>"}));
}

// An RS-485 adapter that gives back what it sends: with Echo=1 each
// request's own bytes are read back before its answer, and an echo that
// differs or does not come within the time-out is a port error. Without the
// key the echo spoils the answer. (The wire is the same with the key:
// requests only.)
TEST(FastCycle, WithEchoEachRequestIsReadBackBeforeItsAnswer) {
    enum Eco { Giusta, Sbagliata, None };
    // Echo, what the adapter gives back, the line's answer, the monitor's,
    // and how long the line took.
    using C = std::tuple<const char*, Eco, const char*, const char*, int>;
    for (const auto& [key, eco, answer, monitor, ms] :
         {C{"1", Giusta, "<A>7</A>", "01 03 02 00 07 F9 86", 5},
          C{"0", Giusta, "<A></A>", "01 03 00 00 00 01 84 0A (CRC error)", 0},
          C{"1", Sbagliata, "<A></A>", "01 03 00 00 00 01 84 0B (Port error)", 0},
          C{"1", None, "<A></A>", "(Port error)", 300}}) {
        SCOPED_TRACE(monitor);
        Cycle c({"1,3,0,0;A"}, {{"Echo", key}, {"TimeOut", "300"}});
        c.mbus.ImpostaMonitorAttivo(true);
        c.device.values[{3, 0}] = 7;
        c.fp.port.setDevice([&](const Bytes& r) {
            if (eco == None) return std::vector<fakes::Delivery>{};
            auto answers = c.device(r);
            answers.front().delay = Millis(5);
            Bytes indietro = r;
            if (eco == Sbagliata) indietro.back() ^= 1;
            answers.insert(answers.begin(), {Millis(0), indietro});
            return answers;
        });
        EXPECT_EQ(c.ciclo(), Millis(ms));
        EXPECT_EQ(c.answers, std::vector<std::string>{answer});
        EXPECT_EQ(c.mbus.monitor().answers().back(), monitor);
        EXPECT_EQ(c.fp.port.written(), std::vector<Bytes>{FromHex("01 03 00 00 00 01 84 0A")});
    }
}

// Reads of any number of items from every node.
struct Blocchi : Cycle {
    explicit Blocchi(std::vector<std::string> lines, const char* block, const char* gap = "")
        : Cycle(std::move(lines), {{"Block", block}, {"Gap", gap}}) {
        profile(1);
        device.node = 0;
        int v = 1;
        for (int function = 1; function <= 4; ++function)
            for (int addr = 0; addr < 40; ++addr)
                device.values[{function, addr}] =
                    static_cast<std::uint16_t>(function <= 2 ? addr % 3 == 0 : 1000 + v++);
    }
    // "function:address:count" of every request sent so far.
    std::string richiesteInviate() const {
        std::string out;
        for (const Bytes& r : fp.port.written())
            out += (out.empty() ? "" : " ") + std::to_string(r[1]) + ":" +
                   std::to_string(r[2] << 8 | r[3]) + ":" + std::to_string(r[4] << 8 | r[5]);
        return out;
    }
};

const std::vector<std::string> RigheMiste = {
    "1,3,10,0;A",  "NEXT",       "0,0,Roof,0;K", "1,3,11+,0;B", "1,3,14,1;C", "1,4,14,0;D",
    "1,4,15-,0;E", "SLEEP 10",   "1,4,16,0;F",   "1,1,3,0;G",   "1,1,9,0;H",  "1,2,0,0;I",
    "1,2,1,0;J",   "2,3,10,0;L", "SERIAL_1",     "1,3,20,0;M",  "1,3,21,0;N"};

TEST(FastCycle, BlockReadsGroupLinesAndGiveTheOutputOfSingleReads) {
    Blocchi singole(RigheMiste, "");
    singole.ciclo();

    // Block, Gap and the requests sent.
    using C = std::tuple<const char*, const char*, const char*>;
    const C casi[] = {
        // A and B's pair 11-12; C at 14 leaves a hole of one. D with E's
        // pair 15/14; F after the wait; the coils 3 and 9 are six apart; I
        // and J; L is another node; after the serial line, no blocks.
        {"10", "0", "3:10:3 3:14:1 4:14:2 4:16:1 1:3:1 1:9:1 2:0:2 3:10:1 3:20:1 3:21:1"},
        // A hole of one item joins C; one of five joins the coils.
        {"10", "5", "3:10:5 4:14:2 4:16:1 1:3:7 2:0:2 3:10:1 3:20:1 3:21:1"},
        // A window of two: B's pair would reach past it, so A reads alone.
        {"2", "5", "3:10:1 3:11:2 3:14:1 4:14:2 4:16:1 1:3:1 1:9:1 2:0:2 3:10:1 3:20:1 3:21:1"},
    };
    for (const auto& [block, gap, requests] : casi) {
        SCOPED_TRACE(std::string("Block=") + block + " Gap=" + gap);
        Blocchi b(RigheMiste, block, gap);
        b.ciclo();
        EXPECT_EQ(b.richiesteInviate(), requests);
        EXPECT_EQ(b.answers, singole.answers);
    }
    // Floats and 64-bit values join with all their registers as the 32-bit
    // pairs do; that each alone is one request from its lowest register:
    // Execution.AnswersEveryKindOfLineAndValueTypesFromTheirBytes.

    // Blocks and gaps out of range fail the profile, naming the key: in the
    // table of SerialSetup.EveryFailureCauseShowsOneMessageAndLeavesThePortClosed.

    // A failed block lets its lines read on their own.
    Blocchi b({"1,3,0,0;A", "1,3,1,0;B", "1,3,3+,0;C"}, "125", "1");
    b.device.refuseBlocks = true;
    b.ciclo();
    EXPECT_EQ(b.richiesteInviate(), "3:0:5 3:0:1 3:1:1 3:3:1 3:4:1");
    EXPECT_EQ(b.answers,
              (std::vector<std::string>{"<A>1001</A>", "<B>1002</B>", "<C>65799149</C>"}));
}

// Decimals given as "@" and a register take minus its signed contents
// (SunSpec scale factors), read with the line's function, alone or in the
// block of the values; a failed or "no value" (0x8000) scale read leaves
// the element empty.
TEST(FastCycle, ScaleFactorsScaleTheValuesOfTheirNodeAloneAndInBlocks) {
    const std::vector<std::string> lines = {"1,3,40072,@40084;Vac", "1,3,40073,@40084;Vbc",
                                            "1,4,40072,@40084;Iac", "1,4,40073,@40085;Nv",
                                            "2,3,40072,@40084;Altro"};
    for (const char* block : {"", "20"}) {
        SCOPED_TRACE(block);
        Blocchi b(lines, block, "20");
        b.device.node = 1;  // node 2 is silent
        b.device.values = {{{3, 40072}, 2301}, {{3, 40073}, 4}, {{3, 40084}, 0xFFFF},
                           {{4, 40072}, 5},    {{4, 40084}, 2}, {{4, 40085}, 0x8000},
                           {{4, 40073}, 7}};
        b.ciclo();
        EXPECT_EQ(b.answers,
                  (std::vector<std::string>{"<Vac>230.1</Vac>", "<Vbc>.4</Vbc>", "<Iac>500</Iac>",
                                            "<Nv></Nv>", "<Altro></Altro>"}));
        // The silent node's read failed; the scale register's 0x8000 is no value.
        EXPECT_EQ(b.cycles.back().failedReads, 1);
        EXPECT_EQ(b.cycles.back().noValue, 1);
        // A line run by hand reads its scale register again, whatever the
        // cycle read.
        b.device.values[{3, 40084}] = 1;
        b.cycle.Cmd_Leggi_Click(0);
        EXPECT_EQ(b.result, "<Vac>23010</Vac>");
        b.device.values[{3, 40084}] = 2;  // and so does each cycle
        b.ciclo();
        EXPECT_EQ(b.answers[0], "<Vac>230100</Vac>");
    }
}

}  // namespace
}  // namespace tarvel::test
