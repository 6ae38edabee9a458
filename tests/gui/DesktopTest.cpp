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
    Autostart autostart(p.shell, p.dialogs, p.identity);
    autostart.MenuAvvioAuto_Click(true);  // during the start-up: ignored
    EXPECT_TRUE(p.shell.calls.empty());
    autostart.MenuAvvioAuto_Click(false);
    EXPECT_TRUE(autostart.checked() && p.shell.autostart["Tarvel"] == "/opt/tarvel/Tarvel");
    autostart.MenuAvvioAuto_Click(false);
    EXPECT_FALSE(autostart.checked() || p.shell.autostart.count("Tarvel"));

    // Failures show their messages and keep the mark; an entry that starts
    // nothing counts as off; shortcut failures show nothing. The shortcut
    // starts the executable in the program folder, wherever that is.
    p.identity.folder = "/home/ada/.config/tarvel";
    p.shell.works = false;
    p.shell.calls.clear();
    p.shell.autostart["Tarvel"] = "/opt/tarvel/Tarvel";
    autostart.ReadAutostart();
    autostart.MenuAvvioAuto_Click(false);
    EXPECT_TRUE(autostart.checked());
    p.shell.autostart["Tarvel"] = "";
    autostart.ReadAutostart();
    autostart.MenuAvvioAuto_Click(false);
    autostart.MenuCreaCollegamento_Click();
    autostart.MenuEliminaCollegamento_Click();
    EXPECT_EQ(p.dialogs.messages,
              (std::vector<fakes::ShownMessage>{
                  {"Tarvel", "Attenzione: Il programma è già stato inserito nella tray bar.",
                   Icon::Critical, Buttons::Ok},
                  {"Tarvel", "Attenzione: Il programma non può essere inserito nella tray bar.",
                   Icon::Exclamation, Buttons::Ok}}));
    EXPECT_FALSE(autostart.checked());
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
        ASSERT_TRUE(homeDir.isValid());
        qputenv("HOME", homeDir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (homeDir.path() + "/config").toUtf8());
    }
    void TearDown() override {
        qputenv("HOME", vecchiaCasa);
        qputenv("XDG_CONFIG_HOME", vecchiaConfig);
        if (vecchiaConfig.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    }

    QTemporaryDir homeDir;
    QByteArray vecchiaCasa = qgetenv("HOME"), vecchiaConfig = qgetenv("XDG_CONFIG_HOME");
};

