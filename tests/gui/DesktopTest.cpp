// Start at log-on and the desktop shortcut: the menu logic with a fake
// desktop, and the freedesktop files in a scratch home. A second start of
// the real program while one runs: it ends by itself, silently, and the
// running instance goes on.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include "FakePlatform.h"
#include "TempFolder.h"
#include "app/Autostart.h"
#include "mainwindow/InstanceLock.h"
#include "platform/qtgui/QtDesktopShell.h"

namespace tarvel {
namespace {

using ::testing::ElementsAre;

TEST(AutostartTest, SwitchesTheEntryAndMarksOnlyWhatWasReadBack) {
    fakes::FakePlatform p;
    Autostart autoAvvio(p.shell, p.dialogs, p.identity);
    autoAvvio.MenuAvvioAuto_Click(true);  // during the start-up: ignored
    EXPECT_TRUE(p.shell.calls.empty());
    autoAvvio.MenuAvvioAuto_Click(false);
    EXPECT_TRUE(autoAvvio.spunta() && p.shell.autostart["Tarvel"] == "/opt/tarvel/Tarvel");
    autoAvvio.MenuAvvioAuto_Click(false);
    EXPECT_FALSE(autoAvvio.spunta() || p.shell.autostart.count("Tarvel"));

    // Failures show their messages and keep the mark; an entry that starts
    // nothing counts as off; shortcut failures show nothing. The shortcut
    // starts the executable in the program folder, wherever that is.
    p.identity.folder = "/home/ada/.config/tarvel";
    p.shell.works = false;
    p.shell.calls.clear();
    p.shell.autostart["Tarvel"] = "/opt/tarvel/Tarvel";
    autoAvvio.LeggiAvvioAutomatico();
    autoAvvio.MenuAvvioAuto_Click(false);
    EXPECT_TRUE(autoAvvio.spunta());
    p.shell.autostart["Tarvel"] = "";
    autoAvvio.LeggiAvvioAutomatico();
    autoAvvio.MenuAvvioAuto_Click(false);
    autoAvvio.MenuCreaCollegamento_Click();
    autoAvvio.MenuEliminaCollegamento_Click();
    EXPECT_EQ(p.dialogs.messages,
              (std::vector<fakes::ShownMessage>{
                  {"Tarvel", "Attenzione: Il programma è già stato inserito nella tray bar.",
                   Icon::Critical, Buttons::Ok},
                  {"Tarvel", "Attenzione: Il programma non può essere inserito nella tray bar.",
                   Icon::Exclamation, Buttons::Ok}}));
    EXPECT_FALSE(autoAvvio.spunta());
    EXPECT_THAT(p.shell.calls, ElementsAre("removeAutostart Tarvel", "writeAutostart Tarvel",
                                           "createDesktopShortcut Tarvel /opt/tarvel/Tarvel "
                                           "/home/ada/.config/tarvel/",
                                           "deleteDesktopShortcut Tarvel"));
}

// A scratch home: HOME and XDG_CONFIG_HOME point into a temporary folder
// while the test runs.
class TemporaryHome : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(casa.isValid());
        qputenv("HOME", casa.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (casa.path() + "/config").toUtf8());
    }
    void TearDown() override {
        qputenv("HOME", vecchiaCasa);
        qputenv("XDG_CONFIG_HOME", vecchiaConfig);
        if (vecchiaConfig.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    }

    QTemporaryDir casa;
    QByteArray vecchiaCasa = qgetenv("HOME"), vecchiaConfig = qgetenv("XDG_CONFIG_HOME");
};

// The autostart entry is an XDG file with the quoted path; the desktop
// shortcut is an executable launcher, rewritten in place.
TEST_F(TemporaryHome, AutostartEntryAndDesktopShortcutAreFreedesktopFiles) {
    QtDesktopShell shell;
    const QString voce = casa.path() + "/config/autostart/Tarvel.desktop";
    EXPECT_EQ(shell.autostartCommand("Tarvel"), "");
    ASSERT_TRUE(shell.writeAutostart("Tarvel", "/opt/my tools/Tarvel"));
    std::string testo = test::ReadFile(voce.toStdString());
    EXPECT_TRUE(testo.starts_with("[Desktop Entry]\n")) << testo;
    EXPECT_NE(testo.find("\nExec=\"/opt/my tools/Tarvel\"\n"), std::string::npos) << testo;
    EXPECT_EQ(shell.autostartCommand("Tarvel"), "\"/opt/my tools/Tarvel\"");
    ASSERT_TRUE(shell.removeAutostart("Tarvel"));
    EXPECT_FALSE(QFileInfo::exists(voce));
    EXPECT_TRUE(shell.removeAutostart("Tarvel")) << "nothing to remove is no failure";

    EXPECT_FALSE(shell.createDesktopShortcut("Tarvel", "/opt/tarvel/Tarvel", "/opt/tarvel/"))
        << "no desktop folder";
    ASSERT_TRUE(QDir(casa.path()).mkdir("Desktop"));
    const QString collegamento = casa.path() + "/Desktop/Tarvel.desktop";
    ASSERT_TRUE(shell.createDesktopShortcut("Tarvel", "/opt/old/Tarvel", "/opt/old/"));
    ASSERT_TRUE(shell.createDesktopShortcut("Tarvel", "/opt/tarvel/Tarvel", "/opt/tarvel/"));
    EXPECT_EQ(QDir(casa.path() + "/Desktop").entryList(QDir::Files).size(), 1);
    testo = test::ReadFile(collegamento.toStdString());
    for (const char* riga : {"\nName=Tarvel\n", "\nComment=Tarvel\n",
                             "\nExec=\"/opt/tarvel/Tarvel\"\n", "\nPath=/opt/tarvel/\n"})
        EXPECT_NE(testo.find(riga), std::string::npos) << riga << " in " << testo;
    EXPECT_EQ(testo.find("old"), std::string::npos);
    EXPECT_TRUE(QFile::permissions(collegamento) & QFileDevice::ExeOwner);
    EXPECT_TRUE(shell.deleteDesktopShortcut("Tarvel"));
    EXPECT_FALSE(QFileInfo::exists(collegamento));
    EXPECT_TRUE(shell.deleteDesktopShortcut("Tarvel")) << "nothing to delete is no failure";
}

// A lock file whose program is gone (a held lock refuses:
// SecondInstanceTest).
TEST(InstanceLockTest, ALockLeftBehindIsTakenOver) {
    QTemporaryDir cartella;
    const QString percorso = cartella.filePath("Tarvel.lock");
    test::WriteFile(percorso.toStdString(),
                    "999999999\nTarvel\n" + QSysInfo::machineHostName().toStdString() + "\n");
    EXPECT_TRUE(InstanceLock(percorso).acquisisci());
}

TEST(SecondInstanceTest, EndsSilentlyWhileTheFirstRunsOn) {
    // The program lives in a folder of its own (also its runtime folder)
    // with an empty settings file, so the first instance stops at its error
    // message and stays there, holding the single-instance lock.
    QTemporaryDir cartella;
    const QString programma = cartella.filePath("Tarvel");
    ASSERT_TRUE(QFile::copy(QStringLiteral(TARVEL_EXE), programma));
    test::WriteFile(cartella.filePath("Tarvel.INI").toStdString(), "");
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert("XDG_RUNTIME_DIR", cartella.path());
    ambiente.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess prima, seconda;
    for (QProcess* istanza : {&prima, &seconda}) istanza->setProcessEnvironment(ambiente);
    prima.start(programma, {});
    ASSERT_TRUE(prima.waitForStarted());
    const QString lock = cartella.filePath("Tarvel.lock");
    for (int i = 0; i < 200 && !QFileInfo::exists(lock); ++i) QThread::msleep(50);
    ASSERT_TRUE(QFileInfo::exists(lock)) << "the first instance took the lock";

    seconda.start(programma, {});
    ASSERT_TRUE(seconda.waitForFinished(20000)) << "the second instance ended by itself";
    EXPECT_TRUE(seconda.exitStatus() == QProcess::NormalExit && seconda.exitCode() == 0);
    EXPECT_TRUE(prima.state() == QProcess::Running && QFileInfo::exists(lock));

    prima.kill();
    prima.waitForFinished();
}

// Without a display to reach (no DISPLAY nor WAYLAND_DISPLAY, Qt's
// platform X11 or not set) the program says so in one line and names the
// runner without windows, instead of Qt's abort. (The offscreen platform:
// every test above.)
TEST(NoDisplayTest, SaysSoAndNamesTheRunnerWithoutWindows) {
    for (const char* piattaforma : {"", "xcb"}) {
        SCOPED_TRACE(piattaforma);
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        for (const char* nome : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            ambiente.remove(nome);
        if (*piattaforma) ambiente.insert("QT_QPA_PLATFORM", piattaforma);
        QProcess programma;
        programma.setProcessEnvironment(ambiente);
        programma.start(QStringLiteral(TARVEL_EXE), {});
        ASSERT_TRUE(programma.waitForFinished(20000));
        EXPECT_EQ(programma.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(programma.exitCode(), 2);
        EXPECT_EQ(programma.readAllStandardError().toStdString(),
                  "Tarvel: nessun display (DISPLAY e WAYLAND_DISPLAY non sono impostate): il "
                  "programma con le finestre non può partire; senza finestre usare "
                  "tarvel-headless\n");
    }
}

}  // namespace
}  // namespace tarvel
