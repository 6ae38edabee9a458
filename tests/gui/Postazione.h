#pragma once
// The desktop program over the core with fakes, on the plant of two lines
// that both answer: the base of the window tests. With a history, the
// program lives in a scratch folder with the history store and the
// system's calendar time.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>

#include "Impianto.h"
#include "TempFolder.h"
#include "about/SplashForm.h"
#include "mainwindow/Applicazione.h"
#include "mainwindow/MainForm.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/sqlite/SqliteHistoryStore.h"

namespace tarvel::test {

struct IstanzaLibera : IstanzaProgramma {
    bool acquisisci() override { return true; }
};

class Postazione : public ::testing::Test {
  protected:
    explicit Postazione(bool storico = false) : storico_(storico) { impianto.dueRighe(); }

    fakes::FakePlatform& p() { return impianto.fp; }
    MainForm& main() { return app.mainForm(); }
    template <typename T = QLabel>
    T* controllo(const char* nome, QWidget* finestra = nullptr) {
        auto* c = (finestra ? finestra : &main())->findChild<T*>(QString::fromLatin1(nome));
        EXPECT_NE(c, nullptr) << nome;
        return c;
    }
    QAction* azione(const char* nome) { return controllo<QAction>(nome); }
    // The splash, then its timer, then the start-up.
    void avvia() {
        app.avvia();
        p().clock.advance(SplashForm::IntervalloTimer1);
        ASSERT_TRUE(main().isVisible());
    }

  private:
    // The program folder is taken when the program is made.
    Piattaforma piattaforma() {
        if (!storico_) return impianto.fp.piattaforma();
        impianto.fp.identity.folder = folder.path().string();
        Piattaforma piattaforma = impianto.fp.piattaforma();
        piattaforma.history = &store;
        piattaforma.wallClock = &wall;
        return piattaforma;
    }
    bool storico_;

  protected:
    TempFolder folder;
    SqliteHistoryStore store;
    SystemWallClock wall;
    fakes::Impianto impianto;
    IstanzaLibera istanza;
    std::vector<int> fine;  // the program's exit codes
    Applicazione app{piattaforma(), impianto.fp.shell, istanza,
                     [this](int codice) { fine.push_back(codice); }};
};

}  // namespace tarvel::test
