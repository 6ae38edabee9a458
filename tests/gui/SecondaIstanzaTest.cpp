// A second start of the real program while one runs: it ends by itself,
// silently, and the running instance goes on.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include "TempFolder.h"
#include "mainwindow/BloccoIstanza.h"

namespace tarvel {
namespace {

TEST(BloccoIstanzaTest, OnlyOneHolderAndALockLeftBehindIsTakenOver) {
    QTemporaryDir cartella;
    const QString percorso = cartella.filePath("Tarvel.lock");
    BloccoIstanza prima(percorso);
    BloccoIstanza seconda(percorso);
    EXPECT_TRUE(prima.acquisisci() && prima.acquisisci()) << "the holder keeps it";
    EXPECT_FALSE(seconda.acquisisci());
    prima.rilascia();

    // A lock file whose program is gone.
    test::WriteFile(percorso.toStdString(),
                    "999999999\nTarvel\n" + QSysInfo::machineHostName().toStdString() + "\n");
    EXPECT_TRUE(seconda.acquisisci());
}

TEST(SecondaIstanzaTest, EndsSilentlyWhileTheFirstRunsOn) {
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

}  // namespace
}  // namespace tarvel
