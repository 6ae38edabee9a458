// The serial monitor window over the Modbus layer's two lists: it shows
// them, forwards the notation, the clearing and the removal of a pair, and
// keeps the last line in view unless the user scrolled away.

#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

#include "FakePlatform.h"
#include "monitor/MonitorForm.h"

namespace tarvel {
namespace {

class MonitorTest : public ::testing::Test {
  protected:
    MonitorTest() {
        dispositivo.values[{3, 0}] = 10;
        p.port.setDevice([this](const Bytes& richiesta) { return dispositivo(richiesta); });
        p.port.open();
        monitor.PreparaMonitor();
    }
    QListWidget* lista(int i) {
        return monitor.findChild<QListWidget*>(QStringLiteral("LstAttivita%1").arg(i));
    }
    QString riga(int i, int r) { return lista(i)->item(r)->text(); }
    // One read of holding register 0 of node 1, then the monitor's refresh.
    void leggi() {
        mbus.LeggiValore16(3, 0, 1, 0, false);
        p.clock.advance(MonitorForm::IntervalloAggiornamento);
    }

    fakes::FakePlatform p;
    fakes::ScriptedDevice dispositivo;
    MBus mbus{p.port, p.clock};
    MonitorForm monitor{mbus, p.clock};
};

TEST_F(MonitorTest, ShowsTheFramesAndForwardsNotationClearAndClose) {
    monitor.MenuMonitor_Click();
    ASSERT_TRUE(monitor.isVisible() && mbus.monitorAttivo());
    leggi();
    ASSERT_EQ(lista(0)->count(), 1);
    EXPECT_EQ(riga(0, 0), "01 03 00 00 00 01 84 0A");
    EXPECT_EQ(riga(1, 0), "01 03 02 00 0A 38 43");

    QTest::mouseClick(monitor.findChild<QRadioButton*>("Opt_Notazione0"), Qt::LeftButton);
    leggi();
    EXPECT_EQ(riga(0, 1), "001 003 000 000 000 001 132 010");

    monitor.close();
    EXPECT_FALSE(monitor.isVisible() || mbus.monitorAttivo());
    monitor.MenuMonitor_Click();
    EXPECT_EQ(lista(0)->count() + lista(1)->count(), 0) << "it opens empty";
    EXPECT_TRUE(monitor.findChild<QRadioButton*>("Opt_Notazione0")->isChecked());

    leggi();
    QTest::mouseClick(monitor.findChild<QPushButton*>("Cmd_Clear"), Qt::LeftButton);
    EXPECT_EQ(lista(0)->count(), 0);
    EXPECT_TRUE(mbus.monitor().risposte().empty());
}

// The selection is paired (the same code for either list) and a
// double-click removes the pair, but not without request lines; the view
// follows the end unless the user scrolled away.
TEST_F(MonitorTest, SelectionIsPairedAndTheViewFollowsTheEnd) {
    monitor.MenuMonitor_Click();
    for (int i = 0; i < 3; ++i) leggi();
    dispositivo.silent = true;
    leggi();
    ASSERT_EQ(lista(1)->count(), 4);
    EXPECT_EQ(riga(1, 3), "Time out");
    lista(0)->setCurrentRow(3);
    EXPECT_EQ(lista(1)->currentRow(), 3);
    monitor.LstAttivita_DblClick(1);
    ASSERT_EQ(lista(0)->count() + lista(1)->count(), 6);
    EXPECT_EQ(riga(1, 2), "01 03 02 00 0A 38 43");

    mbus.monitor().pulisci();
    mbus.monitor().aggiungiRisposta("Time out");
    monitor.aggiorna();
    lista(1)->setCurrentRow(0);
    monitor.LstAttivita_DblClick(1);
    EXPECT_EQ(lista(1)->count(), 1);

    for (int i = 0; i < 200; ++i) mbus.monitor().aggiungiRichiesta("R");
    monitor.aggiorna();
    QScrollBar* barra = lista(0)->verticalScrollBar();
    EXPECT_EQ(lista(0)->currentRow(), 199);
    EXPECT_EQ(barra->value(), barra->maximum());
    for (const bool allaFine : {false, true}) {
        QCoreApplication::processEvents();
        barra->setValue(allaFine ? barra->maximum() : 0);
        leggi();
        EXPECT_EQ(barra->value(), allaFine ? barra->maximum() : 0) << allaFine;
    }
    EXPECT_EQ(lista(0)->currentRow(), 201);
}

}  // namespace
}  // namespace tarvel
