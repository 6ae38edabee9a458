#pragma once
// The platform services of the desktop program, owned together: the real
// clock, serial port, settings file, output files, dialogs, desktop and
// web server. The
// core runs them on its own thread: the port and the clock wait in poll(2),
// as the headless runner's do, on one more descriptor, the wake-up that
// ends a wait at once at the end of the program.

#include "app/Program.h"
#include "modbus/ComPorts.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/httplib/HttplibWebServer.h"
#include "platform/mosquitto/MosquittoClient.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/PortThreads.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/posix/WakeUp.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/QtProgramIdentity.h"
#include "platform/qtgui/QtDesktopShell.h"
#include "platform/qtgui/QtDialogs.h"
#include "platform/sqlite/SqliteJournal.h"
#include "platform/sqlite/SqliteHistoryStore.h"
#include "settings/IniFileStore.h"

namespace tarvel {

struct DesktopPlatform {
    // Needs the application object. The settings live in the program
    // folder (FindProgramFolder).
    explicit DesktopPlatform(const std::string& programFolder);
    Platform platform() {
        return {ini,   clock,    dialogs,  identity, port,     files,
                &mqtt, &journal, &history, &wall,    &workers, &web};
    }

    QtProgramIdentity identity;
    PosixTextFiles textFiles;
    IniFileStore ini{textFiles};
    WakeUp wakeUp;
    ConsoleClock clock;
    PosixSerialPort port;
    // The ports of a list polled in parallel.
    PortThreads workers;
    PosixOutputFiles files;
    QtDialogs dialogs;
    QtDesktopShell shell;
    MosquittoClient mqtt;
    SqliteJournal journal;
    SystemWallClock wall;
    SqliteHistoryStore history;
    HttplibWebServer web;
};

}  // namespace tarvel
