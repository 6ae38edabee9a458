// The desktop windows on Qt's offscreen platform, over the core with fakes:
// the start-up through the splash, menus and check marks, the option menus,
// the close request, the About box and the tray menu.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "Impianto.h"
#include "about/AboutForm.h"
#include "about/SplashForm.h"
#include "mainwindow/Applicazione.h"
#include "mainwindow/MainForm.h"
#include "monitor/MonitorForm.h"
#include "tray/TrayIcona.h"

namespace tarvel {
namespace {

using ::testing::ElementsAre;

struct IstanzaLibera : IstanzaProgramma {
    bool acquisisci() override { return true; }
};

class FinestreTest : public ::testing::Test {
  protected:
    fakes::FakePlatform& p() { return impianto.piattaforma; }
    MainForm& main() { return app.mainForm(); }
    QAction* azione(const char* nome) {
        auto* a = main().findChild<QAction*>(QString::fromLatin1(nome));
        EXPECT_NE(a, nullptr) << nome;
        return a;
    }
    template <typename T>
    T* controllo(QWidget& finestra, const char* nome) {
        auto* c = finestra.findChild<T*>(QString::fromLatin1(nome));
        EXPECT_NE(c, nullptr) << nome;
        return c;
    }
    QString testo(QWidget& finestra, const char* nome) {
        return controllo<QLabel>(finestra, nome)->text();
    }
    // The splash, then its timer, then the start-up.
    void avvia() {
        app.avvia();
        p().clock.advance(SplashForm::IntervalloTimer1);
    }
    bool nascosta() { return !main().isVisible() || main().isMinimized(); }

