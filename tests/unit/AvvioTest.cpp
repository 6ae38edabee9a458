// The program's life with fakes: the start-up order and its failures, the
// first automatic start and the reload. The close request and the exit are
// tested through the real windows.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Impianto.h"
#include "app/Avvio.h"

namespace tarvel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct IstanzaFinta : IstanzaProgramma {
    bool libera = true;
    bool acquisisci() override { return libera; }
};

// Records what the start-up asks of the windows, with the state of the core
// at that moment.
struct FinestreRegistrate : Finestre {
    Programma* programma = nullptr;
    fakes::FakeSerialPort* porta = nullptr;
    std::vector<std::string> chiamate;

    std::string porta01() const { return porta->isOpen() ? " porta=1" : " porta=0"; }
    void PreparaMonitor() override {
        chiamate.push_back(std::string("PreparaMonitor avvio=") +
                           (programma->stato().avvioInCorso ? "1" : "0") + porta01());
    }
    void PreparaTray() override { chiamate.push_back("PreparaTray"); }
    void RimuoviIconaTray() override { chiamate.push_back("RimuoviIconaTray" + porta01()); }
    void RiduciInTray(bool riduci) override {
        chiamate.push_back(std::string("RiduciInTray ") + (riduci ? "1" : "0") + " lampada=" +
                           (programma->stato().lampada == Lampada::Spenta ? "spenta" : "accesa"));
    }
    bool monitorVisibile() const override { return false; }
    void MenuMonitor_Click() override { chiamate.push_back("MenuMonitor_Click"); }
    void mostraAvvisoRicarica(bool visibile) override {
        chiamate.push_back(std::string("avviso ") + (visibile ? "1" : "0"));
    }
    void termina(int codice) override {
        chiamate.push_back("termina " + std::to_string(codice) + porta01());
    }
};

// The start-up over the plant, its windows recorded.
struct Vita {
    Vita() {
        impianto.dueRighe();
        finestre.programma = &programma;
        finestre.porta = &p().port;
    }
    fakes::FakePlatform& p() { return impianto.fp; }

    fakes::Impianto impianto;
    Programma programma{p().piattaforma()};
    FinestreRegistrate finestre;
    IstanzaFinta istanza;
    AvvioAutomatico autoAvvio{p().shell, p().dialogs, p().identity};
    Avvio avvio{programma, p().clock, p().dialogs, finestre, &istanza, &autoAvvio};
};

TEST(AvvioTest, StartsInOrderThenTheFirstTimerStartsTheAcquisition) {
    Vita v;
    v.p().ini.set("Start", "Auto", "1");
    v.p().shell.autostart["Tarvel"] = "\"/opt/tarvel/Tarvel\"";
    v.avvio.Form_Load();

    EXPECT_THAT(v.finestre.chiamate, ElementsAre("avviso 0", "PreparaMonitor avvio=1 porta=1",
                                                 "PreparaTray", "RiduciInTray 0 lampada=spenta"));
    EXPECT_FALSE(v.programma.stato().avvioInCorso);
    EXPECT_TRUE(v.autoAvvio.spunta()) << "the check mark follows the autostart entry";
    EXPECT_TRUE(v.p().dialogs.messages.empty());

    // Two seconds after the start-up, not before.
    v.p().clock.advance(Millis(1999));
    EXPECT_TRUE(v.p().port.written().empty());
    v.p().clock.advance(Millis(1));
    EXPECT_TRUE(v.programma.stato().acquisizioneAttiva);
    EXPECT_FALSE(v.p().port.written().empty());
    EXPECT_FALSE(v.avvio.primaVoltaAttivo());
}

// Unusable settings and a profile that cannot be set up end the start-up
// after their message only, with no exit question; a second instance ends
// silently without reading anything. Each message names its cause in the box's details.
TEST(AvvioTest, FailedStartUpsEndTheProgram) {
    const struct {
        const char *section, *key, *value;
        bool libera;
        const char *messaggio, *dettaglio, *fine;
    } casi[] = {
        {"Parameters", "Firt", "0", true, "Impostazioni errate nel file Tarvel.INI",
         "/opt/tarvel/Tarvel.INI: [Parameters] Firt: valore non valido \"0\", nessun intervallo di "
         "richieste (numero di riga da 1 a 32767)",
         "termina 1 porta=0"},
        {"Serial_0", "COM", "*", true, "Errore nell'impostazione della porta seriale.",
         "[Serial_0] COM: chiave mancante o vuota", "termina 1 porta=0"},
        {"General", "Title", "", false, nullptr, nullptr, "termina 0 porta=0"},
    };
    for (const auto& caso : casi) {
        Vita v;
        v.p().ini.set("Start", "Auto", "1");
        v.p().ini.set(caso.section, caso.key, caso.value);
        v.istanza.libera = caso.libera;
        v.avvio.Form_Load();
        if (caso.messaggio) {
            EXPECT_THAT(v.impianto.testiMessaggi(), ElementsAre(caso.messaggio));
            EXPECT_THAT(v.p().dialogs.details, ElementsAre(caso.dettaglio));
        } else {
            EXPECT_THAT(v.impianto.testiMessaggi(), IsEmpty());
        }
        EXPECT_THAT(v.finestre.chiamate, ElementsAre(caso.fine));
        EXPECT_TRUE(v.avvio.terminato());
        EXPECT_FALSE(v.avvio.primaVoltaAttivo());
        EXPECT_EQ(v.p().port.openCount(), 0);
        EXPECT_EQ(v.p().ini.reads == 0, !caso.libera);
    }
}

TEST(AvvioTest, ReloadShowsItsNoticeAndAFailedOneAsksToEnd) {
    Vita v;
    v.avvio.Form_Load();
    v.finestre.chiamate.clear();
    v.avvio.MenuRicarica_Click();
    v.p().clock.advance(Avvio::DurataAvvisoRicarica);
    EXPECT_THAT(v.finestre.chiamate, ElementsAre("avviso 1", "avviso 0"));
    v.p().ini.set("Parameters", "Last", "0");
    v.p().dialogs.answer = Answer::No;
    v.avvio.MenuRicarica_Click();
    EXPECT_THAT(v.impianto.testiMessaggi(),
                ElementsAre("Impostazioni errate nel file Tarvel.INI", "Uscire dal programma ?"));
    EXPECT_FALSE(v.avvio.terminato());
}

}  // namespace
}  // namespace tarvel
