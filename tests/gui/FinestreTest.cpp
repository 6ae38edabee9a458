// The desktop windows on Qt's offscreen platform, over the core with fakes:
// each window shows the core's state and forwards its commands; the rules
// behind the commands are tested on the core.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "Postazione.h"
#include "about/AboutForm.h"
#include "monitor/MonitorForm.h"
#include "platform/qtgui/QtDialogs.h"
#include "platform/qtgui/QtTraduzione.h"
#include "tray/TrayIcona.h"

namespace tarvel {
namespace {

using ::testing::ElementsAre;
using FinestreTest = test::Postazione;

void Clic(QWidget* controllo) { QTest::mouseClick(controllo, Qt::LeftButton); }

TEST_F(FinestreTest, TheSplashStaysForItsTimeOrUntilAKeyAndStartsOnce) {
    app.avvia();
    EXPECT_EQ(controllo("lblVersion", &app.splash())->text(), "Versione 1.00");
    p().clock.advance(Millis(1499));
    EXPECT_TRUE(app.splash().isVisible() && !main().isVisible());
    QTest::keyClick(&app.splash(), Qt::Key_Space);
    EXPECT_TRUE(!app.splash().isVisible() && main().isVisible());
    const auto letture = p().ini.reads;
    p().clock.advance(Millis(5000));
    EXPECT_EQ(p().ini.reads, letture) << "its timer never fires after the key";
}

// The About box disables the main window until it closes (its close box
// acts as OK); then a line read by hand, the menus during a cycle, the
// editor, and the trend's menu item off without a history.
TEST_F(FinestreTest, TheMainWindowShowsTheCoreAndForwardsItsCommands) {
    avvia();
    for (bool perOK : {false, true}) {
        azione("MenuAbout")->trigger();
        EXPECT_TRUE(app.about().isVisible() && !main().isEnabled());
        if (perOK) {
            Clic(controllo<QPushButton>("cmdOK", &app.about()));
        } else {
            Clic(controllo("Lab_EMail", &app.about()));  // checked below
            app.about().close();
        }
        EXPECT_TRUE(!app.about().isVisible() && main().isEnabled()) << perOK;
    }

    controllo<QListWidget>("Lst_Chiamate")->setCurrentRow(1);
    EXPECT_EQ(controllo("LabDescrizione")->text(), "Tensione");
    Clic(controllo<QPushButton>("Cmd_Leggi"));
    EXPECT_EQ(controllo("LabRisultato")->text(), "<Tensione>230.1</Tensione>");

    bool leggiDuranteCiclo = true;
    p().port.setDevice([&](const Bytes& richiesta) {
        leggiDuranteCiclo = controllo<QPushButton>("Cmd_Leggi")->isEnabled();
        return impianto.device(richiesta);
    });
    const auto abilitati = [&] {
        std::string stato;
        for (const char* menu : {"MenuFile", "MenuOpzioni"})
            stato += controllo<QMenu>(menu)->menuAction()->isEnabled() ? '1' : '0';
        return stato + (azione("MenuAcquisisciAuto")->isEnabled() ? '1' : '0');
    };
    azione("MenuAvvio")->trigger();
    EXPECT_FALSE(leggiDuranteCiclo);
    EXPECT_EQ(abilitati(), "000");
    EXPECT_EQ(controllo<QListWidget>("Lst_Risposte")->count(), 2);
    azione("MenuFerma")->trigger();
    EXPECT_EQ(abilitati(), "111");

    p().shell.works = false;
    azione("MenuEdita")->trigger();
    EXPECT_THAT(
        p().shell.calls,
        ElementsAre("openMailLink mailto:info@tarvel.example?subject=Richiesta informazioni",
                    "openInEditor /opt/tarvel/Tarvel.INI"));
    EXPECT_TRUE(p().dialogs.messages.empty()) << "a failed editor shows nothing";
    EXPECT_FALSE(azione("MenuGrafico")->isEnabled());
}

// Each option menu reaches the core, and its check mark follows the core
// (what the core writes: SettingsTest).
TEST_F(FinestreTest, OptionMenusForwardAndShowTheirCheckMarks) {
    p().ini.set("Export", "Kill", "1");
    app.tray().setDisponibile(true);
    avvia();
    EXPECT_TRUE(azione("MenuKillfileOut")->isChecked());
    for (const auto& [voce, spunta] : {std::pair{"MenuKillfileOut", false},
                                       {"MenuMinimizzaPartenza", true},
                                       {"MenuAcquisisciAuto", true}}) {
        azione(voce)->trigger();
        EXPECT_EQ(azione(voce)->isChecked(), spunta) << voce;
    }
    EXPECT_FALSE(main().isVisible()) << "started hidden";
    p().dialogs.typed = "Tetto";
    azione("MenuTitoloGenerale")->trigger();
    EXPECT_EQ(main().windowTitle(), "Tarvel [Tetto]");
}

// A close request while acquiring hides the window and the monitor without
// asking; while idle it asks, and the tray menu ends the program.
TEST_F(FinestreTest, CloseRequestHidesWhileAcquiringAndAsksWhileIdle) {
    avvia();
    azione("MenuMonitor")->trigger();
    ASSERT_TRUE(app.monitor().isVisible());
    azione("MenuAvvio")->trigger();
    main().close();
    EXPECT_TRUE(!main().isVisible() || main().isMinimized());
    EXPECT_FALSE(app.monitor().isVisible());
    EXPECT_TRUE(p().dialogs.messages.empty() && fine.empty());

    // Back from the tray by a left click on the icon.
    app.tray().notifica(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(main().isVisible() && !main().isMinimized());
    azione("MenuFerma")->trigger();

    ASSERT_NE(app.tray().menu(), nullptr);
    const auto voci = app.tray().menu()->actions();
    QStringList testi;
    for (const QAction* voce : voci) testi << (voce->isSeparator() ? "-" : voce->text());
    ASSERT_EQ(testi, (QStringList{"Apri Tarvel", "-", "Fine programma"}));
    EXPECT_EQ(app.tray().icona()->toolTip(), "Tarvel 1.00\nTarvel team");

    p().dialogs.answer = Answer::No;
    main().close();
    EXPECT_EQ(p().dialogs.messages.size(), 1u) << "the exit question (its text: AvvioTest)";
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
    p().dialogs.answer = Answer::Yes;
    voci[2]->trigger();
    EXPECT_THAT(fine, ElementsAre(0));
    EXPECT_EQ(app.tray().icona(), nullptr);
    EXPECT_FALSE(p().port.isOpen());
}

// Under X with a window manager (the script beside this test runs it under
// several): a left click on the tray icon gives the hidden window back,
// mapped and not minimised, at the first click, every time.
TEST_F(FinestreTest, TheTrayGivesTheWindowBackEveryTime) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server with a window manager";
    app.tray().setDisponibile(true);
    avvia();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main()));
    for (int volta = 0; volta < 10; ++volta) {
        app.RiduciInTray(true);
        QTest::qWait(100);
        EXPECT_FALSE(main().isVisible());
        app.tray().notifica(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&main(), 3000)) << "click " << volta;
        QTest::qWait(100);
        EXPECT_TRUE(main().windowHandle()->isExposed() && !main().isMinimized()) << volta;
    }
}

