// The pause between lines, skipping a dead node, and the guard that keeps a
// late answer from becoming another line's value.

#include <gtest/gtest.h>

#include <algorithm>

#include "Banco.h"

namespace tarvel::test {
namespace {

struct Ciclo : Banco {
    explicit Ciclo(std::vector<std::string> righe) {
        profilo(0);
        richieste(righe, "60000");
        device.delay = Millis(0);
        EXPECT_TRUE(prog.CaricaImpostazioni());
        EXPECT_TRUE(prog.ImpostaPortaSeriale(0));
        prog.mbus().ImpostaMonitorAttivo(true);
    }
    // Runs one cycle; its duration.
    Millis ciclo() {
        const Millis start = fp.clock.elapsed();
        if (prog.stato().acquisizioneAttiva)
            prog.TmrLettura_Timer();
        else
            prog.MenuAvvio_Click();
        return fp.clock.elapsed() - start;
    }
    long contaRisposte(const std::string& testo) {
        const auto& rx = prog.mbus().monitor().risposte();
        return std::count_if(rx.begin(), rx.end(),
                             [&](const std::string& r) { return r.ends_with(testo); });
    }
};

TEST(FastCycle, ThePauseIsTheOneOfTheProfileInForce) {
    Ciclo c({"1,4,12,1;A", "SERIAL_1", "1,4,12,1;B", "1,4,12,1;C"});
    c.device.values[{4, 12}] = 5;
    c.profilo(0, "Pause", "0");
    c.profilo(1, "Pause", "150");
    ASSERT_TRUE(c.prog.ImpostaPortaSeriale(0));
    // No pause after A (profile 0), 150 ms after the switch and after B, and
    // 100 ms for opening the port of profile 1.
    EXPECT_EQ(c.ciclo(), Millis(0 + 100 + 150 + 150));
    EXPECT_EQ(c.prog.stato().risposte.back(), "<C>.5</C>");

    // Without the key, and with an empty one, the pause is 200 ms.
    for (const char* pausa : {static_cast<const char*>(""), static_cast<const char*>(nullptr)}) {
        Ciclo d({"1,4,12,1;A", "1,4,12,1;B"});
        if (pausa) d.profilo(0, "Pause", pausa);
        ASSERT_TRUE(d.prog.ImpostaPortaSeriale(0));
        EXPECT_EQ(d.ciclo(), Millis(200));
    }
    // A pause out of range or not whole fails the profile, naming the key.
    for (const char* cattiva : {"60001", "-1", "2.5"}) {
        Ciclo e({"NEXT"});
        e.profilo(0, "Pause", cattiva);
        EXPECT_FALSE(e.prog.ImpostaPortaSeriale(0)) << cattiva;
        EXPECT_EQ(e.prog.erroreProfilo().chiave, "Pause");
    }
}

TEST(FastCycle, ADeadNodeCostsOneReadPerCycleAndIsTriedAgainNextCycle) {
    std::vector<std::string> righe(30, "1,3,0,0;V");
    righe.push_back("2,3,0,0;Altro");
    Ciclo c(righe);
    c.profilo(0, "Skip", "1");
    c.fp.ini.set("Serial_0", "Retry", "2");
    c.fp.ini.set("Serial_0", "TimeOut", "300");
    ASSERT_TRUE(c.prog.ImpostaPortaSeriale(0));
    c.device.silent = true;
    // One read's two attempts, then 29 lines that send nothing; node 2 is
    // still asked (and is silent too: another 2 x 300 ms); 30 pauses.
    const auto sent = c.fp.port.written().size();
    EXPECT_EQ(c.ciclo(), Millis(600 + 600 + 30 * 200));
    EXPECT_EQ(c.fp.port.written().size() - sent, 4u);
    EXPECT_EQ(c.contaRisposte("Skipped"), 29);
    const MainState& s = c.prog.stato();
    EXPECT_EQ(std::count(s.risposte.begin(), s.risposte.end(), "<V></V>"), 30);
    ASSERT_EQ(c.view.cicli.size(), 1u);
    EXPECT_EQ(c.view.cicli[0].lettureFallite, 31);

    // The device is back: the next cycle reads every line again.
    c.device.silent = false;
    c.device.values[{3, 0}] = 9;
    c.ciclo();
    EXPECT_EQ(std::count(s.risposte.begin(), s.risposte.end(), "<V>9</V>"), 30);
}

TEST(FastCycle, ALateAnswerNeverBecomesTheNextLinesValue) {
    // The answer to A comes this long after A's time-out; B reads another
    // register of the same node, which answers at once.
    for (int pausa : {0, 200}) {
        for (int ritardo : {10, 50, 270}) {
            SCOPED_TRACE(std::to_string(pausa) + " ms pause, " + std::to_string(ritardo));
            Ciclo c({"1,3,0,0;A", "1,3,1,0;B"});
            c.profilo(0, "Pause", std::to_string(pausa).c_str());
            c.fp.ini.set("Serial_0", "TimeOut", "300");
            ASSERT_TRUE(c.prog.ImpostaPortaSeriale(0));
            c.device.values[{3, 0}] = 111;
            c.device.values[{3, 1}] = 222;
            c.fp.port.setDevice([&](const Bytes& request) {
                c.device.delay = Millis(request[3] == 0 ? 300 + ritardo : 5);
                return c.device(request);
            });
            c.ciclo();
            EXPECT_EQ(c.prog.stato().risposte,
                      (std::vector<std::string>{"<A></A>", "<B>222</B>"}));
            EXPECT_EQ(c.contaRisposte("(Late answer)"), 1);
        }
    }
}

TEST(FastCycle, TwoAnswersBackToBackAreNotUsed) {
    Ciclo c({"1,3,0,0;A"});
    c.device.values[{3, 0}] = 7;
    int calls = 0;
    c.fp.port.setDevice([&](const Bytes& request) {
        auto answers = c.device(request);
        // The first attempt finds a stale answer in front of its own.
        if (calls++ == 0) answers.push_back(answers.front());
        return answers;
    });
    c.fp.ini.set("Serial_0", "Retry", "2");
    ASSERT_TRUE(c.prog.ImpostaPortaSeriale(0));
    c.ciclo();
    EXPECT_EQ(c.contaRisposte("(Wrong answer)"), 1);
    EXPECT_EQ(c.prog.stato().risposte, std::vector<std::string>{"<A>7</A>"});
}

TEST(FastCycle, ASilentNodeNeedsTheGuardOnlyOncePerCycle) {
    Ciclo c({"1,3,0,0;A", "1,3,1,0;B", "1,3,2,0;C"});
    c.profilo(0, "Pause", "0");
    c.fp.ini.set("Serial_0", "TimeOut", "300");
    ASSERT_TRUE(c.prog.ImpostaPortaSeriale(0));
    c.device.silent = true;
    // Three time-outs and one guard of one time-out before B.
    EXPECT_EQ(c.ciclo(), Millis(4 * 300));
    EXPECT_EQ(c.ciclo(), Millis(4 * 300));  // the next cycle waits once again
}

}  // namespace
}  // namespace tarvel::test
