#pragma once
// The platform services of the desktop program, owned together: the real
// clock, serial port, settings file, output files, dialogs and desktop.

#include "app/Programma.h"
#include "modbus/PorteCom.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtProgramIdentity.h"
#include "platform/qt/QtSerialPort.h"
#include "platform/qtgui/QtDesktopShell.h"
#include "platform/qtgui/QtDialogs.h"
#include "platform/sqlite/SqliteHistoryStore.h"
#include "settings/IniFileStore.h"

namespace tarvel {

struct PiattaformaDesktop {
    // Needs the application object: the program's folder comes from it.
    PiattaformaDesktop();
    Piattaforma piattaforma() {
        return {ini, clock, dialogs, identity, port, files, &history, &wallClock};
    }

    QtProgramIdentity identity;
    PosixTextFiles textFiles;
    IniFileStore ini{textFiles};
    QtClock clock;
    QtSerialPort port;
    PosixOutputFiles files;
    QtDialogs dialogs;
    QtDesktopShell shell;
    SystemWallClock wallClock;
    SqliteHistoryStore history;
};

}  // namespace tarvel
