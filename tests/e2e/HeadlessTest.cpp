// tarvel-headless against tarvel-sim, each a process of its own: the output
// file and the cycle line of a worked example, where the files of several
// profiles go, a reader polling the output meanwhile, the signals that stop
// a run, output folders that fail, --check and the exit codes.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <regex>
#include <set>

#include "SimProcess.h"

namespace tarvel::test {
namespace {

namespace fs = std::filesystem;
using Stream = ChildProcess::Stream;

// Port COM1 on the device and profile 0 on COM1: 9600,N,8,1, one try.
std::string Port(const std::string& device, int timeOutMs = 300) {
    return "[Ports]\nCOM1=" + device + "\n[Serial_0]\nCOM=1\nSettings=9600,N,8,1\nTimeOut=" +
           std::to_string(timeOutMs) + "\nRetry=1\n";
}

// The section Parameters with the request lines 001, 002, ...
std::string Requests(const std::vector<std::string>& lines, int intervalMs = 1000) {
    std::string text = "[Parameters]\nFirt=1\nLast=" + std::to_string(lines.size()) +
                       "\nInterval=" + std::to_string(intervalMs) + "\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        char key[24];
        std::snprintf(key, sizeof key, "%03zu=", i + 1);
        text += key + lines[i] + "\n";
    }
    return text;
}

// Through a temporary file and a rename: the logger reads the old file or
// the new one.
void WriteSettings(const TempFolder& folder, const std::string& text) {
    WriteFile(folder / "Tarvel.new", text);
    fs::rename(folder / "Tarvel.new", folder / "Tarvel.INI");
}

// The text with each line ended by CR LF, as in the output files.
std::string WithCrLf(const std::string& text) {
    return std::regex_replace(text, std::regex("\n"), "\r\n");
}

bool IsWholeDocument(const std::string& text) {
    return text.starts_with("<?xml version=\"1.0\" encoding=\"") &&
           text.ends_with("    </Dispositivo>\r\n\r\n  </Dispositivi>\r\n");
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The logger without windows on a program folder.
struct Headless {
    bool start(const TempFolder& folder, std::vector<std::string> arguments = {},
               const std::string& workingFolder = {}) {
        arguments.insert(arguments.begin(), {"--folder", folder.path().string()});
        return process.start(ProgramBeside("tarvel-headless"), arguments, workingFolder);
    }
    // Runs to the end; the exit code.
    std::optional<int> run(const TempFolder& folder, const std::vector<std::string>& arguments,
                           const std::string& workingFolder = {}) {
        return start(folder, arguments, workingFolder) ? process.waitExit(30s) : std::nullopt;
    }
    // The lines "Ciclo n: ..." so far, their duration written as N.
    std::vector<std::string> cycles() const {
        static const std::regex duration("durata [0-9]+ ms");
        std::vector<std::string> found;
        for (const auto& line : process.lines(Stream::Out))
            if (line.starts_with("Ciclo ")) found.push_back(std::regex_replace(line, duration, "durata N ms"));
        return found;
    }
    bool waitForCycle(long number, std::chrono::milliseconds timeout) {
        const std::string head = "Ciclo " + std::to_string(number) + ": ";
        return process
            .waitForLine(Stream::Out, [&](const std::string& l) { return l.starts_with(head); },
                         timeout)
            .has_value();
    }
    // How many lines of the stream hold the part.
    long count(Stream stream, const std::string& part) const {
        const auto all = process.lines(stream);
        return std::count_if(all.begin(), all.end(),
                             [&](const std::string& l) { return Contains(l, part); });
    }

    ChildProcess process;
};

// The worked example: a scaled value, a 32-bit value, a constant and a
// device that does not answer. Then the encoding named in the declaration
// follows the setting at each cycle: "@" is replaced once, even by a text
// that holds "@", and an empty setting means UTF-8. A stop signal between
// two cycles ends the run with 0.
TEST(Output, WorkedExampleThenTheEncodingOfEachCycle) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        "node 1\ninput 12 0x08FD\nholding 100 0x0001\nholding 101 0x0000\nfault 2 silent\n"));
    const std::string requests = Requests(
        {"1,4,12,1;Vac", "1,3,100+&,0;Energia", "0,0,Roof A,0;Impianto", "NEXT", "2,4,12,1;Vac"},
        200);
    WriteSettings(folder, Port(sim.link()) + requests);
    Headless headless;
    ASSERT_TRUE(headless.start(folder));
    ASSERT_TRUE(headless.waitForCycle(1, 10s));

    EXPECT_EQ(headless.cycles()[0], "Ciclo 1: righe eseguite 5, letture fallite 1, durata N ms, "
                                    "file scritti: " + folder / "NoName.xml");
    EXPECT_EQ(ReadFile(folder / "NoName.xml"), WithCrLf(R"(<?xml version="1.0" encoding="UTF-8"?>
  <Dispositivi>

    <Dispositivo>
      <Vac>230.1</Vac>
      <Energia>65536</Energia>
      <Impianto>Roof A</Impianto>
    </Dispositivo>

    <Dispositivo>
      <Vac></Vac>
    </Dispositivo>

  </Dispositivi>
)"));

    for (auto [setting, label] : {std::pair{"X@Y", "X@Y"}, {"", "UTF-8"}}) {
        SCOPED_TRACE(setting);
        WriteSettings(folder, Port(sim.link()) + requests + "[XML]\nEncoding=" + setting + "\n");
        const std::string head = std::string("<?xml version=\"1.0\" encoding=\"") + label + "\"?>\r\n  <Dispositivi>\r\n";
        EXPECT_TRUE(Eventually([&] { return ReadFile(folder / "NoName.xml").starts_with(head); }, 5s))
            << ReadFile(folder / "NoName.xml");
    }
    ASSERT_TRUE(headless.process.signal(SIGTERM));
    EXPECT_EQ(headless.process.waitExit(10s), 0);
}

