#include "mainwindow/DesktopProgram.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "mainwindow/AcquisitionHost.h"
#include "mainwindow/Widgets.h"

namespace tarvel {

DesktopProgram::DesktopProgram(const std::string& cartellaProgramma)
    : piattaforma_(cartellaProgramma),
      applicazione_(
          piattaforma_.piattaforma(), piattaforma_.shell, blocco_,
          [this](int codice) { termina(codice); }, &worker_,
          [this] {
              applicazione_.programma().InterrompiAttesa();
              piattaforma_.wakeUp.signal();
          }) {
    // Hiding the last window into the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(IconaProgramma());
}

void DesktopProgram::termina(int codice) {
    // What follows reads the core from this thread: its own is joined first.
    applicazione_.host().stop();
    // The last cycle's rows, written within two seconds at most.
    piattaforma_.history.waitIdle(std::chrono::seconds(2));
    // The broker learns of the end; what it has not taken stays in the
    // journal for the next start.
    applicazione_.programma().FinePubblicazione(AttesaFinePubblicazione);
    blocco_.rilascia();
    std::fflush(nullptr);
    std::_Exit(codice);
}

}  // namespace tarvel
