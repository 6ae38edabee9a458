// tarvel-headless: the logger without windows, for servers and scripts.

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Commissioning.h"
#include "ConsolePlatform.h"
#include "Runner.h"
#include "SettingsCheck.h"
#include "app/ProgramFolder.h"
#include "history/History.h"
#include "modbus/ComPorts.h"
#include "platform/httplib/HttplibWebServer.h"
#include "platform/mosquitto/MosquittoClient.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/PosixUserFolders.h"
#include "platform/posix/PortThreads.h"
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
    std::string folder;
    long cycles = 0;
    bool monitor = false;
    bool stats = false;
    bool check = false;
    bool printFolder = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> exportOutput;  // names for the CSV export
    std::string from, a;
    bool scan = false;
    int first = 1, last = 247;  // --nodes
    bool templates = false;
    std::string templateName;
    int node = 0;  // --node
    std::optional<std::array<int, 3>> decode;
};

// "A-B", "N,F,R", "N" as integers within their limits; false otherwise.
bool readIntegers(const std::string& text, char separator, std::vector<int> lows,
                  std::vector<int> highs, std::vector<int>& values) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < lows.size(); ++i) {
        const std::size_t end = i + 1 < lows.size() ? text.find(separator, start) : text.size();
        if (end == std::string::npos || end == start) return false;
        const std::string part = text.substr(start, end - start);
        char* stop = nullptr;
        const long value = std::strtol(part.c_str(), &stop, 10);
        if (*stop != '\0' || value < lows[i] || value > highs[i]) return false;
        values.push_back(static_cast<int>(value));
        start = end + 1;
    }
    return true;
}

// The options of the commissioning commands: true when `arg` is one of
// them, with `error` set when its value is not good.
bool parseCommissioning(const std::string& arg, const char* value, int& i, Arguments& a,
                        std::string& error) {
    std::vector<int> v;
    const auto bad = [&] { error = "valore non valido per " + arg + ": " + value; };
    if (arg == "--scan") {
        a.scan = true;
    } else if (arg == "--templates") {
        a.templates = true;
    } else if (!value && (arg == "--nodes" || arg == "--template" || arg == "--node" ||
                          arg == "--decode")) {
        error = "valore mancante per " + arg;
    } else if (arg == "--nodes") {
        ++i;
        if (!readIntegers(value, '-', {1, 1}, {247, 247}, v) || v[0] > v[1]) return bad(), true;
        a.first = v[0];
        a.last = v[1];
    } else if (arg == "--node") {
        ++i;
        if (!readIntegers(value, ',', {1}, {247}, v)) return bad(), true;
        a.node = v[0];
    } else if (arg == "--template") {
        ++i;
        a.templateName = value;
    } else if (arg == "--decode") {
        ++i;
        if (!readIntegers(value, ',', {1, 3, 0}, {247, 4, 65532}, v)) return bad(), true;
        a.decode = std::array<int, 3>{v[0], v[1], v[2]};
    } else {
        return false;
    }
    return true;
}

// "A,B,C" into its names; false when one is empty.
bool readNames(const std::string& text, std::vector<std::string>& names) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (names.back().empty()) return false;
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool readTime(const char* text, std::string& tempo) {
    const std::optional<std::string> t = tarvel::UtcTime(text);
    if (t) tempo = *t;
    return t.has_value();
}