// With a profile that has its own file, each profile line starts a file:
// a profile without "Out" writes NoName.xml in the working folder, a
// profile that comes twice keeps only its last part, and the answers before
// the first profile line go to the general file, which is not written when
// there are none.
TEST(Output, OneFilePerProfile) {
    struct Case {
        std::vector<std::string> lines;
        std::vector<std::pair<std::string, std::string>> hold;  // file, a value line in it
        std::vector<std::pair<std::string, std::string>> lack;  // file, a value line not in it
        std::vector<std::string> absent;
    };
    TempFolder folder, working;
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\n"));
    const std::string general = folder / "NoName.xml", own = folder / "linea1.xml",
                      unnamed = working / "NoName.xml";
    const std::string profiles = "[Serial_1]\nCOM=1\nSettings=9600,N,8,1\nOut=" + own +
                                 "\n[Serial_2]\nCOM=1\nSettings=9600,N,8,1\n";
    for (const Case& c : {
             Case{{"SERIAL_1", "0,0,prima,0;Parte", "SERIAL_2", "0,0,231.0,0;Vac", "SERIAL_1",
                   "0,0,seconda,0;Parte"},
                  {{own, "<Parte>seconda</Parte>"}, {unnamed, "<Vac>231.0</Vac>"}},
                  {{own, "prima"}, {unnamed, "Parte"}},
                  {general}},
             Case{{"0,0,Roof A,0;Impianto", "SERIAL_1", "0,0,uno,0;Parte"},
                  {{general, "<Impianto>Roof A</Impianto>"}, {own, "<Parte>uno</Parte>"}},
                  {{general, "Parte"}, {own, "Impianto"}},
                  {unnamed}},
         }) {
        SCOPED_TRACE(c.lines.front());
        for (const auto& file : {general, own, unnamed}) fs::remove(file);
        WriteSettings(folder, Port(sim.link()) + profiles + Requests(c.lines));
        Headless headless;
        EXPECT_EQ(headless.run(folder, {"--cycles", "1"}, working.path().string()), 0);
        for (const auto& [file, part] : c.hold) {
            const std::string text = ReadFile(file);
            EXPECT_TRUE(IsWholeDocument(text) && Contains(text, "      " + part + "\r\n"))
                << file << ":\n" << text;
        }
        for (const auto& [file, part] : c.lack) EXPECT_FALSE(Contains(ReadFile(file), part));
        for (const auto& file : c.absent) EXPECT_FALSE(fs::exists(file)) << file;
    }
}

