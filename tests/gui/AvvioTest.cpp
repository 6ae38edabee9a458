// The program's life with fakes: the start-up order and its failures, the
// first automatic start, the reload notice, the close request and the exit.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Impianto.h"
#include "mainwindow/Avvio.h"

namespace tarvel {
namespace {

using fakes::Impianto;
using ::testing::ElementsAre;

struct IstanzaFinta : IstanzaProgramma {
    bool libera = true;
    bool acquisisci() override { return libera; }
};

// Records what the start-up and the exit ask of the windows, with the state
// of the core at that moment.
struct FinestreRegistrate : Finestre {
    Programma* programma = nullptr;
    fakes::FakeSerialPort* porta = nullptr;
    std::vector<std::string> chiamate;
    bool monitor = false;

    void registra(const std::string& cosa) { chiamate.push_back(cosa); }
    void PreparaMonitor() override {
        registra(std::string("PreparaMonitor avvio=") +
                 (programma->stato().avvioInCorso ? "1" : "0") +
                 " porta=" + (porta->isOpen() ? "1" : "0"));
    }
    void PreparaTray() override { registra("PreparaTray"); }
    void RimuoviIconaTray() override {
        registra(std::string("RimuoviIconaTray porta=") + (porta->isOpen() ? "1" : "0"));
    }
    void RiduciInTray(bool riduci) override {
        registra(std::string("RiduciInTray ") + (riduci ? "1" : "0") + " lampada=" +
                 (programma->stato().lampada == Lampada::Spenta ? "spenta" : "accesa"));
    }
    bool monitorVisibile() const override { return monitor; }
    void MenuMonitor_Click() override {
        monitor = !monitor;
        registra("MenuMonitor_Click");
    }
    void mostraAvvisoRicarica(bool visibile) override {
        registra(std::string("avviso ") + (visibile ? "1" : "0"));
    }
    void termina(int codice) override {
        registra(std::string("termina ") + std::to_string(codice) +
                 " porta=" + (porta->isOpen() ? "1" : "0"));
    }
};

class AvvioTest : public ::testing::Test {
  protected:
    AvvioTest() {
        finestre.programma = &programma;
        finestre.porta = &impianto.piattaforma.port;
    }
    fakes::FakePlatform& p() { return impianto.piattaforma; }

