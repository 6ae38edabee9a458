// The desktop program. It takes no arguments: everything comes from
// Tarvel.INI in the program's own folder.

#include <QApplication>

#include "mainwindow/ProgrammaDesktop.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tarvel::ProgrammaDesktop programma;
    programma.applicazione().avvia();
    return QApplication::exec();
}