// A reader polling the output file never finds it half written. With "Kill"
// on it finds no file for a moment, since the old file goes first; with
// "Kill" off the file is always there.
TEST(Output, APollingReaderNeverSeesAPartialFile) {
    for (bool kill : {true, false}) {
        SCOPED_TRACE(kill ? "Kill=yes" : "Kill=0");
        TempFolder folder;
        SimProcess sim;
        ASSERT_TRUE(sim.start("node 1\ninput 12 live:voltage\n"));
        const int cycles = kill ? 3 : 500;
        WriteSettings(folder, Port(sim.link()) + Requests({"1,4,12,1;Vac"}, kill ? 200 : 1) +
                                  "[Export]\nKill=" + (kill ? "yes" : "0") + "\n");
        const std::string output = folder / "NoName.xml";
        WriteFile(output, "old content\r\n");

        Headless headless;
        ASSERT_TRUE(headless.start(folder, {"--cycles", std::to_string(cycles)}));
        std::atomic<bool> done = false;
        long reads = 0, absent = 0, partial = 0;
        std::string firstPartial;
        std::set<std::string> seen;
        std::thread reader([&] {
            for (; !done; ++reads) {
                auto text = TryReadFile(output);
                if (!text) {
                    ++absent;
                } else if (*text != "old content\r\n" && !IsWholeDocument(*text)) {
                    if (partial++ == 0) firstPartial = *text;
                } else if (seen.size() < 1000) {
                    seen.insert(*text);
                }
            }
        });
        const auto code = headless.process.waitExit(60s);
        done = true;
        reader.join();

        EXPECT_EQ(code, 0);
        EXPECT_EQ(headless.cycles().size(), std::size_t(cycles));
        EXPECT_GT(reads, cycles);
        EXPECT_EQ(partial, 0) << "the first partial read:\n" << firstPartial;
        if (kill) {
            EXPECT_GT(absent, 0) << "the file was never deleted";
        } else {
            EXPECT_EQ(absent, 0);
            EXPECT_GT(seen.size(), 10u) << "the reader did not see the file change";
        }
        EXPECT_TRUE(Contains(ReadFile(output), "      <Vac>2")) << ReadFile(output);
    }
}

bool IsTx(const std::string& line) { return line.starts_with("TX "); }

// A stop signal while a slow device has not answered yet: the answer is
// kept, the line after it is not executed, the output holds what was read
// and the run ends with 0.
TEST(StopSignal, DuringARequestKeepsItsAnswer) {
    for (int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(number);
        TempFolder folder;
        SimProcess sim;
        ASSERT_TRUE(
            sim.start("node 1\ninput 12 2301\ninput 14 1520\ninput 16 7\n"
                      "fault 1 input 14 delay 1500\n"));
        WriteSettings(folder, Port(sim.link(), 3000) +
                                  Requests({"1,4,12,1;Vac", "1,4,14,0;Pac", "1,4,16,0;Terza"}));
        Headless headless;
        ASSERT_TRUE(headless.start(folder, {"--monitor"}));

        std::size_t first = 0;
        ASSERT_TRUE(headless.process.waitForLine(Stream::Out, IsTx, 10s, 0, &first));
        ASSERT_TRUE(headless.process.waitForLine(Stream::Out, IsTx, 5s, first + 1));
        std::this_thread::sleep_for(200ms);  // the request for Pac is on its way
        ASSERT_TRUE(headless.process.signal(number));

        EXPECT_EQ(headless.process.waitExit(10s), 0);
        EXPECT_EQ(headless.cycles(),
                  std::vector<std::string>{"Ciclo 1: righe eseguite 2, letture fallite 0, durata N "
                                           "ms, file scritti: " + folder / "NoName.xml"});
        EXPECT_EQ(headless.count(Stream::Out, "TX "), 2);
        const std::string text = ReadFile(folder / "NoName.xml");
        EXPECT_TRUE(IsWholeDocument(text) && Contains(text, "      <Pac>1520</Pac>\r\n") &&
                    !Contains(text, "Terza"))
            << text;
    }
}

// A missing output folder, or a file where the folder should be: each cycle
// reports the failed write and goes on, until the folder is there.
TEST(OutputFolderFault, ReportedAndRetriedEachCycle) {
    for (bool parentIsFile : {false, true}) {
        SCOPED_TRACE(parentIsFile ? "a file in the way" : "missing folder");
        TempFolder folder;
        SimProcess sim;
        ASSERT_TRUE(sim.start("node 1\ninput 12 2301\n"));
        const fs::path parent = folder.path() / "uscita";
        const std::string output = (parent / "dati.xml").string();
        if (parentIsFile) WriteFile(parent, "not a folder\n");
        WriteSettings(folder, Port(sim.link()) + Requests({"1,4,12,1;Vac"}, 100) +
                                  "[Export]\nOut=" + output + "\n");
        Headless headless;
        ASSERT_TRUE(headless.start(folder));

        auto isError = [&](const std::string& line) {
            return line.starts_with("Errore di scrittura: " + output + ": ");
        };
        std::size_t first = 0;
        ASSERT_TRUE(headless.process.waitForLine(Stream::Err, isError, 10s, 0, &first));
        ASSERT_TRUE(headless.process.waitForLine(Stream::Err, isError, 5s, first + 1))
            << "the next cycle did not try again";
        ASSERT_FALSE(headless.cycles().empty());
        EXPECT_TRUE(headless.cycles()[0].ends_with(", file scritti: -")) << headless.cycles()[0];
        EXPECT_TRUE(headless.process.running());
        if (parentIsFile) {
            EXPECT_EQ(ReadFile(parent), "not a folder\n");
            fs::remove(parent);
        }

        fs::create_directory(parent);
        EXPECT_TRUE(Eventually([&] { return IsWholeDocument(ReadFile(output)); }, 5s));
        EXPECT_TRUE(Contains(ReadFile(output), "      <Vac>230.1</Vac>\r\n"));
    }
}