TEST_F(FinestreTest, WithoutANotificationAreaTheWindowGoesToTheTaskBar) {
    app.tray().setDisponibile(false);
    p().ini.set("Start", "Min", "1");
    avvia();
    EXPECT_TRUE(main().isMinimized());
    app.tray().notifica(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(main().isMinimized());
}

// Every text of every window fits its control in the windows' font, with
// the control's margins, and no control with a text reaches into one that
// starts to its right.
TEST_F(FinestreTest, EveryTextFitsItsControl) {
    avvia();
    for (QWidget* finestra :
         std::initializer_list<QWidget*>{&main(), &app.monitor(), &app.about(), &app.splash()}) {
        finestra->show();
        for (QWidget* w : finestra->findChildren<QWidget*>()) {
            const QFontMetrics m = w->fontMetrics();
            auto* label = qobject_cast<QLabel*>(w);
            auto* scelta = qobject_cast<QAbstractButton*>(w);
            const QString testo = label && !label->wordWrap() ? label->text()
                                  : scelta ? scelta->text().remove(QLatin1Char('&'))
                                           : QString();
            if (testo.isEmpty()) continue;
            int serve = scelta ? scelta->sizeHint().width() : 0;
            if (qobject_cast<QPushButton*>(w))
                serve = m.horizontalAdvance(testo) +
                        2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
            for (const QString& riga : testo.split(QLatin1Char('\n')))
                if (label)
                    serve = std::max(serve, m.horizontalAdvance(riga) + 2 * label->frameWidth());
            const std::string dove =
                (finestra->objectName() + " " + w->objectName() + " \"" + testo + "\"")
                    .toStdString();
            EXPECT_LE(serve, w->width()) << dove;
            for (const QWidget* altro :
                 w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                EXPECT_FALSE(altro != w && !altro->isWindow() && altro->x() > w->x() &&
                             (altro->inherits("QLabel") || altro->inherits("QAbstractButton") ||
                              altro->inherits("QListWidget")) &&
                             altro->geometry().intersects(w->geometry()))
                    << dove << " covers " << altro->objectName().toStdString();
        }
    }
}

// The real boxes: Qt's own buttons read as on an Italian desktop, and the
// cause of a failure is the box's detailed text, behind "Mostra dettagli...".
TEST(QtDialogsTest, BoxesSpeakItalianAndCarryTheCauseAsDetails) {
    ASSERT_TRUE(CaricaTraduzioneQt()) << "Qt's Italian translation is not installed";
    QStringList pulsanti;
    QString dettagli;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        dettagli = box->detailedText();
        for (const auto* pulsante : box->findChildren<QAbstractButton*>())
            pulsanti << pulsante->text().remove(QLatin1Char('&'));
        box->button(QMessageBox::No)->click();
    });
    QtDialogs dialogs;
    EXPECT_EQ(
        dialogs.messageBox("Tarvel", "Impostazioni errate nel file Tarvel.INI", Icon::Critical,
                           Buttons::YesNo, Answer::Yes, "il file /tmp/x/Tarvel.INI non esiste"),
        Answer::No);
    EXPECT_EQ(dettagli, QStringLiteral("il file /tmp/x/Tarvel.INI non esiste"));
    pulsanti.sort();
    EXPECT_EQ(pulsanti, (QStringList{QStringLiteral("Mostra dettagli..."), QStringLiteral("No"),
                                     QStringLiteral("Sì")}));
}

}  // namespace
}  // namespace tarvel
