// The desktop program. It takes no arguments: everything comes from
// Tarvel.INI in the program's own folder.

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "mainwindow/Applicazione.h"
#include "mainwindow/BloccoIstanza.h"
#include "mainwindow/Disegni.h"
#include "mainwindow/PiattaformaDesktop.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Hiding the last window into the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(tarvel::IconaProgramma());

    tarvel::PiattaformaDesktop piattaforma;
    tarvel::BloccoIstanza blocco;
    // Ending the program ends it at once: no window event runs any more.
    auto termina = [&blocco](int codice) {
        blocco.rilascia();
        std::fflush(nullptr);
        std::_Exit(codice);
    };
    tarvel::Applicazione applicazione(piattaforma.piattaforma(), blocco, termina);
    applicazione.avvia();
    return QApplication::exec();
}
