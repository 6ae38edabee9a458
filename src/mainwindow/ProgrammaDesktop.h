#pragma once
// The desktop program as it runs: the real platform services, the lock that
// keeps a second instance out, the worker thread the core runs on (made
// here, joined at the end) and the windows. Made once the QApplication
// exists.

#include "mainwindow/Applicazione.h"
#include "mainwindow/BloccoIstanza.h"
#include "mainwindow/PiattaformaDesktop.h"
#include "platform/qt/WorkerThread.h"

namespace tarvel {

class ProgrammaDesktop {
  public:
    explicit ProgrammaDesktop(const std::string& cartellaProgramma);
    Applicazione& applicazione() { return applicazione_; }
    // Ends the program at once: no window event runs any more.
    void termina(int codice);
    // How long the end waits for the broker, at most.
    static constexpr int AttesaFinePubblicazione = 1000;

  private:
    PiattaformaDesktop piattaforma_;
    BloccoIstanza blocco_;
    WorkerThread worker_;
    Applicazione applicazione_;
};

}  // namespace tarvel