// The autostart entry is an XDG file with the quoted path; the desktop
// shortcut is an executable launcher, rewritten in place.
TEST_F(TemporaryHome, AutostartEntryAndDesktopShortcutAreFreedesktopFiles) {
    QtDesktopShell shell;
    const QString menuItem = homeDir.path() + "/config/autostart/Tarvel.desktop";
    EXPECT_EQ(shell.autostartCommand("Tarvel"), "");
    ASSERT_TRUE(shell.writeAutostart("Tarvel", "/opt/my tools/Tarvel"));
    std::string text = test::ReadFile(menuItem.toStdString());
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n")) << text;
    EXPECT_NE(text.find("\nExec=\"/opt/my tools/Tarvel\"\n"), std::string::npos) << text;
    EXPECT_EQ(shell.autostartCommand("Tarvel"), "\"/opt/my tools/Tarvel\"");
    ASSERT_TRUE(shell.removeAutostart("Tarvel"));
    EXPECT_FALSE(QFileInfo::exists(menuItem));
    EXPECT_TRUE(shell.removeAutostart("Tarvel")) << "nothing to remove is no failure";

    EXPECT_FALSE(shell.createDesktopShortcut("Tarvel", "/opt/tarvel/Tarvel", "/opt/tarvel/"))
        << "no desktop folder";
    ASSERT_TRUE(QDir(homeDir.path()).mkdir("Desktop"));
    const QString collegamento = homeDir.path() + "/Desktop/Tarvel.desktop";
    ASSERT_TRUE(shell.createDesktopShortcut("Tarvel", "/opt/old/Tarvel", "/opt/old/"));
    ASSERT_TRUE(shell.createDesktopShortcut("Tarvel", "/opt/tarvel/Tarvel", "/opt/tarvel/"));
    EXPECT_EQ(QDir(homeDir.path() + "/Desktop").entryList(QDir::Files).size(), 1);
    text = test::ReadFile(collegamento.toStdString());
    for (const char* line : {"\nName=Tarvel\n", "\nComment=Tarvel\n",
                             "\nExec=\"/opt/tarvel/Tarvel\"\n", "\nPath=/opt/tarvel/\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
    EXPECT_EQ(text.find("old"), std::string::npos);
    EXPECT_TRUE(QFile::permissions(collegamento) & QFileDevice::ExeOwner);
    EXPECT_TRUE(shell.deleteDesktopShortcut("Tarvel"));
    EXPECT_FALSE(QFileInfo::exists(collegamento));
    EXPECT_TRUE(shell.deleteDesktopShortcut("Tarvel")) << "nothing to delete is no failure";
}

// A lock file whose program is gone (a held lock refuses:
// SecondInstanceTest).
TEST(InstanceLockTest, ALockLeftBehindIsTakenOver) {
    QTemporaryDir folder;
    const QString path = folder.filePath("Tarvel.lock");
    test::WriteFile(path.toStdString(),
                    "999999999\nTarvel\n" + QSysInfo::machineHostName().toStdString() + "\n");
    EXPECT_TRUE(InstanceLock(path).acquire());
}

TEST(SecondInstanceTest, EndsSilentlyWhileTheFirstRunsOn) {
    // The program lives in a folder of its own (also its runtime folder)
    // with an empty settings file, so the first instance stops at its error
    // message and stays there, holding the single-instance lock.
    QTemporaryDir folder;
    const QString program = folder.filePath("Tarvel");
    ASSERT_TRUE(QFile::copy(QStringLiteral(TARVEL_EXE), program));
    test::WriteFile(folder.filePath("Tarvel.INI").toStdString(), "");
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert("XDG_RUNTIME_DIR", folder.path());
    ambiente.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess first, seconda;
    for (QProcess* programInstance : {&first, &seconda}) programInstance->setProcessEnvironment(ambiente);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted());
    const QString lock = folder.filePath("Tarvel.lock");
    for (int i = 0; i < 200 && !QFileInfo::exists(lock); ++i) QThread::msleep(50);
    ASSERT_TRUE(QFileInfo::exists(lock)) << "the first instance took the lock";

    seconda.start(program, {});
    ASSERT_TRUE(seconda.waitForFinished(20000)) << "the second instance ended by itself";
    EXPECT_TRUE(seconda.exitStatus() == QProcess::NormalExit && seconda.exitCode() == 0);
    EXPECT_TRUE(first.state() == QProcess::Running && QFileInfo::exists(lock));

    first.kill();
    first.waitForFinished();
}

// Without a display to reach (no DISPLAY nor WAYLAND_DISPLAY, Qt's
// platform X11 or not set) the program says so in one line and names the
// runner without windows, instead of Qt's abort. (The offscreen platform:
// every test above.)
TEST(NoDisplayTest, SaysSoAndNamesTheRunnerWithoutWindows) {
    for (const char* platform : {"", "xcb"}) {
        SCOPED_TRACE(platform);
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            ambiente.remove(name);
        if (*platform) ambiente.insert("QT_QPA_PLATFORM", platform);
        QProcess program;
        program.setProcessEnvironment(ambiente);
        program.start(QStringLiteral(TARVEL_EXE), {});
        ASSERT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 2);
        EXPECT_EQ(program.readAllStandardError().toStdString(),
                  "Tarvel: nessun display (DISPLAY e WAYLAND_DISPLAY non sono impostate): il "
                  "programma con le finestre non può partire; senza finestre usare "
                  "tarvel-headless\n");
    }
}

}  // namespace
}  // namespace tarvel
