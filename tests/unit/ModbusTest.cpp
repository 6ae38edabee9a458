#include <gtest/gtest.h>

#include "Banco.h"

namespace tarvel::test {
namespace {

// The master on a fake port with a scripted device; the monitor is shown.
struct Linea : Banco {
    MBus& m = prog.mbus();
    Linea() {
        profilo(0);
        EXPECT_TRUE(prog.ImpostaPortaSeriale(0));
        m.ImpostaMonitorAttivo(true);
    }
    const std::vector<std::string>& tx() { return m.monitor().richieste(); }
    const std::vector<std::string>& rx() { return m.monitor().risposte(); }
};

// The values read, scaled and signed, are tested through request lines.
TEST(Modbus, TheMonitorShowsEveryFrameInItsNotationUpToItsCapacity) {
    Linea l;
    l.device.values[{3, 12}] = 0xFFFF;
    EXPECT_EQ(l.m.LeggiValore16(3, 12, 1, 0, false), -1);
    EXPECT_EQ(l.tx()[0], "01 03 00 0C 00 01 44 09");
    EXPECT_EQ(l.rx()[0], "01 03 02 FF FF B9 F4");
    l.m.ImpostaNotazione(0);
    l.m.ImpostaNotazione(7);  // other values change nothing
    l.m.LeggiHex(3, 0, 0, 1);
    EXPECT_EQ(l.tx().back(), "001 003 000 000 000 001 132 010");
    EXPECT_EQ(l.tx().front(), "01 03 00 0C 00 01 44 09") << "a line keeps its notation";

    // At its capacity the monitor empties both lists; a time-out of zero
    // ends each wait at once.
    l.device.silent = true;
    l.m.ImpostaTimeOut(0);
    const Millis before = l.fp.clock.elapsed();
    while (l.tx().size() < MonitorLog::Capacita) l.m.LeggiHex(3, 0, 0, 1);
    EXPECT_EQ(l.fp.clock.elapsed(), before);
    EXPECT_EQ(l.rx().size(), MonitorLog::Capacita);
    l.m.LeggiHex(3, 0, 0, 1);
    EXPECT_EQ(l.tx().size(), 1u);
    EXPECT_EQ(l.rx().size(), 1u);
    // Nothing is logged while the monitor is hidden.
    l.m.ImpostaMonitorAttivo(false);
    l.m.LeggiHex(3, 0, 0, 1);
    EXPECT_EQ(l.tx().size(), 1u);
}

TEST(Modbus, FailedExchangesAndAnUnpluggedDevice) {
    Linea l;
    // An unsupported function sends nothing.
    EXPECT_EQ(l.m.LeggiValore16(5, 0, 1, 0, false), std::nullopt);
    EXPECT_TRUE(l.fp.port.written().empty());

    // Nobody answers node 0.
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 0, 0, false), std::nullopt);
    EXPECT_EQ(l.rx().back(), "Broadcast");

    // A write that the open port refuses is a port error; the attempt still
    // takes its time-out, so the cycle keeps its pace.
    l.fp.port.refuseWrites = true;
    const Millis prima = l.fp.clock.elapsed();
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), std::nullopt);
    EXPECT_EQ(l.m.esito(), EsitoTransazione::ErrorePorta);
    EXPECT_EQ(l.rx().back(), "(Port error)");
    EXPECT_EQ(l.fp.clock.elapsed() - prima, Millis(800));

    // An unplugged device is reopened at most once a second.
    l.fp.port.refuseWrites = false;
    l.device.values[{3, 0}] = 42;
    ASSERT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), 42);
    l.fp.port.unplug();
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), std::nullopt);
    EXPECT_EQ(l.rx().back(), "Time out");
    EXPECT_FALSE(l.fp.port.isOpen());
    const int opens = l.fp.port.openCount();
    // Reads keep failing without spinning: each wait sleeps to its deadline.
    l.m.ImpostaTimeOut(100);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), std::nullopt);
    EXPECT_LT(l.fp.port.waits(), 200);
    EXPECT_EQ(l.fp.port.openCount(), opens);    // still unplugged: opening fails
    EXPECT_LE(l.m.contatori().riaperture, 3u);  // 2 seconds of reads
    l.fp.port.plug();
    l.fp.clock.advance(Millis(1000));
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), 42);
    EXPECT_TRUE(l.fp.port.isOpen());
    // A new profile clears the lost state.
    EXPECT_TRUE(l.prog.ImpostaPortaSeriale(0));
}

TEST(Modbus, AnswersAreCheckedBeforeTheyBecomeValues) {
    // A partial answer shows as an exception at the time-out; a single stray
    // byte counts as nothing; wrong CRC and foreign answers fail the attempt.
    struct Case {
        fakes::ScriptedDevice device;
        EsitoTransazione esito;
        const char* answer;
    };
    const Case cases[] = {
        {{.exception = 2}, EsitoTransazione::Eccezione, "01 83 02 C0 F1 (Exception)"},
        {{.partialBytes = 4}, EsitoTransazione::Parziale, "01 03 02 00 (Exception)"},
        {{.partialBytes = 1}, EsitoTransazione::TimeOut, "Time out"},
        {{.badCrc = true}, EsitoTransazione::ErroreCRC, "01 03 02 00 07 F8 87 (CRC error)"},
        {{.wrongNode = true},
         EsitoTransazione::RispostaErrata,
         "02 03 02 00 07 BD 86 (Wrong answer)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        Linea l;
        l.m.ImpostaRetry(2);
        l.device = c.device;
        l.device.values[{3, 0}] = 7;
        const TimePoint start = l.fp.clock.now();
        EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), std::nullopt);
        EXPECT_EQ(l.device.requests, 2) << "every failure is retried";
        EXPECT_EQ(l.rx().back(), c.answer);
        EXPECT_EQ(l.m.esito(), c.esito);
        if (c.esito != EsitoTransazione::Eccezione) continue;
        // An exception answer ends the wait as soon as it is complete.
        EXPECT_LT(l.fp.clock.now() - start, Millis(50));
        EXPECT_EQ(l.m.codiceEccezione(), 2);
    }

    // A stray leading byte spoils one attempt; the retry reads the value.
    Linea l;
    l.m.ImpostaRetry(2);
    l.device.values[{3, 0}] = 7;
    int calls = 0;
    l.fp.port.setDevice([&](const Bytes& request) {
        l.device.strayByte = calls++ == 0;
        return l.device(request);
    });
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), 7);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace tarvel::test
