// The Qt services of the desktop program: the modal boxes answer through
// their default buttons, the version texts and the program's identity.

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "FakePlatform.h"
#include "about/Versione.h"
#include "platform/qt/QtProgramIdentity.h"
#include "platform/qtgui/QtDialogs.h"
#include "tray/TestoTray.h"

namespace tarvel {
namespace {

// Runs the check on the modal window as soon as it is open, then presses
// the key on it.
void QuandoAperta(std::function<void(QWidget*)> controlla, Qt::Key tasto) {
    QTimer::singleShot(0, [controlla = std::move(controlla), tasto] {
        QWidget* finestra = QApplication::activeModalWidget();
        ASSERT_NE(finestra, nullptr);
        controlla(finestra);
        QTest::keyClick(finestra, tasto);
    });
}

TEST(QtDialogsTest, QuestionsDefaultToNoAndStayOnTop) {
    QtDialogs dialogs;
    QuandoAperta(
        [](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), "Tarvel");
            EXPECT_EQ(box->text(), "Uscire dal programma ?");
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()),
                      box->button(QMessageBox::No));
            EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
        },
        Qt::Key_Return);
    EXPECT_EQ(dialogs.messageBox("Tarvel", "Uscire dal programma ?", Icon::Question, Buttons::YesNo,
                                 Answer::No),
              Answer::No);

    QuandoAperta([](QWidget*) {}, Qt::Key_Return);
    EXPECT_EQ(dialogs.messageBox("Tarvel", "Domanda", Icon::Question, Buttons::YesNo, Answer::Yes),
              Answer::Yes);
    QuandoAperta(
        [](QWidget* w) { EXPECT_EQ(qobject_cast<QMessageBox*>(w)->icon(), QMessageBox::Critical); },
        Qt::Key_Escape);
    EXPECT_EQ(dialogs.messageBox("Tarvel", "Errore", Icon::Critical, Buttons::Ok, Answer::Ok),
              Answer::Ok);
}

TEST(QtDialogsTest, InputBoxProposesTheTextAndCancelGivesNothing) {
    QtDialogs dialogs;
    QuandoAperta(
        [](QWidget* w) {
            EXPECT_EQ(w->windowTitle(), "Definizione encoding XML");
            EXPECT_EQ(w->findChild<QLabel*>()->text(),
                      "Encoding XML:\n\nValore predefinito: UTF-8");
            EXPECT_EQ(w->findChild<QLineEdit*>()->text(), "UTF-8");
        },
        Qt::Key_Return);
    EXPECT_EQ(dialogs.inputBox("Encoding XML:\r\rValore predefinito: UTF-8",
                               "Definizione encoding XML", "UTF-8"),
              "UTF-8");
    QuandoAperta([](QWidget*) {}, Qt::Key_Escape);
    EXPECT_EQ(dialogs.inputBox("Titolo generale:", "Definizione titolo generale", "Tetto"), "");
}

struct Versione2115 : fakes::FakeIdentity {
    int versionMajor() const override { return 2; }
    int versionMinor() const override { return 1; }
    int versionRevision() const override { return 15; }
    std::string copyright() const override { return "Senza titolare"; }
};

TEST(VersioneTest, TextsOfTheSplashTheAboutBoxAndTheTray) {
    fakes::FakeIdentity uno;
    EXPECT_EQ(TestoVersione(uno), "Versione 1.00");
    EXPECT_EQ(TestoSuggerimentoTray(uno), "Tarvel 1.00\nTarvel team");
    Versione2115 due;
    EXPECT_EQ(TestoVersione(due), "Versione 2.115");
    EXPECT_EQ(TestoSuggerimentoTray(due), "Tarvel 2.115\n");
    EXPECT_EQ(Titolare("  Rossi & C. s.n.c. - Bianchi - tutti i diritti"), "Rossi & C. s.n.c.");

    QtProgramIdentity identita;
    EXPECT_EQ(identita.programFolder(), QCoreApplication::applicationDirPath().toStdString());
    EXPECT_EQ(identita.executablePath(),
              identita.programFolder() + "/" + identita.executableName());
    EXPECT_EQ(identita.executableName(), "tarvel_gui_tests");
    EXPECT_EQ(TestoVersione(identita), "Versione 1.00");
    EXPECT_EQ(Titolare(identita.copyright()), "Tarvel developers");
    EXPECT_EQ(QtProgramIdentity("/srv/impianto").programFolder(), "/srv/impianto");
}

}  // namespace
}  // namespace tarvel
