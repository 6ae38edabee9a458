// tarvel-headless: the logger without windows, for servers and scripts.

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ConsolePlatform.h"
#include "Runner.h"
#include "SettingsCheck.h"
#include "app/ProgramFolder.h"
#include "history/History.h"
#include "modbus/ComPorts.h"
#include "platform/mosquitto/MosquittoClient.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/PosixUserFolders.h"
#include "platform/posix/SignalPipe.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/qt/ConsoleClock.h"
#include "platform/qt/QtProgramIdentity.h"
#include "platform/sqlite/SqliteHistoryStore.h"
#include "platform/sqlite/SqliteJournal.h"
#include "settings/IniFileStore.h"

namespace {

const char* const Usage =
    "Usage: tarvel-headless [--folder DIR] [--cycles N] [--monitor] [--stats] [--check]\n"
    "       tarvel-headless [--folder DIR] --export-csv NAME[,NAME...] [--from TIME] [--to TIME]\n"
    "       tarvel-headless --print-folder | --version | --help\n"
    "\n"
    "Runs the Tarvel Modbus-RTU data logger without windows. Settings come from\n"
    "Tarvel.INI in the program folder: DIR when given; else the folder of this\n"
    "executable when it holds a Tarvel.INI; else $XDG_CONFIG_HOME/tarvel (default\n"
    "~/.config/tarvel), where the first start copies the installed example, says\n"
    "so and exits 2. The program folder is the base of every setting that names\n"
    "it (the default output is NoName.xml there, relative output names too).\n"
    "Acquisition starts at once; one line per cycle is printed on stdout.\n"
    "\n"
    "  --folder DIR     the program folder\n"
    "  --cycles N       end after N cycles (exit code 0)\n"
    "  --monitor        print every frame sent (TX) and received (RX)\n"
    "  --stats          after each cycle, one line per node: \"stats\", node,\n"
    "                   requests, good answers, time-outs, CRC errors, wrong\n"
    "                   answers, exceptions (code:count ...), skipped lines, median\n"
    "                   answer time in ms, time of the last good answer,\n"
    "                   tab-separated\n"
    "  --check          check the settings and each profile's device without\n"
    "                   opening it: a line naming the settings file, a header\n"
    "                   line naming the columns, one record a line (caption,\n"
    "                   interval, line, warning), then \"N righe, N avvisi\"; exit\n"
    "                   code 0 no warning, 1 warnings only, 2 settings unusable,\n"
    "                   3 profile 0 would fail\n"
    "  --export-csv NAME[,NAME...]\n"
    "                   write the history ([History] File) of the named values as\n"
    "                   CSV on stdout: a header line, then one line per cycle, its\n"
    "                   UTC time first, an empty cell for a failed read\n"
    "  --from TIME, --to TIME\n"
    "                   only the cycles from TIME on, and before TIME: UTC, as\n"
    "                   2026-12-07, 2026-12-07T12:00 or 2026-12-07T12:00:30.250Z\n"
    "  --print-folder   print the program folder and exit (nothing is created)\n"
    "  --version        print the name and version and exit\n"
    "  --help           this text\n"
    "\n"
    "Signals: SIGTERM and SIGINT end the running wait at once, write the output\n"
    "and exit 0; SIGHUP reloads the settings after the running cycle.\n"
    "Exit codes: 0 done, 2 bad arguments or settings unusable (also the first\n"
    "start), 3 a serial profile cannot be set up (profile 0 at start, or one the\n"
    "request list switches to).\n";

struct Arguments {
    std::string cartella;
    long cicli = 0;
    bool monitor = false;
    bool stats = false;
    bool verifica = false;
    bool stampaCartella = false;
    bool aiuto = false;
    bool versione = false;
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

// Empty when the arguments are good; otherwise what is wrong with them.
std::string leggiArgomenti(int argc, char** argv, Arguments& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valore = i + 1 < argc;
        if ((arg == "--folder" || arg == "--cycles" || arg == "--export-csv" || arg == "--from" ||
             arg == "--to") &&
            !valore)
            return "valore mancante per " + arg;
        if (arg == "--folder") {
            // Absolute, so that every message names the file in full.
            std::error_code e;
            std::filesystem::path cartella = std::filesystem::absolute(argv[++i], e);
            cartella = cartella.lexically_normal();
            if (e || cartella.empty()) return "cartella non valida: " + std::string(argv[i]);
            a.cartella = cartella.string();
            while (a.cartella.size() > 1 && a.cartella.back() == '/') a.cartella.pop_back();
        } else if (arg == "--cycles") {
            char* end = nullptr;
            a.cicli = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || a.cicli < 1)
                return "valore non valido per --cycles: " + std::string(argv[i]);
        } else if (arg == "--monitor") {
            a.monitor = true;
        } else if (arg == "--stats") {
            a.stats = true;
        } else if (arg == "--check") {
            a.verifica = true;
        } else if (arg == "--export-csv") {
            if (!leggiNomi(argv[++i], a.esporta))
                return "nomi non validi per --export-csv: " + std::string(argv[i]);
        } else if (arg == "--from" || arg == "--to") {
            if (!leggiTempo(argv[++i], arg == "--from" ? a.da : a.a))
                return "tempo non valido per " + arg + ": " + std::string(argv[i]);
        } else if (arg == "--print-folder") {
            a.stampaCartella = true;
        } else if (arg == "--help" || arg == "-h") {
            a.aiuto = true;
        } else if (arg == "--version") {
            a.versione = true;
        } else {
            return "opzione sconosciuta: " + arg;
        }
    }
    if (a.esporta.empty() && !(a.da.empty() && a.a.empty()))
        return "--from e --to valgono solo con --export-csv";
    if (!a.esporta.empty() && a.verifica) return "--export-csv e --check non vanno insieme";
    return {};
}

