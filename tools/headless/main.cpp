// tarvel-headless: the logger without windows, for servers and scripts.

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "ConsolePlatform.h"
#include "Runner.h"
#include "VerificaImpostazioni.h"
#include "modbus/PorteCom.h"
#include "platform/mosquitto/MosquittoClient.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/SignalPipe.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/QtProgramIdentity.h"
#include "platform/sqlite/SqliteJournal.h"
#include "settings/IniFileStore.h"

namespace {

const char* const Usage =
    "Usage: tarvel-headless [--folder DIR] [--cycles N] [--monitor] [--stats] [--check]\n"
    "\n"
    "Runs the Tarvel Modbus-RTU data logger without windows. Settings come from\n"
    "DIR/Tarvel.INI (default: the folder of this executable); DIR is the program\n"
    "folder for every setting that names it (the default output is DIR/NoName.xml).\n"
    "Acquisition starts at once; one line per cycle is printed on stdout.\n"
    "\n"
    "  --folder DIR   the program folder\n"
    "  --cycles N     end after N cycles (exit code 0)\n"
    "  --monitor      print every frame sent (TX) and received (RX)\n"
    "  --stats        after each cycle, one line per node: \"stats\", node, requests,\n"
    "                 good answers, time-outs, CRC errors, wrong answers, exceptions\n"
    "                 (code:count ...), skipped lines, median answer time in ms,\n"
    "                 time of the last good answer, tab-separated\n"
    "  --check        check the settings and each profile's device without\n"
    "                 opening it: a header line naming the columns, one record a\n"
    "                 line (caption, interval, line, warning), then \"N righe,\n"
    "                 N avvisi\"; exit code 0 no warning, 1 warnings only, 2\n"
    "                 settings unusable, 3 profile 0 would fail\n"
    "  --help         this text\n"
    "\n"
    "Signals: SIGTERM and SIGINT end the running wait at once, write the output\n"
    "and exit 0; SIGHUP reloads the settings after the running cycle.\n"
    "Exit codes: 0 done, 1 bad arguments, 2 settings unusable, 3 a serial profile\n"
    "cannot be set up (profile 0 at start, or one the request list switches to).\n";

struct Argomenti {
    std::string cartella;
    long cicli = 0;
    bool monitor = false;
    bool stats = false;
    bool verifica = false;
};

bool leggiArgomenti(int argc, char** argv, Argomenti& a) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--folder" && i + 1 < argc) {
            // Absolute, so that every message names the file in full.
            std::error_code e;
            std::filesystem::path cartella = std::filesystem::absolute(argv[++i], e);
            cartella = cartella.lexically_normal();
            if (e || cartella.empty()) return false;
            a.cartella = cartella.string();
            while (a.cartella.size() > 1 && a.cartella.back() == '/') a.cartella.pop_back();
        } else if (arg == "--cycles" && i + 1 < argc) {
            char* end = nullptr;
            a.cicli = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || a.cicli < 1) return false;
        } else if (arg == "--monitor") {
            a.monitor = true;
        } else if (arg == "--stats") {
            a.stats = true;
        } else if (arg == "--check") {
            a.verifica = true;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

// How long a clean end waits for the broker to take the last cycles.
constexpr int AttesaFinePubblicazione = 5000;

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
    Argomenti args;
    if (!leggiArgomenti(argc, argv, args)) {
        std::fputs(Usage, stderr);
        return 1;
    }
    QCoreApplication app(argc, argv);

    using namespace tarvel;
    PosixTextFiles textFiles;
    IniFileStore ini(textFiles);
    ConsoleClock clock;
    ConsoleDialogs dialogs;
    QtProgramIdentity identity(args.cartella);
    PosixOutputFiles files;
    // An output path that names the settings file would destroy the list.
    files.protect(identity.programFolder() + "/" + NomeFileIni);

    const std::string percorsoIni = identity.programFolder() + "/" + NomeFileIni;
    if (args.verifica) {
        DryRunPort dry(ComDeviceFromSettings(ini, percorsoIni, DefaultComDevice));
        dialogs.quiet = true;
        Programma prog({ini, clock, dialogs, identity, dry, files});
        const int code = VerificaImpostazioni(prog, stdout);
        // The settings' message, or profile 0's: the first one shown.
        if ((code == VerificaImpostazioniErrate || code == VerificaProfiloZeroErrato) &&
            !dialogs.messages.empty())
            ConsoleDialogs::print(dialogs.messages.front());
        return code;
    }

    // No window must stay responsive: a wait blocks on the port and the
    // signal pipe together, and no event loop runs inside a cycle.
    PosixSerialPort port(ComDeviceFromSettings(ini, percorsoIni, DefaultComDevice));
    MosquittoClient mqtt;
    SqliteJournal journal;
    SystemWallClock wall;
    Programma prog({ini, clock, dialogs, identity, port, files, &mqtt, &journal, &wall});
    // A clean end hands the last cycles to a reachable broker first.
    const auto fine = [&prog](int code) {
        prog.FinePubblicazione(AttesaFinePubblicazione);
        return code;
    };
    Runner::installaSegnali();
    Runner runner(prog, {args.cicli, args.monitor, args.stats});
    clock.watch(SignalPipe::fd(), [&runner] { return runner.segnale(); });
    port.watchAlso(SignalPipe::fd(), [&runner] { runner.segnale(); });
    if (int code = runner.avvia(); code != 0) return fine(code);
    if (!prog.stato().acquisizioneAttiva) {
        // The first cycle already ended the run (a stop, or --cycles 1).
        return fine(runner.codiceUscita());
    }
    app.exec();
    return fine(runner.codiceUscita());
}