    Impianto impianto;
    Programma programma{impianto.piattaforma.piattaforma()};
    FinestreRegistrate finestre;
    IstanzaFinta istanza;
    AvvioAutomatico autoAvvio{impianto.piattaforma.shell, impianto.piattaforma.dialogs,
                              impianto.piattaforma.identity};
    Avvio avvio{
        programma, impianto.piattaforma.clock, impianto.piattaforma.dialogs, finestre, istanza,
        autoAvvio};
};

TEST_F(AvvioTest, StartsInOrderThenTheFirstTimerStartsTheAcquisition) {
    p().ini.set("Start", "Auto", "1");
    p().shell.autostart["Tarvel"] = "\"/opt/tarvel/Tarvel\"";
    avvio.Form_Load();

    EXPECT_THAT(finestre.chiamate, ElementsAre("avviso 0", "PreparaMonitor avvio=1 porta=1",
                                               "PreparaTray", "RiduciInTray 0 lampada=spenta"));
    EXPECT_FALSE(programma.stato().avvioInCorso);
    EXPECT_EQ(programma.stato().chiamate.size(), 2u);
    EXPECT_TRUE(autoAvvio.spunta()) << "the check mark follows the autostart entry";
    EXPECT_TRUE(p().dialogs.messages.empty());

    // Two seconds after the start-up, not before.
    p().clock.advance(Millis(1999));
    EXPECT_TRUE(p().port.written().empty());
    EXPECT_FALSE(programma.stato().acquisizioneAttiva);
    p().clock.advance(Millis(1));
    EXPECT_TRUE(programma.stato().acquisizioneAttiva);
    EXPECT_FALSE(p().port.written().empty());
    EXPECT_FALSE(avvio.primaVoltaAttivo());
}

TEST_F(AvvioTest, WithoutAutomaticAcquisitionNothingStartsAndTheTrayOptionHides) {
    p().ini.set("Start", "Auto", "true");
    p().ini.set("Start", "Min", "1");
    avvio.Form_Load();
    EXPECT_EQ(finestre.chiamate.back(), "RiduciInTray 1 lampada=spenta");
    EXPECT_FALSE(avvio.primaVoltaAttivo());
    p().clock.advance(Millis(10000));
    EXPECT_TRUE(p().port.written().empty());
}

TEST_F(AvvioTest, UnusableSettingsEndTheStartUpAfterTheirMessageOnly) {
    p().ini.set("Parameters", "Firt", "0");
    avvio.Form_Load();
    EXPECT_THAT(impianto.testiMessaggi(), ElementsAre("Impostazioni errate nel file Tarvel.INI"));
    EXPECT_THAT(finestre.chiamate, ElementsAre("termina 1 porta=0"));
    EXPECT_TRUE(avvio.terminato());
    EXPECT_EQ(p().port.openCount(), 0);
}

TEST_F(AvvioTest, AProfileThatCannotBeSetUpEndsTheStartUpAfterItsMessageOnly) {
    p().ini.set("Serial_0", "COM", "*");
    avvio.Form_Load();
    EXPECT_THAT(impianto.testiMessaggi(),
                ElementsAre("Errore nell'impostazione della porta seriale."));
    EXPECT_THAT(finestre.chiamate, ElementsAre("termina 1 porta=0"));
    EXPECT_FALSE(avvio.primaVoltaAttivo());
}

TEST_F(AvvioTest, ASecondInstanceEndsSilentlyWithoutReadingAnything) {
    istanza.libera = false;
    avvio.Form_Load();
    EXPECT_THAT(finestre.chiamate, ElementsAre("termina 0 porta=0"));
    EXPECT_TRUE(p().dialogs.messages.empty());
    EXPECT_EQ(p().ini.reads, 0);
    EXPECT_EQ(p().port.openCount(), 0);
}

TEST_F(AvvioTest, CloseRequestHidesWhileAcquiringAndAsksWhileIdle) {
    avvio.Form_Load();
    finestre.chiamate.clear();
    programma.MenuAvvio_Click();
    finestre.monitor = true;
    avvio.Form_QueryUnload();
    EXPECT_THAT(finestre.chiamate,
                ElementsAre("MenuMonitor_Click", "RiduciInTray 1 lampada=accesa"));
    EXPECT_TRUE(p().dialogs.messages.empty());

    programma.MenuFerma_Click();
    finestre.chiamate.clear();
    p().dialogs.answer = Answer::No;
    avvio.Form_QueryUnload();
    ASSERT_EQ(p().dialogs.messages.size(), 1u);
    const fakes::ShownMessage& domanda = p().dialogs.messages[0];
    EXPECT_EQ(domanda.title, "Tarvel");
    EXPECT_EQ(domanda.text, "Uscire dal programma ?");
    EXPECT_EQ(domanda.icon, Icon::Question);
    EXPECT_EQ(domanda.buttons, Buttons::YesNo);
    EXPECT_EQ(domanda.defaultButton, Answer::No);
    EXPECT_TRUE(finestre.chiamate.empty());
    EXPECT_TRUE(p().port.isOpen());

    p().dialogs.answer = Answer::Yes;
    avvio.MenuFine_Click();
    EXPECT_THAT(finestre.chiamate, ElementsAre("RimuoviIconaTray porta=1", "termina 0 porta=0"));
}

TEST_F(AvvioTest, ReloadShowsTheNoticeForTwoSecondsAndAFailedOneAsksToEnd) {
    avvio.Form_Load();
    finestre.chiamate.clear();
    avvio.MenuRicarica_Click();
    EXPECT_THAT(finestre.chiamate, ElementsAre("avviso 1"));
    p().clock.advance(Millis(1999));
    EXPECT_EQ(finestre.chiamate.size(), 1u);
    p().clock.advance(Millis(1));
    EXPECT_THAT(finestre.chiamate, ElementsAre("avviso 1", "avviso 0"));

    p().ini.set("Parameters", "Last", "0");
    p().dialogs.answer = Answer::No;
    avvio.MenuRicarica_Click();
    EXPECT_THAT(impianto.testiMessaggi(),
                ElementsAre("Impostazioni errate nel file Tarvel.INI", "Uscire dal programma ?"));
    EXPECT_FALSE(avvio.terminato());
    EXPECT_EQ(programma.stato().chiamate.size(), 2u) << "the old request list stays";
}

}  // namespace
}  // namespace tarvel