// Empty when the arguments are good; otherwise what is wrong with them.
std::string parseArguments(int argc, char** argv, Arguments& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool value = i + 1 < argc;
        std::string error;
        if (parseCommissioning(arg, value ? argv[i + 1] : nullptr, i, a, error)) {
            if (!error.empty()) return error;
            continue;
        }
        if ((arg == "--folder" || arg == "--cycles" || arg == "--export-csv" || arg == "--from" ||
             arg == "--to") &&
            !value)
            return "valore mancante per " + arg;
        if (arg == "--folder") {
            // Absolute, so that every message names the file in full.
            std::error_code e;
            std::filesystem::path folder = std::filesystem::absolute(argv[++i], e);
            folder = folder.lexically_normal();
            if (e || folder.empty()) return "cartella non valida: " + std::string(argv[i]);
            a.folder = folder.string();
            while (a.folder.size() > 1 && a.folder.back() == '/') a.folder.pop_back();
        } else if (arg == "--cycles") {
            char* end = nullptr;
            a.cycles = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || a.cycles < 1)
                return "valore non valido per --cycles: " + std::string(argv[i]);
        } else if (arg == "--monitor") {
            a.monitor = true;
        } else if (arg == "--stats") {
            a.stats = true;
        } else if (arg == "--check") {
            a.check = true;
        } else if (arg == "--export-csv") {
            if (!readNames(argv[++i], a.exportOutput))
                return "nomi non validi per --export-csv: " + std::string(argv[i]);
        } else if (arg == "--from" || arg == "--to") {
            if (!readTime(argv[++i], arg == "--from" ? a.from : a.a))
                return "tempo non valido per " + arg + ": " + std::string(argv[i]);
        } else if (arg == "--print-folder") {
            a.printFolder = true;
        } else if (arg == "--help" || arg == "-h") {
            a.help = true;
        } else if (arg == "--version") {
            a.version = true;
        } else {
            return "opzione sconosciuta: " + arg;
        }
    }
    if (a.exportOutput.empty() && !(a.from.empty() && a.a.empty()))
        return "--from e --to valgono solo con --export-csv";
    if (!a.exportOutput.empty() && a.check) return "--export-csv e --check non vanno insieme";
    const int commands = a.scan + a.templates + !a.templateName.empty() + a.decode.has_value() +
                         a.check + !a.exportOutput.empty();
    if (commands > 1)
        return "--scan, --decode, --templates, --template, --check e --export-csv vanno da soli";
    if (!a.templateName.empty() != (a.node != 0)) return "--template e --node vanno insieme";
    return {};
}

// The history of the names as CSV on stdout; 2 when there is none to read.
int exportCsv(const Arguments& args, tarvel::ProfileStore& ini,
               const tarvel::ProgramIdentity& identity, tarvel::Clock& clock,
               tarvel::Dialogs& dialogs) {
    using namespace tarvel;
    const std::string iniPath = identity.programFolder() + "/" + IniFileName;
    SqliteHistoryStore history;
    SystemWallClock wall;
    History historyLog(&history, &wall, clock, dialogs);
    const HistorySettingsRead reading = ReadHistorySettings(
        [&](const std::string& key) { return ini.read(iniPath, "History", key, ""); });
    // A refused [History] is no history to read, as for the run.
    std::string csv, error = reading.problems.empty() ? "" : reading.problems.front();
    if (error.empty()) historyLog.Configure(reading.settings, identity.programFolder());
    if (!error.empty() || !historyLog.ExportCsv(args.exportOutput, args.from, args.a, csv, error)) {
        std::fprintf(stderr, "Tarvel: Impossibile leggere lo storico\n%s\n", error.c_str());
        return 2;
    }
    return std::fwrite(csv.data(), 1, csv.size(), stdout) == csv.size() && std::fflush(stdout) == 0
               ? 0
               : 1;
}

// --check: what the settings would do, without opening the port.
int check(tarvel::IniFileStore& ini, const std::string& iniPath, tarvel::Clock& clock,
             tarvel::ConsoleDialogs& dialogs, tarvel::ProgramIdentity& identity,
             tarvel::OutputFiles& files) {
    using namespace tarvel;
    DryRunPort dry(ComDeviceFromSettings(ini, iniPath, DefaultComDevice));
    dialogs.quiet = true;
    Program prog({ini, clock, dialogs, identity, dry, files});
    const int code = CheckSettings(prog, stdout);
    // Unusable settings give no records: their message goes to standard
    // error. Profile 0's failure is told once, in its warning.
    if (code == ExitCheckBadSettings && !dialogs.messages.empty())
        ConsoleDialogs::print(dialogs.messages.front());
    return code;
}

// How long a clean end waits for the broker to take the last cycles.
constexpr int PublishingStopWait = 5000;