    fakes::Impianto impianto;
    IstanzaLibera istanza;
    std::vector<int> fine;
    Applicazione app{impianto.piattaforma.piattaforma(), istanza,
                     [this](int codice) { fine.push_back(codice); }};
};

TEST_F(FinestreTest, SplashThenTheMainWindowWithTheCoresState) {
    app.avvia();
    EXPECT_TRUE(app.splash().isVisible());
    EXPECT_EQ(testo(app.splash(), "lblVersion"), "Versione 1.00");
    EXPECT_EQ(testo(app.splash(), "lblProductName"), "Tarvel");
    EXPECT_FALSE(main().isVisible());
    EXPECT_FALSE(app.monitor().isVisible());
    EXPECT_FALSE(app.about().isVisible());
    p().clock.advance(Millis(1499));
    EXPECT_TRUE(app.splash().isVisible());
    p().clock.advance(Millis(1));
    EXPECT_FALSE(app.splash().isVisible());
    ASSERT_TRUE(main().isVisible());

    EXPECT_EQ(main().windowTitle(), "Tarvel");
    EXPECT_EQ(main().centralWidget()->size(), QSize(490, 380));
    EXPECT_EQ(controllo<QListWidget>(main(), "Lst_Chiamate")->count(), 2);
    EXPECT_EQ(controllo<QListWidget>(main(), "Lst_Chiamate")->geometry(), QRect(8, 40, 209, 212));
    EXPECT_EQ(testo(main(), "Panel1"), "COM 1");
    EXPECT_EQ(testo(main(), "Panel6"), "RTS: Off");
    EXPECT_FALSE(controllo<QLabel>(main(), "Lab_ImpostazioniRicaricate")->isVisible());
    for (const char* lampada : {"Img_Lettura0", "Img_Lettura1", "Img_Lettura2"})
        EXPECT_FALSE(controllo<QLabel>(main(), lampada)->isVisible());
    EXPECT_TRUE(controllo<QRadioButton>(app.monitor(), "Opt_Notazione1")->isChecked());
    EXPECT_TRUE(app.programma().mbus().NotazioneHex);

    // Selecting a line by hand cuts it into the fields.
    controllo<QListWidget>(main(), "Lst_Chiamate")->setCurrentRow(1);
    EXPECT_EQ(testo(main(), "LabNodo"), "1");
    EXPECT_EQ(testo(main(), "LabDescrizione"), "Tensione");
    QTest::mouseClick(controllo<QPushButton>(main(), "Cmd_Leggi"), Qt::LeftButton);
    EXPECT_EQ(testo(main(), "LabRisultato"), "<Tensione>230.1</Tensione>");
}

TEST_F(FinestreTest, AKeyClosesTheSplashAtOnceAndItsTimerNeverFires) {
    app.avvia();
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    EXPECT_FALSE(app.splash().isVisible());
    EXPECT_TRUE(main().isVisible());
    EXPECT_FALSE(app.splash().timerAttivo());
    const auto letture = p().ini.reads;
    p().clock.advance(Millis(5000));
    EXPECT_EQ(p().ini.reads, letture) << "the start-up ran once";
}

TEST_F(FinestreTest, MenusFollowTheAcquisitionAndTheCheckMarksTheFile) {
    p().ini.set("Export", "Kill", "1");
    avvia();
    EXPECT_TRUE(azione("MenuKillfileOut")->isChecked());
    EXPECT_FALSE(azione("MenuAcquisisciAuto")->isChecked());

    // During a cycle the read button is off; afterwards the lamp is red.
    bool leggiDuranteCiclo = true;
    p().port.setDevice([&](const Bytes& richiesta) {
        leggiDuranteCiclo = controllo<QPushButton>(main(), "Cmd_Leggi")->isEnabled();
        return impianto.dispositivo(richiesta);
    });
    azione("MenuAvvio")->trigger();
    EXPECT_FALSE(leggiDuranteCiclo);
    EXPECT_TRUE(controllo<QPushButton>(main(), "Cmd_Leggi")->isEnabled());
    EXPECT_TRUE(controllo<QLabel>(main(), "Img_Lettura2")->isVisible());
    EXPECT_EQ(controllo<QListWidget>(main(), "Lst_Risposte")->count(), 2);
    EXPECT_FALSE(controllo<QMenu>(main(), "MenuFile")->menuAction()->isEnabled());
    EXPECT_FALSE(controllo<QMenu>(main(), "MenuOpzioni")->menuAction()->isEnabled());
    EXPECT_FALSE(azione("MenuAcquisisciAuto")->isEnabled());
    EXPECT_TRUE(azione("MenuFerma")->isEnabled());
    EXPECT_TRUE(azione("MenuKillfileOut")->isEnabled());

    azione("MenuFerma")->trigger();
    EXPECT_TRUE(controllo<QMenu>(main(), "MenuFile")->menuAction()->isEnabled());
    EXPECT_TRUE(azione("MenuAcquisisciAuto")->isEnabled());
    EXPECT_FALSE(controllo<QLabel>(main(), "Img_Lettura2")->isVisible());
}

TEST_F(FinestreTest, OptionMenusWriteTheFileAndKeepTheAtRule) {
    avvia();
    azione("MenuKillfileOut")->trigger();
    EXPECT_EQ(p().ini.get("Export", "Kill"), "1");
    EXPECT_TRUE(azione("MenuKillfileOut")->isChecked());
    azione("MenuKillfileOut")->trigger();
    EXPECT_EQ(p().ini.get("Export", "Kill"), "0");
    EXPECT_FALSE(azione("MenuKillfileOut")->isChecked());

    p().dialogs.typed = "Tetto";
    azione("MenuTitoloGenerale")->trigger();
    EXPECT_EQ(p().ini.get("General", "Title"), "Tetto");
    EXPECT_EQ(main().windowTitle(), "Tarvel [Tetto]");
    p().dialogs.typed = "@";
    azione("MenuTitoloGenerale")->trigger();
    EXPECT_EQ(p().ini.get("General", "Title"), "");
    EXPECT_EQ(main().windowTitle(), "Tarvel");
    EXPECT_EQ(p().dialogs.inputs.back().title, "Definizione titolo generale");

    azione("MenuNomeFileOut")->trigger();
    EXPECT_EQ(p().ini.get("Export", "Out"), "");
    azione("MenuEncodingXML")->trigger();
    EXPECT_EQ(p().ini.get("XML", "Encoding"), "@");
    p().dialogs.typed = "";  // Cancel
    azione("MenuEncodingXML")->trigger();
    EXPECT_EQ(p().ini.get("XML", "Encoding"), "@");
    EXPECT_EQ(p().dialogs.inputs.back().proposed, "@");

    app.tray().setDisponibile(true);
    azione("MenuMinimizzaPartenza")->trigger();
    EXPECT_EQ(p().ini.get("Start", "Min"), "1");
    EXPECT_FALSE(main().isVisible());
    azione("MenuMinimizzaPartenza")->trigger();
    EXPECT_EQ(p().ini.get("Start", "Min"), "0");
    EXPECT_TRUE(main().isVisible());

    azione("MenuAcquisisciAuto")->trigger();
    EXPECT_EQ(p().ini.get("Start", "Auto"), "1");
    EXPECT_TRUE(app.programma().stato().acquisizioneAttiva) << "switching it on starts";
    EXPECT_TRUE(azione("MenuAcquisisciAuto")->isChecked());
}

TEST_F(FinestreTest, CloseRequestWhileAcquiringHidesWindowAndMonitorWithoutAsking) {
    avvia();
    azione("MenuMonitor")->trigger();
    ASSERT_TRUE(app.monitor().isVisible());
    azione("MenuAvvio")->trigger();
    main().close();
    EXPECT_TRUE(nascosta());
    EXPECT_FALSE(app.monitor().isVisible());
    EXPECT_FALSE(app.programma().mbus().MonitorAttivo);
    EXPECT_TRUE(p().dialogs.messages.empty());
    EXPECT_TRUE(fine.empty());

    // Back from the tray by a left click on the icon.
    app.tray().notifica(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(main().isVisible());
    EXPECT_FALSE(main().isMinimized());
}

TEST_F(FinestreTest, CloseRequestWhileIdleAsksAndTheTrayMenuEndsTheProgram) {
    avvia();
    ASSERT_NE(app.tray().menu(), nullptr);
    const auto voci = app.tray().menu()->actions();
    ASSERT_EQ(voci.size(), 3);
    EXPECT_EQ(voci[0]->text(), "Apri Tarvel");
    EXPECT_TRUE(voci[1]->isSeparator());
    EXPECT_EQ(voci[2]->text(), "Fine programma");
    EXPECT_EQ(app.tray().icona()->toolTip(), "Tarvel 1.00\nTarvel team");

    p().dialogs.answer = Answer::No;
    main().close();
    EXPECT_THAT(impianto.testiMessaggi(), ElementsAre("Uscire dal programma ?"));
    EXPECT_TRUE(main().isVisible());

    app.tray().notifica(QSystemTrayIcon::Context);  // right click: the menu
    EXPECT_TRUE(app.tray().menu()->isVisible());
    app.tray().menu()->hide();

    app.tray().setDisponibile(true);
    app.RiduciInTray(true);
    EXPECT_FALSE(main().isVisible());
    app.tray().notifica(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(main().isVisible()) << "a double-click acts through its first press only";
    voci[0]->trigger();  // "Apri Tarvel"
    EXPECT_TRUE(main().isVisible());

    voci[2]->trigger();  // "Fine programma", No
    EXPECT_TRUE(fine.empty());
    EXPECT_NE(app.tray().icona(), nullptr);
    p().dialogs.answer = Answer::Yes;
    voci[2]->trigger();
    EXPECT_THAT(fine, ElementsAre(0));
    EXPECT_EQ(app.tray().icona(), nullptr);
    EXPECT_FALSE(p().port.isOpen());
}

TEST_F(FinestreTest, WithoutANotificationAreaTheWindowGoesToTheTaskBar) {
    app.tray().setDisponibile(false);
    p().ini.set("Start", "Min", "1");
    avvia();
    EXPECT_TRUE(main().isVisible());
    EXPECT_TRUE(main().isMinimized());
    app.tray().notifica(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(main().isMinimized());
}

TEST_F(FinestreTest, AboutDisablesTheMainWindowUntilItCloses) {
    avvia();
    azione("MenuAbout")->trigger();
    EXPECT_TRUE(app.about().isVisible());
    EXPECT_FALSE(main().isEnabled());
    EXPECT_EQ(app.about().windowTitle(), "Informazioni su...");
    EXPECT_EQ(testo(app.about(), "lblVersion"), "Versione 1.00");
    EXPECT_EQ(testo(app.about(), "Lab_copy"), "Tarvel team - all rights reserved");

    QLabel* mail = controllo<QLabel>(app.about(), "Lab_EMail");
    // The pointer over the address underlines it, over the picture not.
    const auto passaSopra = [this](QWidget* w) {
        QTest::mouseMove(app.about().windowHandle(), w->mapTo(&app.about(), w->rect().center()));
    };
    passaSopra(mail);
    EXPECT_TRUE(app.about().indirizzoSottolineato());
    passaSopra(controllo<QLabel>(app.about(), "Img_EMail"));
    EXPECT_FALSE(app.about().indirizzoSottolineato());
    QTest::mouseClick(mail, Qt::LeftButton);
    EXPECT_THAT(
        p().shell.calls,
        ElementsAre("openMailLink mailto:info@tarvel.example?subject=Richiesta informazioni"));

    app.about().close();  // the close box acts as OK
    EXPECT_FALSE(app.about().isVisible());
    EXPECT_TRUE(main().isEnabled());
    azione("MenuAbout")->trigger();
    QTest::mouseClick(controllo<QPushButton>(app.about(), "cmdOK"), Qt::LeftButton);
    EXPECT_FALSE(app.about().isVisible());
    EXPECT_TRUE(main().isEnabled());
}

TEST_F(FinestreTest, ReloadNoticeAndTheDesktopCommandsOfTheMenus) {
    avvia();
    azione("MenuRicarica")->trigger();
    QLabel* avviso = controllo<QLabel>(main(), "Lab_ImpostazioniRicaricate");
    EXPECT_TRUE(avviso->isVisible());
    EXPECT_EQ(avviso->palette().color(QPalette::Window), QColor(192, 64, 0));
    p().clock.advance(Avvio::DurataAvvisoRicarica);
    EXPECT_FALSE(avviso->isVisible());

    azione("MenuAvvioAuto")->trigger();
    EXPECT_TRUE(azione("MenuAvvioAuto")->isChecked());
    p().shell.works = false;
    azione("MenuAvvioAuto")->trigger();
    EXPECT_TRUE(azione("MenuAvvioAuto")->isChecked()) << "the entry is still there";
    azione("MenuEdita")->trigger();
    EXPECT_THAT(p().shell.opened, ElementsAre("/opt/tarvel/Tarvel.INI"));
}

}  // namespace
}  // namespace tarvel
