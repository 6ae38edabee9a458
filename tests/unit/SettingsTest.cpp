// The settings file: its numbers, the request list and its lines, the check
// marks, the text commands and the serial profiles; and the value texts.

#include <gtest/gtest.h>

#include <optional>

#include "TestBench.h"
#include "acquisition/Chiamata.h"
#include "acquisition/ListCheck.h"
#include "settings/Number.h"

namespace tarvel::test {
namespace {

// The caption made from the title: Headless.CheckPrintsRecordsThenWarnings
// and the boxes' titles in SerialSetup.EveryFailureCauseShowsOneMessageAndLeavesThePortClosed.
TEST(Settings, LoadsIntervalAndRequestList) {
    Banco b;
    b.requests({"  SERIAL_1  ", "1,4,12,1;Vac", "", "rem off", "Remote", "NEXT"}, "60000");
    b.ini({{"Parameters/Firt", "-1"}, {"Serial_0/COM", "1"}, {"Serial_0/Settings", "9600,N,8,1"}});
    ASSERT_TRUE(b.prog.CaricaImpostazioni());
    const MainState& s = b.prog.status();
    EXPECT_EQ(s.interval, Millis(60000));
    // 003 is an empty line; 004 and 005 start with "REM".
    EXPECT_EQ(*s.requests, (std::vector<std::string>{"SERIAL_1", "1,4,12,1;Vac", "", "NEXT"}));
    // The same load read Serial_0 and the list's Serial_1, which has no COM.
    const std::vector<LoadedProfile>& profili = b.prog.loadedSettings().profiles;
    ASSERT_EQ(profili.size(), 2u);
    EXPECT_TRUE(profili[0].reading.profile);
    EXPECT_EQ(profili[1].number, 1);
    EXPECT_EQ(profili[1].reading.error.key, "COM");
    // An interval beyond 60000, below 1 or beyond 32 bits is one second.
    using I = std::pair<const char*, int>;
    for (const auto& [value, interval] :
         {I{"60001", 1000}, I{"0", 1000}, I{"99999999999", 1000}, I{"1", 1}}) {
        b.ini({{"Parameters/Interval", value}});
        ASSERT_TRUE(b.prog.CaricaParametri());
        EXPECT_EQ(s.interval, Millis(interval)) << value;
    }
}

TEST(Settings, UnusableRangeShowsTheMessageAndKeepsTheList) {
    Banco b;
    b.requests({"NEXT", "SLEEP 1"});
    ASSERT_TRUE(b.prog.CaricaImpostazioni());
    b.ini({{"Parameters/Firt", "40000"}});
    EXPECT_FALSE(b.prog.MenuRicarica_Click());
    EXPECT_EQ(
        b.fp.dialogs.messages,
        (std::vector<fakes::ShownMessage>{
            {"Tarvel", "Impostazioni errate nel file Tarvel.INI", Icon::Critical, Buttons::Ok}}));
    // The list stays as it was.
    EXPECT_EQ(b.prog.status().requests->size(), 2u);
    EXPECT_EQ(b.view.ricaricate, 0);
    b.ini({{"Parameters/Firt", "2"}});
    EXPECT_TRUE(b.prog.MenuRicarica_Click());
    EXPECT_EQ(b.view.ricaricate, 1);
    EXPECT_EQ(*b.prog.status().requests, (std::vector<std::string>{"SLEEP 1"}));
}

TEST(Settings, CheckMarksAreOnOnlyForExactlyOneAndTextCommandsAskStoreAndClear) {
    Banco b;
    b.requests({"NEXT"});
    b.ini({{"Start/Auto", "true"}, {"Start/Min", "1"}, {"Export/Kill", "2"}});
    ASSERT_TRUE(b.prog.CaricaImpostazioni());
    const MainState& s = b.prog.status();
    EXPECT_EQ(std::tuple(s.automaticAcquisition, s.startMinimised, s.killFileOut),
              std::tuple(false, true, false));

    // Toggling writes "1" or "0" back.
    b.prog.MenuKillfileOut_Click();
    EXPECT_EQ(b.fp.ini.get("Export", "Kill"), "1");
    b.prog.MenuMinimizzaPartenza_Click();
    EXPECT_EQ(b.fp.ini.get("Start", "Min"), "0");
    // Switching the automatic acquisition on starts it.
    b.prog.MenuAcquisisciAuto_Click();
    EXPECT_EQ(b.fp.ini.get("Start", "Auto"), "1");
    EXPECT_TRUE(b.prog.status().acquisizioneAttiva);

    // A failed load leaves the marks as they were.
    b.ini({{"Start/Min", "1"}, {"Parameters/Last", "0"}, {"General/Title", "Old"}});
    EXPECT_FALSE(b.prog.CaricaImpostazioni());
    EXPECT_FALSE(b.prog.status().startMinimised);

    // The text commands ask, store and clear.
    b.ini({{"Export/Out", "old.xml"}, {"Parameters/Last", "1"}});
    b.fp.dialogs.typed = "/data/out.xml";
    b.prog.MenuNomeFileOut_Click();
    ASSERT_EQ(b.fp.dialogs.inputs.size(), 1u);
    EXPECT_EQ(std::tuple(b.fp.dialogs.inputs[0].prompt, b.fp.dialogs.inputs[0].title,
                         b.fp.dialogs.inputs[0].proposed),
              std::tuple("File di uscita generale:\n\nInserire il carattere @ per lasciare "
                         "indefinito questo campo",
                         "Definizione file di uscita", "old.xml"));
    EXPECT_EQ(b.fp.ini.get("Export", "Out"), "/data/out.xml");

    // Cancel (empty text) changes nothing; "@" clears, keeping the key.
    b.fp.dialogs.typed = "";
    b.prog.MenuNomeFileOut_Click();
    EXPECT_EQ(b.fp.ini.get("Export", "Out"), "/data/out.xml");
    b.fp.dialogs.typed = "@";
    b.prog.MenuNomeFileOut_Click();
    EXPECT_EQ(b.fp.ini.get("Export", "Out"), "");
    // An encoding is stored as typed, and refused with a message when it is
    // no encoding name ("@" included): the file keeps its value.
    b.fp.dialogs.typed = "ISO-8859-1";
    b.prog.MenuEncodingXML_Click();
    EXPECT_EQ(b.fp.dialogs.inputs.back().prompt, "Encoding XML:\n\nValore predefinito: UTF-8");
    EXPECT_EQ(b.fp.ini.get("XML", "Encoding"), "ISO-8859-1");
    b.fp.dialogs.typed = "@";
    b.prog.MenuEncodingXML_Click();
    EXPECT_EQ(b.fp.ini.get("XML", "Encoding"), "ISO-8859-1");
    EXPECT_EQ(b.fp.dialogs.messages.back(),
              (fakes::ShownMessage{"Tarvel", "Valore non accettato: Definizione encoding XML.",
                                   Icon::Exclamation, Buttons::Ok, Answer::Ok}));
    EXPECT_EQ(b.fp.dialogs.details.back(),
              "[XML] Encoding: valore non valido \"@\" (lettere, cifre, . _ - :)");
}

TEST(SerialSetup, AppliesAProfileAndTheDefaultsAndLimitsOfTimeOutAndRetry) {
    Banco b;
    // clang-format off
    b.ini({{"Serial_2/COM", " 3 "}, {"Serial_2/Settings", "19200,e,8,1"},
           {"Serial_2/Handshaking", "7"}, {"Serial_2/NullDiscard", "yes"}, {"Serial_2/DTR", "1"},
           {"Serial_2/TimeOut", "1500"}, {"Serial_2/Retry", "3"}});
    // clang-format on
    const Millis before = b.fp.clock.elapsed();
    ASSERT_TRUE(b.prog.ImpostaPortaSeriale(2));
    const auto& port = b.fp.port;
    EXPECT_EQ(std::tuple(port.isOpen(), port.portNumber(), port.settings(), port.handshake(),
                         port.nullDiscard(), port.dtr(), b.prog.mbus().LeggiTimeOut(),
                         b.prog.mbus().LeggiRetry()),
              std::tuple(true, 3, LineSettings{19200, Parity::Even, 8, StopBits::One},
                         Handshake::None, false, true, 1500, 3));
    EXPECT_EQ(b.prog.status().statusBar,
              (std::array<std::string, 6>{"COM 3", "19200,E,8,1", "Handshaking: None",
                                          "Null Discard: Off", "DTR: On", "RTS: Off"}));
    EXPECT_EQ(b.prog.status().monitorCaption, "Monitor RS232 [Porta COM3 attiva]");
    EXPECT_EQ(b.fp.clock.elapsed() - before, Millis(100));
    EXPECT_TRUE(b.fp.dialogs.messages.empty());
    // A reload puts the time-out and the tries back to their defaults, and
    // the devices' health starts again from nothing.
    b.requests({"1,3,0,0;A"});
    b.prog.CaricaParametri();
    b.prog.SelectRequest(0);
    b.prog.Cmd_Leggi_Click();
    ASSERT_FALSE(b.prog.mbus().health().nodes().empty());
    b.requests({"NEXT"});
    ASSERT_TRUE(b.prog.MenuRicarica_Click());
    EXPECT_EQ(std::pair(b.prog.mbus().LeggiTimeOut(), b.prog.mbus().LeggiRetry()),
              std::pair(800, 1));
    EXPECT_TRUE(b.prog.mbus().health().nodes().empty());
    // Time-out: whole milliseconds up to ten seconds, empty for 800, a text
    // without a number for 0. Retry: less than one or empty for one. Each
    // row changes both from the row before.
    using D = std::tuple<const char*, const char*, int, int>;
    for (const auto& [timeOut, retry, ms, tries] :
         {D{"abc", "2", 0, 2}, D{"", "0", 800, 1}, D{"10000", "3", 10000, 3}, D{"1", "", 1, 1}}) {
        b.ini({{"Serial_2/TimeOut", timeOut}, {"Serial_2/Retry", retry}});
        ASSERT_TRUE(b.prog.ImpostaPortaSeriale(2)) << timeOut << "/" << retry;
        EXPECT_EQ(std::pair(b.prog.mbus().LeggiTimeOut(), b.prog.mbus().LeggiRetry()),
                  std::pair(ms, tries));
    }
}

TEST(SerialSetup, EveryFailureCauseShowsOneMessageAndLeavesThePortClosed) {
    // Key, value and the cause the failure names; COM 7 is missing. One
    // value a check: a number above, below, between whole numbers.
    using enum ProfileErrorCause;
    using C = std::tuple<const char*, const char*, ProfileErrorCause>;
    for (const auto& [key, value, cause] :
         {C{"COM", "*", MissingKey}, C{"COM", "", MissingKey},
          C{"COM", "COM1", PortRefused}, C{"COM", "01", PortRefused},
          C{"COM", "0", PortRefused}, C{"Settings", "*", MissingKey},
          C{"Settings", "9600,X,8,1", PortRefused}, C{"TimeOut", "10001", InvalidValue},
          C{"Retry", "2.5", InvalidValue}, C{"Handshaking", "70000", InvalidValue},
          C{"Pause", "60001", InvalidValue}, C{"Pause", "2.0", InvalidValue},
          C{"Block", "1", InvalidValue}, C{"Block", "abc", InvalidValue},
          C{"Gap", "-1", InvalidValue}, C{"Gap", "1e3", InvalidValue},
          C{"Skip", "abc", InvalidValue}, C{"Echo", "2", InvalidValue},
          C{"Window", "0", InvalidValue}, C{"Window", "17", InvalidValue},
          C{"Window", "4", PortRefused},
          C{"COM", "7", PortNotOpened}}) {
        Banco b;
        b.fp.port.missingPorts = {7};
        b.ini({{"General/Title", "Roof"}});
        b.requests({"NEXT"});
        b.prog.CaricaParametri();
        b.profile(4, key, value);
        EXPECT_FALSE(b.prog.ImpostaPortaSeriale(4)) << key << "=" << value;
        EXPECT_FALSE(b.fp.port.isOpen());
        EXPECT_EQ(b.fp.dialogs.messages,
                  (std::vector<fakes::ShownMessage>{
                      {"Tarvel [Roof]", "Errore nell'impostazione della porta seriale.",
                       Icon::Exclamation, Buttons::Ok, Answer::Ok}}));
        EXPECT_EQ(std::pair(b.prog.profileError().cause, b.prog.profileError().key),
                  std::pair(cause, std::string(key)))
            << key << "=" << value;
    }
}

TEST(LeadingNumber, ReadsTheNumberATextStartsWithAndRoundsIt) {
    // Blanks inside are ignored too; out of range is not a number.
    using N = std::pair<std::string, double>;
    for (const auto& [text, value] :
         {N{"  -2", -2}, N{"1 2 3", 123}, N{"12.5abc", 12.5}, N{".5", 0.5}, N{"1.5E3", 1500},
          N{"&H1F", 31}, N{"&hffff", 65535}, N{"100+&", 100}, N{"abc", 0}, N{"", 0}, N{"1e999", 0},
          N{"&H" + std::string(300, 'F'), 0}})
        EXPECT_EQ(LeadingNumber(text), value) << text;
    // Rounded, halves to even; out of width is no number.
    using R = std::pair<double, std::optional<std::int16_t>>;
    for (const auto& [value, rounded] :
         {R{2.5, 2}, R{3.5, 4}, R{32767.4, 32767}, R{-32768, -32768}, R{32767.5, std::nullopt}})
        EXPECT_EQ(RoundToInt16(value), rounded) << value;
    EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
    EXPECT_FALSE(RoundToInt32(2147483648.0));
}

TEST(RequestLine, CutsEveryKindOfLine) {
    EXPECT_EQ(CutLine("1 , 3 ,40,0; Pout"), (Chiamata{"1 ", "3 ", "40", "0", "Pout"}));
    // A second semicolon ends the description: the rest, trimmed, is the
    // unit of a read or a constant (a refused one: Headless.CheckPrintsRecordsThenWarnings).
    EXPECT_EQ(CutLine("1,3,40,2;Temp, inverter ; \xB0"
                      "C ")
                  .Descrizione,
              "Temp, inverter");
    using U = std::pair<const char*, const char*>;
    for (const auto& [text, unit] :
         {U{"1,3,40,2;Temp ; \xB0"
            "C ",
            "\xB0"
            "C"},
          U{"0,0,a,0;K;V;A", "V;A"}, U{"1,3,40,2;Temp;", ""}, U{"1,3,40,2;Temp", ""},
          U{"NEXT;x;V", ""}, U{"1,3,40;Temp;V", ""}})
        EXPECT_EQ(LoadLine(text).unit, unit) << text;
    EXPECT_EQ(CutLine("SERIAL").Codice, "SERIAL");
    EXPECT_EQ(CutLine("  SLEEP  250   "), (Chiamata{"#", "250", "*", "*", "Wait"}));
    // A read line without all of its separators is cut as far as it goes.
    EXPECT_EQ(CutLine("1,3,40"), (Chiamata{"1", "3", "40", "", ""}));
    // The detail fields show the line as written; its execution uses them
    // without the markers.
    const RequestLine r = LoadLine("1,3,100+&,2;Energia");
    EXPECT_EQ(r.fields.Registro, "100+&");
    EXPECT_EQ(r.shownFields.Registro, "100");
}

// The warnings of --check are tested through tarvel-headless.
TEST(Check, ElementNames) {
    for (const char* good : {"Vac", "_a", "a.b-c", "Pot1", "\xC3\xA8nergia"})
        EXPECT_TRUE(IsValidElementName(good)) << good;
    for (const char* bad : {"", "1a", "a b", "<a>", "xmlData"})
        EXPECT_FALSE(IsValidElementName(bad)) << bad;
}

}  // namespace
}  // namespace tarvel::test