// The logger until a stop signal or its last cycle; the exit code.
int acquire(const Arguments& args, tarvel::IniFileStore& ini, const std::string& iniPath,
               tarvel::ConsoleClock& clock, tarvel::ConsoleDialogs& dialogs,
               tarvel::ProgramIdentity& identity, tarvel::OutputFiles& files,
               QCoreApplication& app) {
    using namespace tarvel;
    // No window must stay responsive: a wait blocks on the port and the
    // signal pipe together, and no event loop runs inside a cycle.
    PosixSerialPort port(ComDeviceFromSettings(ini, iniPath, DefaultComDevice));
    // The ports of a list polled in parallel: their waits end at a stop too.
    PortThreads workers(ComDeviceFromSettings(ini, iniPath, DefaultComDevice), clock);
    MosquittoClient mqtt;
    SqliteJournal journal;
    // Written off the cycle; what is left at the end is written before exit.
    SqliteHistoryStore history;
    SystemWallClock wall;
    // The page, the API and the metrics, on threads of their own.
    HttplibWebServer web;
    Program prog({ini, clock, dialogs, identity, port, files, &mqtt, &journal, &history, &wall,
                  &workers, &web});
    // A clean end hands the last cycles to a reachable broker first.
    const auto fine = [&prog](int code) {
        prog.StopPublishing(PublishingStopWait);
        return code;
    };
    Runner::installSignals();
    Runner runner(prog, {args.cycles, args.monitor, args.stats});
    clock.watch(SignalPipe::fd(), [&runner] { return runner.onSignal(); });
    port.watchAlso(SignalPipe::fd(), [&runner] { runner.onSignal(); });
    workers.watchAlso(SignalPipe::fd(), [&runner] { runner.onSignal(); });
    if (int code = runner.start(); code != 0) return fine(code);
    if (!prog.status().acquisizioneAttiva) {
        // The first cycle already ended the run (a stop, or --cycles 1).
        return fine(runner.exitCode());
    }
    app.exec();
    return fine(runner.exitCode());
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvel;
    IgnoreFileSizeSignal();
    Arguments args;
    if (const std::string error = parseArguments(argc, argv, args); !error.empty()) {
        std::fprintf(stderr, "tarvel-headless: %s\n\n%s", error.c_str(), Usage);
        return 2;
    }
    if (args.help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (args.version) {
        std::printf("tarvel-headless %s\n", ProductVersion().c_str());
        return 0;
    }
    QCoreApplication app(argc, argv);
    const std::string templateFolder = QtProgramIdentity::templateFolder();
    if (args.templates) return ListTemplates(templateFolder);
    if (!args.templateName.empty()) return PrintTemplate(templateFolder, args.templateName, args.node);

    PosixTextFiles textFiles;
    IniFileStore ini(textFiles);
    ConsoleClock clock;
    ConsoleDialogs dialogs;
    if (args.folder.empty()) {
        PosixUserFolders folders;
        const ProgramFolder found =
            FindProgramFolder(textFiles, folders, QtProgramIdentity::executableFolder(),
                                   QtProgramIdentity::exampleSettings(), !args.printFolder);
        if (!AnnounceFolder(found, dialogs, nullptr)) return 2;
        args.folder = found.folder;
    }
    if (args.printFolder) {
        std::printf("%s\n", args.folder.c_str());
        return 0;
    }
    QtProgramIdentity identity(args.folder);
    PosixOutputFiles files;
    // An output path that names the settings file would destroy the list.
    files.protect(identity.programFolder() + "/" + IniFileName);

    const std::string iniPath = identity.programFolder() + "/" + IniFileName;
    if (!args.exportOutput.empty()) return exportCsv(args, ini, identity, clock, dialogs);
    if (args.check) return check(ini, iniPath, clock, dialogs, identity, files);
    const LineAccess line{ini, iniPath, clock, dialogs, args.monitor, args.stats};
    if (args.scan) return ScanLine(line, args.first, args.last, templateFolder);
    if (args.decode) return DecodeLine(line, (*args.decode)[0], (*args.decode)[1], (*args.decode)[2]);
    return acquire(args, ini, iniPath, clock, dialogs, identity, files, app);
}
