// The window "Stato dispositivi" over the core with fakes: one node that
// answers and one that stays silent, the rows after a cycle with the window
// open and after one with it hidden, the wall-clock time of the last good
// answer, and the empty table after a reload of the settings. What the
// counts are is tested on the core (FastCycleTest).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTableWidget>

#include "Postazione.h"
#include "mainwindow/StatoDispositivi.h"

namespace tarvel {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;

class StatoDispositiviTest : public test::Postazione {
  protected:
    StatoDispositiviTest() {
        // Node 1 answers its two lines after 5 ms; node 2 never answers.
        p().ini.set("Parameters", "Last", "3");
        p().ini.set("Parameters", "003", "2,3,0,0;Muto");
        avvia();
    }
    void ciclo() {
        for (const char* voce : {"MenuAvvio", "MenuFerma"}) azione(voce)->trigger();
    }
    StatoDispositivi* finestra() { return main().findChild<StatoDispositivi*>(); }
    QTableWidget* tabella() { return finestra()->findChild<QTableWidget*>(); }
    // The texts of row r, or of the header for -1.
    std::vector<std::string> riga(int r) {
        std::vector<std::string> testi;
        for (int c = 0; c < tabella()->columnCount(); ++c)
            testi.push_back((r < 0 ? tabella()->horizontalHeaderItem(c) : tabella()->item(r, c))
                                ->text()
                                .toStdString());
        return testi;
    }
    // What "Ultima buona" of node 1 must read now, by the wall clock at `quando`.
    std::string oraUltimaBuona(const QDateTime& quando) {
        const TimePoint ultima = *app.programma().mbus().salute().nodi().at(1).ultimaBuona;
        const auto fa = std::chrono::duration_cast<Millis>(p().clock.now() - ultima);
        return quando.addMSecs(-fa.count()).toString("hh:mm:ss").toStdString();
    }
};

TEST_F(StatoDispositiviTest, OneWindowShowsEachNodeAfterEveryCycle) {
    EXPECT_EQ(finestra(), nullptr);
    azione("MenuStatoDispositivi")->trigger();
    ASSERT_NE(finestra(), nullptr);
    EXPECT_TRUE(finestra()->isVisible());
    EXPECT_THAT(riga(-1), ElementsAre("Nodo", "Richieste", "Buone", "Time-out", "Errori CRC",
                                      "Risposte errate", "Eccezioni", "Saltate",
                                      "Tempo mediano (ms)", "Ultima buona"));
    EXPECT_EQ(tabella()->rowCount(), 0) << "nothing asked yet";

    // Open while the cycle runs: the rows follow its end.
    ciclo();
    ASSERT_EQ(tabella()->rowCount(), 2);
    EXPECT_THAT(riga(1), ElementsAre("2", "1", "0", "1", "0", "0", "-", "0", "-", "-"));

    // Hidden during the next cycle: asked for again, the same window
    // catches up. Two hours later by the program's clock the last good
    // answer is two hours ago.
    finestra()->close();
    ciclo();
    EXPECT_EQ(riga(0)[1], "2") << "a hidden window is not redrawn";
    p().clock.advance(std::chrono::hours(2));
    const QDateTime prima = QDateTime::currentDateTime();
    azione("MenuStatoDispositivi")->trigger();
    const QDateTime dopo = QDateTime::currentDateTime();
    EXPECT_EQ(app.mainForm().findChildren<StatoDispositivi*>().size(), 1);
    EXPECT_THAT(riga(0), ElementsAre("1", "4", "4", "0", "0", "0", "-", "0", "5.0",
                                     AnyOf(oraUltimaBuona(prima), oraUltimaBuona(dopo))));

    // A reload of the settings empties the table.
    azione("MenuRicarica")->trigger();
    EXPECT_EQ(tabella()->rowCount(), 0);
}

}  // namespace
}  // namespace tarvel
