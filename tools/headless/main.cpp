// tarvel-headless: the logger without windows, for servers and scripts.

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ConsolePlatform.h"
#include "Runner.h"
#include "VerificaImpostazioni.h"
#include "history/Storico.h"
#include "modbus/PorteCom.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/SignalPipe.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/QtProgramIdentity.h"
#include "platform/sqlite/SqliteHistoryStore.h"
#include "settings/IniFileStore.h"

namespace {

const char* const Usage =
    "Usage: tarvel-headless [--folder DIR] [--cycles N] [--monitor] [--stats] [--check]\n"
    "       tarvel-headless [--folder DIR] --export-csv NAME[,NAME...] [--from TIME] [--to TIME]\n"
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
    "  --export-csv NAME[,NAME...]\n"
    "                 write the history ([History] File) of the named values as\n"
    "                 CSV on stdout: a header line, then one line per cycle, its\n"
    "                 UTC time first, an empty cell for a failed read\n"
    "  --from TIME, --to TIME\n"
    "                 only the cycles from TIME on, and before TIME: UTC, as\n"
    "                 2026-12-07, 2026-12-07T12:00 or 2026-12-07T12:00:30.250Z\n"
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
    std::vector<std::string> esporta;  // names for the CSV export
    std::string da, a;
};

// "A,B,C" into its names; false when one is empty.
bool leggiNomi(const std::string& testo, std::vector<std::string>& nomi) {
    std::size_t inizio = 0;
    for (;;) {
        const std::size_t virgola = testo.find(',', inizio);
        nomi.push_back(testo.substr(inizio, virgola - inizio));
        if (nomi.back().empty()) return false;
        if (virgola == std::string::npos) return true;
        inizio = virgola + 1;
    }
}

bool leggiTempo(const char* testo, std::string& tempo) {
    const std::optional<std::string> t = tarvel::TempoUTC(testo);
    if (t) tempo = *t;
    return t.has_value();
}

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
        } else if (arg == "--export-csv" && i + 1 < argc) {
            if (!leggiNomi(argv[++i], a.esporta)) return false;
        } else if (arg == "--from" && i + 1 < argc) {
            if (!leggiTempo(argv[++i], a.da)) return false;
        } else if (arg == "--to" && i + 1 < argc) {
            if (!leggiTempo(argv[++i], a.a)) return false;
        } else {
            return false;
        }
    }
    return a.esporta.empty() ? a.da.empty() && a.a.empty() : !a.verifica;
}

// The history of the names as CSV on stdout; 2 when there is none to read.
int esportaCSV(const Argomenti& args, tarvel::ProfileStore& ini,
               const tarvel::ProgramIdentity& identity, tarvel::Clock& clock,
               tarvel::Dialogs& dialogs) {
    using namespace tarvel;
    const std::string percorsoIni = identity.programFolder() + "/" + NomeFileIni;
    SqliteHistoryStore history;
    SystemWallClock wall;
    Storico storico(&history, &wall, clock, dialogs);
    storico.Configura(ini.read(percorsoIni, "History", "File", ""),
                      ini.read(percorsoIni, "History", "Days", ""), identity.programFolder());
    std::string csv, errore;
    if (!storico.EsportaCSV(args.esporta, args.da, args.a, csv, errore)) {
        std::fprintf(stderr, "Tarvel: Impossibile leggere lo storico\n%s\n", errore.c_str());
        return 2;
    }
    return std::fwrite(csv.data(), 1, csv.size(), stdout) == csv.size() && std::fflush(stdout) == 0
               ? 0
               : 1;
}

}  // namespace

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
    if (!args.esporta.empty()) return esportaCSV(args, ini, identity, clock, dialogs);
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
    // Written off the cycle; what is left at the end is written before exit.
    SqliteHistoryStore history;
    SystemWallClock wallClock;
    Programma prog({ini, clock, dialogs, identity, port, files, &history, &wallClock});
    Runner::installaSegnali();
    Runner runner(prog, {args.cicli, args.monitor, args.stats});
    clock.watch(SignalPipe::fd(), [&runner] { return runner.segnale(); });
    port.watchAlso(SignalPipe::fd(), [&runner] { runner.segnale(); });
    if (int code = runner.avvia(); code != 0) return code;
    if (!prog.stato().acquisizioneAttiva) {
        // The first cycle already ended the run (a stop, or --cycles 1).
        return runner.codiceUscita();
    }
    app.exec();
    return runner.codiceUscita();
}