// --check prints one record a line and the problems it finds without the
// port, and leaves the settings usable: exit code 0.
TEST(CheckOption, RecordsThenWarnings) {
    TempFolder folder;
    WriteSettings(folder, Port(folder / "no-port-here") +
                              "[General]\nTitle=Impianto\n[Serial_1]\nCOM=1\nSettings=9600,N,8,1\n" +
                              Requests({"SERIAL_1", "1,4,12,1;Vac", "SLEEP 250", "REM not a line",
                                        "NEXT", "0,0,Roof A,0;Impianto", "1,5,0,0;Bobina",
                                        "1,3,12,0;Bad Name", "1,3,40000,0;Alto", "SERIAL_7",
                                        "1,3,&100+,0;Energia", "0,0,x,0;1st", "1,3,4;A"},
                                       2000));
    Headless headless;
    EXPECT_EQ(headless.run(folder, {"--check"}), 0);
    // The records of the first lines, and every warning.
    const auto out = headless.process.lines(Stream::Out);
    std::vector<std::string> shown(out.begin(), out.begin() + std::min<std::size_t>(7, out.size()));
    for (const auto& line : out)
        if (line.starts_with("warning\t")) shown.push_back(line);
    EXPECT_EQ(shown, (std::vector<std::string>{
                       "caption\tTarvel [Impianto]",
                       "interval\t2000",
                       "line\t0\tserial\t*\t1\t*\t*\tSerial settings",
                       "line\t1\tread\t1\t4\t12\t1\tVac",
                       "line\t2\twait\t#\t250\t*\t*\tWait",
                       "line\t3\tnext\t%\t*\t*\t*\tNext device",
                       "line\t4\tconstant\t0\t0\tRoof A\t0\tImpianto",
                       "warning\triga 5: codice funzione 5 non supportato (1-4)",
                       "warning\triga 6: descrizione \"Bad Name\" non valida come nome XML",
                       "warning\triga 7: registro fuori dall'intervallo a 16 bit",
                       "warning\tprofilo Serial_7: Errore nell'impostazione della porta seriale. "
                       "([Serial_7] COM: chiave mancante o vuota)",
                       "warning\triga 10: descrizione \"1st\" non valida come nome XML",
                       "warning\triga 11: riga incompleta: servono tre virgole e un punto e virgola",
                   }));
}

// The exit codes of a run that cannot start or cannot go on, each after its
// one message: 1 for bad arguments, 2 for unusable settings (with --check or
// without), 3 for a serial profile that cannot be set up, at the start or
// when the request list switches to it.
TEST(ExitCode, WhenTheRunCannotStartOrGoOn) {
    struct Case {
        const char* name;
        std::string settings;  // empty: no settings file
        std::vector<std::string> arguments;
        int code;
        std::string message;
        std::size_t cycles = 0;  // the lines on standard output, each a cycle line
    };
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\n"));
    const std::string noPort = Port("/nonexistent/tty");
    const std::string bad = "Impostazioni errate nel file Tarvel.INI";
    for (const Case& c : {
             Case{"bad argument", noPort, {"--cycles", "0"}, 1, "Usage: tarvel-headless"},
             Case{"no settings file", "", {"--check"}, 2, bad},
             Case{"Firt 0", noPort + "[Parameters]\nFirt=0\nLast=1\n001=0,0,1,0;A\n", {"--check"}, 2, bad},
             Case{"Last a word", noPort + "[Parameters]\nFirt=1\nLast=x\n001=0,0,1,0;A\n", {}, 2, bad},
             Case{"profile 0", noPort + Requests({"0,0,1,0;A"}), {}, 3,
                  "Errore nell'impostazione della porta seriale."},
             Case{"profile 7", Port(sim.link()) + Requests({"0,0,1,0;A", "SERIAL_7"}), {}, 3,
                  "Acquisizione fermata: profilo seriale non applicabile", 1},
         }) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        if (!c.settings.empty()) WriteSettings(folder, c.settings);
        Headless headless;
        EXPECT_EQ(headless.run(folder, c.arguments), c.code);
        EXPECT_EQ(headless.count(Stream::Err, c.message), 1)
            << testing::PrintToString(headless.process.lines(Stream::Err));
        EXPECT_EQ(headless.process.lines(Stream::Out).size(), c.cycles);
        EXPECT_EQ(headless.cycles().size(), c.cycles);
    }
}

}  // namespace
}  // namespace tarvel::test