// The history of the names as CSV on stdout; 2 when there is none to read.
int esportaCSV(const Arguments& args, tarvel::ProfileStore& ini,
               const tarvel::ProgramIdentity& identity, tarvel::Clock& clock,
               tarvel::Dialogs& dialogs) {
    using namespace tarvel;
    const std::string percorsoIni = identity.programFolder() + "/" + NomeFileIni;
    SqliteHistoryStore history;
    SystemWallClock wall;
    History storico(&history, &wall, clock, dialogs);
    const HistorySettingsRead lettura = LeggiImpostazioniStorico(
        [&](const std::string& chiave) { return ini.read(percorsoIni, "History", chiave, ""); });
    // A refused [History] is no history to read, as for the run.
    std::string csv, errore = lettura.problemi.empty() ? "" : lettura.problemi.front();
    if (errore.empty()) storico.Configura(lettura.impostazioni, identity.programFolder());
    if (!errore.empty() || !storico.EsportaCSV(args.esporta, args.da, args.a, csv, errore)) {
        std::fprintf(stderr, "Tarvel: Impossibile leggere lo storico\n%s\n", errore.c_str());
        return 2;
    }
    return std::fwrite(csv.data(), 1, csv.size(), stdout) == csv.size() && std::fflush(stdout) == 0
               ? 0
               : 1;
}

// --check: what the settings would do, without opening the port.
int verifica(tarvel::IniFileStore& ini, const std::string& percorsoIni, tarvel::Clock& clock,
             tarvel::ConsoleDialogs& dialogs, tarvel::ProgramIdentity& identity,
             tarvel::OutputFiles& files) {
    using namespace tarvel;
    DryRunPort dry(ComDeviceFromSettings(ini, percorsoIni, DefaultComDevice));
    dialogs.quiet = true;
    Program prog({ini, clock, dialogs, identity, dry, files});
    const int code = VerificaImpostazioni(prog, stdout);
    // Unusable settings give no records: their message goes to standard
    // error. Profile 0's failure is told once, in its warning.
    if (code == VerificaImpostazioniErrate && !dialogs.messages.empty())
        ConsoleDialogs::print(dialogs.messages.front());
    return code;
}

// How long a clean end waits for the broker to take the last cycles.
constexpr int AttesaFinePubblicazione = 5000;

// The logger until a stop signal or its last cycle; the exit code.
int acquisisci(const Arguments& args, tarvel::IniFileStore& ini, const std::string& percorsoIni,
               tarvel::ConsoleClock& clock, tarvel::ConsoleDialogs& dialogs,
               tarvel::ProgramIdentity& identity, tarvel::OutputFiles& files,
               QCoreApplication& app) {
    using namespace tarvel;
    // No window must stay responsive: a wait blocks on the port and the
    // signal pipe together, and no event loop runs inside a cycle.
    PosixSerialPort port(ComDeviceFromSettings(ini, percorsoIni, DefaultComDevice));
    MosquittoClient mqtt;
    SqliteJournal journal;
    // Written off the cycle; what is left at the end is written before exit.
    SqliteHistoryStore history;
    SystemWallClock wall;
    Program prog({ini, clock, dialogs, identity, port, files, &mqtt, &journal, &history, &wall});
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

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvel;
    IgnoreFileSizeSignal();
    Arguments args;
    if (const std::string errore = leggiArgomenti(argc, argv, args); !errore.empty()) {
        std::fprintf(stderr, "tarvel-headless: %s\n\n%s", errore.c_str(), Usage);
        return 2;
    }
    if (args.aiuto) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (args.versione) {
        std::printf("tarvel-headless %s\n", VersioneProdotto().c_str());
        return 0;
    }
    QCoreApplication app(argc, argv);

    PosixTextFiles textFiles;
    IniFileStore ini(textFiles);
    ConsoleClock clock;
    ConsoleDialogs dialogs;
    if (args.cartella.empty()) {
        PosixUserFolders cartelle;
        const ProgramFolder trovata =
            CercaCartellaProgramma(textFiles, cartelle, QtProgramIdentity::executableFolder(),
                                   QtProgramIdentity::exampleSettings(), !args.stampaCartella);
        if (!AnnunciaCartella(trovata, dialogs, nullptr)) return 2;
        args.cartella = trovata.cartella;
    }
    if (args.stampaCartella) {
        std::printf("%s\n", args.cartella.c_str());
        return 0;
    }
    QtProgramIdentity identity(args.cartella);
    PosixOutputFiles files;
    // An output path that names the settings file would destroy the list.
    files.protect(identity.programFolder() + "/" + NomeFileIni);

    const std::string percorsoIni = identity.programFolder() + "/" + NomeFileIni;
    if (!args.esporta.empty()) return esportaCSV(args, ini, identity, clock, dialogs);
    if (args.verifica) return verifica(ini, percorsoIni, clock, dialogs, identity, files);
    return acquisisci(args, ini, percorsoIni, clock, dialogs, identity, files, app);
}
