// The desktop program. It takes no arguments: everything comes from
// Tarvel.INI in the program's own folder.

#include <QApplication>

#include "mainwindow/ProgrammaDesktop.h"
#include "platform/qtgui/QtTraduzione.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tarvel::CaricaTraduzioneQt();
    tarvel::ProgrammaDesktop programma;
    programma.applicazione().avvia();
    return QApplication::exec();
}
