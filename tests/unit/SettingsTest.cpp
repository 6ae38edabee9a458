#include <gtest/gtest.h>

#include "Banco.h"

namespace tarvel::test {
namespace {

TEST(Settings, LoadsCaptionIntervalAndRequestList) {
    Banco b;
    b.ini({{"General/Title", "Plant"},
           {"Parameters/Firt", "-1"},
           {"Parameters/Last", "6"},
           {"Parameters/Interval", "60000"},
           {"Parameters/001", "  SERIAL_1  "},
           {"Parameters/002", "1,4,12,1;Vac"},
           {"Parameters/004", "rem off"},
           {"Parameters/005", "Remote"},
           {"Parameters/006", "NEXT"}});
    ASSERT_TRUE(b.prog.CaricaImpostazioni());
    const MainState& s = b.prog.stato();
    EXPECT_EQ(s.didascalia, "Tarvel [Plant]");
    EXPECT_EQ(s.intervallo, Millis(60000));
    // 003 is missing (an empty line); 004 and 005 start with "REM".
    EXPECT_EQ(s.chiamate, (std::vector<std::string>{"SERIAL_1", "1,4,12,1;Vac", "", "NEXT"}));
    EXPECT_TRUE(b.fp.dialogs.messages.empty());
}

TEST(Settings, IntervalOutsideItsRangeMeansOneSecond) {
    using I = std::pair<const char*, int>;
    for (const auto& [value, interval] :
         {I{"60001", 1000}, I{"0", 1000}, I{"-5", 1000}, I{"abc", 1000}, I{"", 1000},
          I{"99999999999", 1000}, I{"1", 1}}) {
        Banco b;
        b.richieste({"NEXT"}, value);
        ASSERT_TRUE(b.prog.CaricaParametri());
        EXPECT_EQ(b.prog.stato().intervallo, Millis(interval)) << value;
    }
}

TEST(Settings, UnusableRangeShowsTheMessageAndKeepsTheList) {
    Banco b;
    b.richieste({"NEXT", "SLEEP 1"});
    ASSERT_TRUE(b.prog.CaricaImpostazioni());
    for (const char* firt : {"0", "", "word", "40000"}) {
        b.ini({{"Parameters/Firt", firt}, {"General/Title", "New"}});
        b.fp.dialogs.messages.clear();
        EXPECT_FALSE(b.prog.MenuRicarica_Click()) << firt;
        EXPECT_EQ(
            b.fp.dialogs.messages,
            (std::vector<fakes::ShownMessage>{{"Tarvel", "Impostazioni errate nel file Tarvel.INI",
                                               Icon::Critical, Buttons::Ok}}));
        // The caption is already new; the list stays as it was.
        EXPECT_EQ(b.prog.stato().didascalia, "Tarvel [New]");
        EXPECT_EQ(b.prog.stato().chiamate.size(), 2u);
    }
    EXPECT_EQ(b.view.ricaricate, 0);
    b.ini({{"Parameters/Firt", "2"}});
    EXPECT_TRUE(b.prog.MenuRicarica_Click());
    EXPECT_EQ(b.view.ricaricate, 1);
    EXPECT_EQ(b.prog.stato().chiamate, (std::vector<std::string>{"SLEEP 1"}));
}

TEST(Settings, CheckMarksAreOnOnlyForExactlyOneAndTextCommandsAskStoreAndClear) {
    Banco b;
    b.richieste({"NEXT"});
    b.ini({{"Start/Auto", "true"}, {"Start/Min", "1"}, {"Export/Kill", "2"}});
    ASSERT_TRUE(b.prog.CaricaImpostazioni());
    const MainState& s = b.prog.stato();
    EXPECT_EQ(std::tuple(s.acquisisciAuto, s.minimizzaPartenza, s.killFileOut),
              std::tuple(false, true, false));

    // Toggling writes "1" or "0" back.
    b.prog.MenuKillfileOut_Click();
    EXPECT_EQ(b.fp.ini.get("Export", "Kill"), "1");
    b.prog.MenuMinimizzaPartenza_Click();
    EXPECT_EQ(b.fp.ini.get("Start", "Min"), "0");
    EXPECT_EQ(b.view.tray, std::vector<bool>{false});
    // Switching the automatic acquisition on starts it.
    b.prog.MenuAcquisisciAuto_Click();
    EXPECT_EQ(b.fp.ini.get("Start", "Auto"), "1");
    EXPECT_TRUE(b.prog.stato().acquisizioneAttiva);

    // A failed load leaves the marks as they were.
    b.ini({{"Start/Min", "1"}, {"Parameters/Last", "0"}});
    EXPECT_FALSE(b.prog.CaricaImpostazioni());
    EXPECT_FALSE(b.prog.stato().minimizzaPartenza);

    // The text commands ask, store and clear.
    b.ini({{"Export/Out", "old.xml"}, {"Parameters/Last", "1"}});
    b.fp.dialogs.typed = "/data/out.xml";
    b.prog.MenuNomeFileOut_Click();
    ASSERT_EQ(b.fp.dialogs.inputs.size(), 1u);
    EXPECT_EQ(b.fp.dialogs.inputs[0].prompt,
              "File di uscita generale:\n\nInserire il carattere @ per lasciare indefinito questo "
              "campo");
    EXPECT_EQ(b.fp.dialogs.inputs[0].title, "Definizione file di uscita");
    EXPECT_EQ(b.fp.dialogs.inputs[0].proposed, "old.xml");
    EXPECT_EQ(b.fp.ini.get("Export", "Out"), "/data/out.xml");

    // Cancel (empty text) changes nothing; "@" clears, keeping the key.
    b.fp.dialogs.typed = "";
    b.prog.MenuNomeFileOut_Click();
    EXPECT_EQ(b.fp.ini.get("Export", "Out"), "/data/out.xml");
    b.fp.dialogs.typed = "@";
    b.prog.MenuNomeFileOut_Click();
    EXPECT_EQ(b.fp.ini.get("Export", "Out"), "");

    // The title changes the caption at once; "@" gives the bare name.
    b.fp.dialogs.typed = "Roof";
    b.prog.MenuTitoloGenerale_Click();
    EXPECT_EQ(b.prog.stato().didascalia, "Tarvel [Roof]");
    EXPECT_EQ(b.fp.dialogs.inputs.back().title, "Definizione titolo generale");
    b.fp.dialogs.typed = "@";
    b.prog.MenuTitoloGenerale_Click();
    EXPECT_EQ(b.prog.stato().didascalia, "Tarvel");

    // The encoding has no "@" rule.
    b.prog.MenuEncodingXML_Click();
    EXPECT_EQ(b.fp.ini.get("XML", "Encoding"), "@");
    EXPECT_EQ(b.fp.dialogs.inputs.back().prompt, "Encoding XML:\n\nValore predefinito: UTF-8");
}

}  // namespace
}  // namespace tarvel::test
