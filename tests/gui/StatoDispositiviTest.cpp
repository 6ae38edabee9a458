// The window "Stato dispositivi" over the core with fakes: one node that
// answers and one that stays silent, the rows after a cycle with the window
// open and after one with it hidden, the wall-clock time of the last good
// answer, and the empty table after a reload of the settings.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QDateTime>
#include <QTableWidget>

#include "Impianto.h"
#include "about/SplashForm.h"
#include "mainwindow/Applicazione.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/StatoDispositivi.h"

namespace tarvel {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;

struct IstanzaLibera : IstanzaProgramma {
    bool acquisisci() override { return true; }
};

class StatoDispositiviTest : public ::testing::Test {
  protected:
    StatoDispositiviTest() {
        // Node 1 answers its two lines after 12 ms; node 2 never answers,
        // and after its first failure in a cycle its next line is skipped.
        impianto.dueRighe();
        fakes::FakeProfileStore& ini = impianto.fp.ini;
        ini.set("Parameters", "Last", "4");
        ini.set("Parameters", "003", "2,3,0,0;Muto");
        ini.set("Parameters", "004", "2,4,1,0;Muto2");
        ini.set("Serial_0", "Skip", "1");
        impianto.device.delay = Millis(12);
        app.avvia();
        clock().advance(SplashForm::IntervalloTimer1);
    }
    fakes::FakeClock& clock() { return impianto.fp.clock; }
    void menu(const char* nome) {
        auto* azione = app.mainForm().findChild<QAction*>(QString::fromLatin1(nome));
        ASSERT_NE(azione, nullptr) << nome;
        azione->trigger();
    }
    void ciclo() {
        menu("MenuAvvio");
        menu("MenuFerma");
    }
    StatoDispositivi* finestra() { return app.mainForm().findChild<StatoDispositivi*>(); }
    QTableWidget* tabella() { return finestra()->findChild<QTableWidget*>(); }
    std::vector<std::string> riga(int r) {
        std::vector<std::string> testi;
        for (int c = 0; c < tabella()->columnCount(); ++c)
            testi.push_back(tabella()->item(r, c)->text().toStdString());
        return testi;
    }
    std::vector<std::string> intestazioni() {
        std::vector<std::string> testi;
        for (int c = 0; c < tabella()->columnCount(); ++c)
            testi.push_back(tabella()->horizontalHeaderItem(c)->text().toStdString());
        return testi;
    }
    // What "Ultima buona" of node 1 must read now, by the wall clock at `quando`.
    std::string oraUltimaBuona(const QDateTime& quando) {
        const TimePoint ultima = *app.programma().mbus().salute().nodi().at(1).ultimaBuona;
        const auto fa = std::chrono::duration_cast<Millis>(clock().now() - ultima);
        return quando.addMSecs(-fa.count()).toString("hh:mm:ss").toStdString();
    }

    fakes::Impianto impianto;
    IstanzaLibera istanza;
    Applicazione app{impianto.fp.piattaforma(), impianto.fp.shell, istanza,
                     [](int) {}};
};

TEST_F(StatoDispositiviTest, OneWindowShowsEachNodeAfterEveryCycle) {
    EXPECT_EQ(finestra(), nullptr);
    menu("MenuStatoDispositivi");
    ASSERT_NE(finestra(), nullptr);
    EXPECT_TRUE(finestra()->isVisible());
    EXPECT_EQ(finestra()->windowTitle(), "Stato dispositivi");
    EXPECT_THAT(intestazioni(), ElementsAre("Nodo", "Richieste", "Buone", "Time-out", "Errori CRC",
                                            "Risposte errate", "Eccezioni", "Saltate",
                                            "Tempo mediano (ms)", "Ultima buona"));
    EXPECT_EQ(tabella()->rowCount(), 0) << "nothing asked yet";

    // Open while the cycle runs: the rows follow its end.
    QDateTime prima = QDateTime::currentDateTime();
    ciclo();
    QDateTime dopo = QDateTime::currentDateTime();
    ASSERT_EQ(tabella()->rowCount(), 2);
    EXPECT_THAT(riga(0), ElementsAre("1", "2", "2", "0", "0", "0", "-", "0", "12.0",
                                     AnyOf(oraUltimaBuona(prima), oraUltimaBuona(dopo))));
    EXPECT_THAT(riga(1), ElementsAre("2", "1", "0", "1", "0", "0", "-", "1", "-", "-"));

    // Hidden during the next cycle: shown again, it catches up. Two hours
    // later by the program's clock the last good answer is two hours ago.
    finestra()->close();
    ciclo();
    EXPECT_EQ(riga(0)[1], "2") << "a hidden window is not redrawn";
    clock().advance(std::chrono::hours(2));
    prima = QDateTime::currentDateTime();
    menu("MenuStatoDispositivi");
    dopo = QDateTime::currentDateTime();
    EXPECT_TRUE(finestra()->isVisible());
    ASSERT_EQ(tabella()->rowCount(), 2);
    EXPECT_THAT(riga(0), ElementsAre("1", "4", "4", "0", "0", "0", "-", "0", "12.0",
                                     AnyOf(oraUltimaBuona(prima), oraUltimaBuona(dopo))));
    EXPECT_THAT(riga(1), ElementsAre("2", "2", "0", "2", "0", "0", "-", "2", "-", "-"));

    // Asking again raises the same window.
    menu("MenuStatoDispositivi");
    EXPECT_EQ(app.mainForm().findChildren<StatoDispositivi*>().size(), 1);
}

TEST_F(StatoDispositiviTest, AReloadOfTheSettingsEmptiesTheTable) {
    menu("MenuStatoDispositivi");
    ciclo();
    ASSERT_EQ(tabella()->rowCount(), 2);
    menu("MenuRicarica");
    EXPECT_EQ(tabella()->rowCount(), 0);
    ciclo();
    EXPECT_EQ(tabella()->rowCount(), 2) << "counting starts again";
    EXPECT_EQ(riga(0)[1], "2");
}

}  // namespace
}  // namespace tarvel
