#include <gtest/gtest.h>

#include "Banco.h"

namespace tarvel::test {
namespace {

TEST(SerialSetup, AppliesAProfileAndShowsIt) {
    Banco b;
    b.ini({{"Serial_2/COM", " 3 "},
           {"Serial_2/Settings", "19200,e,8,1"},
           {"Serial_2/Handshaking", "7"},
           {"Serial_2/NullDiscard", "yes"},
           {"Serial_2/DTR", "1"},
           {"Serial_2/RTS", "0"},
           {"Serial_2/TimeOut", "1500"},
           {"Serial_2/Retry", "3"}});
    const Millis before = b.fp.clock.elapsed();
    ASSERT_TRUE(b.prog.ImpostaPortaSeriale(2));
    const auto& port = b.fp.port;
    EXPECT_EQ(std::tuple(port.isOpen(), port.portNumber(), port.handshake(), port.nullDiscard(),
                         port.dtr(), b.prog.mbus().LeggiTimeOut(), b.prog.mbus().LeggiRetry()),
              std::tuple(true, 3, Handshake::None, false, true, 1500, 3));
    const MainState& s = b.prog.stato();
    EXPECT_EQ(s.statusBar,
              (std::array<std::string, 6>{"COM 3", "19200,E,8,1", "Handshaking: None",
                                          "Null Discard: Off", "DTR: On", "RTS: Off"}));
    EXPECT_EQ(s.didascaliaMonitor, "Monitor RS232 [Porta COM3 attiva]");
    EXPECT_EQ(b.fp.clock.elapsed() - before, Millis(100));
    EXPECT_TRUE(b.fp.dialogs.messages.empty());
    // A reload puts the time-out and the tries back to their defaults.
    b.richieste({"NEXT"});
    ASSERT_TRUE(b.prog.MenuRicarica_Click());
    EXPECT_EQ(std::pair(b.prog.mbus().LeggiTimeOut(), b.prog.mbus().LeggiRetry()),
              std::pair(800, 1));
}

// Time-out: whole milliseconds up to ten seconds, empty for 800, a text
// without a number for 0. Retry: less than one or empty for one.
TEST(SerialSetup, DefaultsAndLimitsOfTimeOutAndRetry) {
    using D = std::tuple<const char*, const char*, int, int>;
    for (const auto& [key, value, timeOut, retry] :
         {D{"Retry", "0", 800, 1}, D{"Retry", "-3", 800, 1}, D{"Retry", "", 800, 1},
          D{"TimeOut", "0", 0, 1}, D{"TimeOut", "10000", 10000, 1}, D{"TimeOut", "abc", 0, 1}}) {
        Banco b;
        b.ini({{"Serial_0/TimeOut", ""}});
        b.profilo(0, key, value);
        ASSERT_TRUE(b.prog.ImpostaPortaSeriale(0)) << key << "=" << value;
        EXPECT_EQ(b.prog.mbus().LeggiRetry(), retry);
        EXPECT_EQ(b.prog.mbus().LeggiTimeOut(), timeOut);
    }
}

TEST(SerialSetup, EveryFailureCauseShowsOneMessageAndLeavesThePortClosed) {
    // Key, value and the cause the failure names; COM 7 is missing.
    using C = std::tuple<const char*, const char*, CausaProfilo>;
    for (const auto& [key, value, cause] :
         {C{"COM", "*", CausaProfilo::ChiaveMancante},
          C{"COM", "", CausaProfilo::ChiaveMancante},
          C{"COM", "COM1", CausaProfilo::PortaRifiutata},
          C{"COM", "01", CausaProfilo::PortaRifiutata},
          C{"COM", "123", CausaProfilo::PortaRifiutata},
          C{"COM", "0", CausaProfilo::PortaRifiutata},
          C{"Settings", "*", CausaProfilo::ChiaveMancante},
          C{"Settings", "9600,X,8,1", CausaProfilo::PortaRifiutata},
          C{"TimeOut", "10001", CausaProfilo::ValoreNonValido},
          C{"TimeOut", "2.5", CausaProfilo::ValoreNonValido},
          C{"Retry", "2.5", CausaProfilo::ValoreNonValido},
          C{"Handshaking", "70000", CausaProfilo::ValoreNonValido},
          C{"Pause", "60001", CausaProfilo::ValoreNonValido},
          C{"Pause", "-1", CausaProfilo::ValoreNonValido},
          C{"Pause", "2.5", CausaProfilo::ValoreNonValido},
          C{"Block", "1", CausaProfilo::ValoreNonValido},
          C{"Block", "2001", CausaProfilo::ValoreNonValido},
          C{"Block", "-2", CausaProfilo::ValoreNonValido},
          C{"Gap", "-1", CausaProfilo::ValoreNonValido},
          C{"Gap", "1.5", CausaProfilo::ValoreNonValido},
          C{"COM", "7", CausaProfilo::PortaNonAperta}}) {
        Banco b;
        b.fp.port.missingPorts = {7};
        b.ini({{"General/Title", "Roof"}});
        b.richieste({"NEXT"});
        b.prog.CaricaParametri();
        b.profilo(4, key, value);
        EXPECT_FALSE(b.prog.ImpostaPortaSeriale(4)) << key << "=" << value;
        EXPECT_FALSE(b.fp.port.isOpen());
        ASSERT_EQ(b.fp.dialogs.messages.size(), 1u);
        EXPECT_EQ(b.fp.dialogs.messages[0].text, "Errore nell'impostazione della porta seriale.");
        EXPECT_EQ(b.fp.dialogs.messages[0].title, "Tarvel [Roof]");
        EXPECT_EQ(b.fp.dialogs.messages[0].icon, Icon::Exclamation);
        EXPECT_EQ(b.view.splashNascosto, 1);
        const ErroreProfilo& e = b.prog.erroreProfilo();
        EXPECT_EQ(e.causa, cause) << key << "=" << value;
        EXPECT_EQ(e.chiave, key) << value;
        EXPECT_NE(DescriviErroreProfilo("Serial_4", e).find(std::string("[Serial_4] ") + key),
                  std::string::npos);
    }
    // A profile that is not there at all.
    Banco b;
    EXPECT_FALSE(b.prog.ImpostaPortaSeriale(5));
    EXPECT_EQ(b.fp.dialogs.messages.size(), 1u);
}

}  // namespace
}  // namespace tarvel::test
