// tarvel-headless against tarvel-sim, each a process of its own: a worked
// example of the output file and the cycle line, a running logger that
// follows its settings file, a stop signal during a wait line, the CSV
// export, --check, the exit codes and the installed copy's first start. Block reads:
// FastCycle.BlockReadsGroupLinesAndGiveTheOutputOfSingleReads and
// BlockSim.BlocksOfEveryTableMatchReadsOfOneItem.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "Headless.h"
#include "SqliteTool.h"

namespace tarvel::test {
namespace {

namespace fs = std::filesystem;

// The worked example: a scaled value, a 32-bit value, a value the device
// marks as missing ("no value", counted apart from the failed reads), a
// constant and a device that does not answer; an empty encoding setting
// means UTF-8. The running logger reads its settings at every cycle: the
// encoding set next is in the next file, and a value that is no encoding
// name gives UTF-8 (that the start refuses it:
// Headless.SettingsRefusedInTheRunAsInTheCheck). A stop signal between two
// cycles ends the run with 0. Relative names (the output, the [History]
// File) are in the program folder, whatever the working folder (the
// history's rows: History.OneRowPerValueOfEachCycle).
TEST(Headless, WorkedExampleThenTheSettingsOfEachCycle) {
    TempFolder folder, working;
    SimProcess sim;
    ASSERT_TRUE(
        sim.start("node 1\ninput 12 0x08FD\ninput 13 novalue:int16\nholding 100 0x0001\n"
                  "holding 101 0x0000\nfault 2 silent\n"));
    // Units change neither the output nor the cycle line.
    const std::vector<std::string> lines{"1,4,12,1;Vac;V", "1,3,100+&,0;Energia;kWh",
                                         "1,4,13N,0;Pac",  "0,0,Roof A,0;Impianto;",
                                         "NEXT",           "2,4,12,1;Vac"};
    const std::string history = "[History]\nFile=storico.db\n";
    // A history made before units had a column of their own.
    ASSERT_EQ(Sqlite(folder / "storico.db",
                     HistoryTable + "INSERT INTO history VALUES (strftime('%Y-%m-%dT%H:%M:%fZ', "
                                    "'now'), 1, 1, 'Vac', 229.8, 0);"),
              "");
    WriteSettings(folder, Settings(sim.link(), lines, history + "[XML]\nEncoding=\n", 200));
    Headless headless;
    ASSERT_TRUE(headless.start(folder, {}, working.path().string()));
    ASSERT_TRUE(Eventually([&] { return !headless.cycles().empty(); }, 10s));

    EXPECT_EQ(headless.cycles()[0],
              "Ciclo 1: righe eseguite 6, letture fallite 1, senza valore 1, durata N ms, "
              "file scritti: " +
                  folder / "NoName.xml");
    const std::string worked =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n  <Dispositivi>\r\n\r\n"
        "    <Dispositivo>\r\n      <Vac>230.1</Vac>\r\n      <Energia>65536</Energia>\r\n"
        "      <Pac></Pac>\r\n      <Impianto>Roof A</Impianto>\r\n    </Dispositivo>\r\n\r\n"
        "    <Dispositivo>\r\n      <Vac></Vac>\r\n    </Dispositivo>\r\n\r\n  </Dispositivi>\r\n";
    EXPECT_EQ(ReadFile(folder / "NoName.xml"), worked);

    WriteSettings(folder,
                  Settings(sim.link(), lines, history + "[XML]\nEncoding=ISO-8859-15\n", 200));
    const std::string declared = std::regex_replace(worked, std::regex("UTF-8"), "ISO-8859-15");
    EXPECT_TRUE(Eventually([&] { return ReadFile(folder / "NoName.xml") == declared; }, 5s))
        << ReadFile(folder / "NoName.xml");
    WriteSettings(folder, Settings(sim.link(), lines,
                                   history + "[XML]\nEncoding=UTF-8\"?><!DOCTYPE x><?x \"\n", 200));
    EXPECT_TRUE(Eventually([&] { return ReadFile(folder / "NoName.xml") == worked; }, 5s))
        << ReadFile(folder / "NoName.xml");
    ASSERT_TRUE(headless.process.signal(SIGTERM));
    EXPECT_EQ(headless.process.waitExit(10s), 0);
    EXPECT_EQ(working.entries(), 0u);
    // The old file took the unit column: its row has none, each new row its
    // line's unit, and the export names the unit in the header.
    EXPECT_EQ(Sqlite(folder / "storico.db",
                     "SELECT rowid = 1, line, name, quote(unit) FROM history WHERE cycle = 1 "
                     "ORDER BY rowid > 1, line;"),
              "1|0|Vac|NULL\n0|0|Vac|'V'\n0|1|Energia|'kWh'\n0|2|Pac|NULL\n0|3|Impianto|NULL\n"
              "0|5|Vac|NULL\n");
    Headless exporter;
    EXPECT_EQ(exporter.run(folder, {"--export-csv", "Vac,Pac,Energia,Impianto"}), 0);
    const auto csv = exporter.process.lines(Stream::Out);
    EXPECT_EQ(csv.empty() ? "" : csv[0], "time,Vac [V],Pac,Energia [kWh],Impianto");
}

// Fast and slow groups: the group of EVERY 3600000 is read in the first
// cycle only (its request, CRC by hand, goes out once), the group of EVERY 1
// in every cycle, and the lines after a bad EVERY too, which the run and
// --check report alike. The XML keeps the slow value; the history of the
// second cycle lacks it. --stats gives the port's part of each cycle and
// the share of it that its bytes took: 4 and then 3 reads of 8 + 7 bytes at
// 10 bits a character, 62.5 and 46.875 ms at 9600 baud.
TEST(Headless, ASlowGroupIsReadInTheFirstCycleAndKeptInTheOutput) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 0x08FD\ninput 13 7\ninput 14 9\n"));
    WriteSettings(folder, Settings(sim.link(),
                                   {"1,4,12,1;Vac", "EVERY 3600000", "1,4,13,0;Slow", "EVERY 1",
                                    "1,4,14,0;Fast", "every 1e3", "1,4,14,0;Fast2"},
                                   "[History]\nFile=storico.db\n", 50));
    Headless headless;
    EXPECT_EQ(headless.run(folder, {"--cycles", "2", "--monitor", "--stats"}), 0);
    const auto ports = headless.lines(Stream::Out, "port\t");
    ASSERT_EQ(ports.size(), 2u);
    for (std::size_t c = 0; c < 2; ++c) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(ports[c], m, std::regex("port\tCOM1\t([0-9]+)\t([0-9.]+)")));
        // The share is of the exact time, which the record writes in whole
        // milliseconds.
        const double onLine = c == 0 ? 62.5 : 46.875, ms = std::stod(m[1]);
        EXPECT_GE(std::stod(m[2]), 100 * onLine / (ms + 1) - 0.051) << ports[c];
        EXPECT_LE(std::stod(m[2]), 100 * onLine / ms + 0.051) << ports[c];
    }
    const auto tx = headless.lines(Stream::Out, "TX ");
    EXPECT_EQ(std::count(tx.begin(), tx.end(), "TX 01 04 00 0D 00 01 A0 09"), 1);
    EXPECT_EQ(tx.size(), 7u);
    EXPECT_EQ(headless.cycles(),
              (std::vector<std::string>{
                  "Ciclo 1: righe eseguite 7, letture fallite 0, senza valore 0, durata N ms, "
                  "file scritti: " + folder / "NoName.xml",
                  "Ciclo 2: righe eseguite 6, letture fallite 0, senza valore 0, durata N ms, "
                  "file scritti: " + folder / "NoName.xml"}));
    EXPECT_EQ(ReadFile(folder / "NoName.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n  <Dispositivi>\r\n\r\n"
              "    <Dispositivo>\r\n      <Vac>230.1</Vac>\r\n      <Slow>7</Slow>\r\n"
              "      <Fast>9</Fast>\r\n      <Fast2>9</Fast2>\r\n    </Dispositivo>\r\n\r\n"
              "  </Dispositivi>\r\n");
    EXPECT_EQ(Sqlite(folder / "storico.db",
                     "SELECT cycle, name FROM history ORDER BY cycle, line;"),
              "1|Vac\n1|Slow\n1|Fast\n1|Fast2\n2|Vac\n2|Fast\n2|Fast2\n");
    const std::string problem =
        "riga 5: EVERY: valore non valido \"1e3\" (da 0 a 86400000 ms): le righe che seguono "
        "si leggono a ogni ciclo";
    EXPECT_EQ(headless.lines(Stream::Err, "Avviso: "), std::vector<std::string>{"Avviso: " + problem});
    Headless check;
    EXPECT_EQ(check.run(folder, {"--check"}), 1);
    EXPECT_EQ(check.lines(Stream::Out, "warning"), std::vector<std::string>{"warning\t" + problem});
}

// 99999 is a number like any other: a true reading of it, of any type and
// scale, is written as the number in the output and the history and is no
// failed read (registers as Python's struct packs them: int32 99999, uint32
// 9999900 with 2 decimals, float32 99999.0, int64 99999); a read that fails
// stays empty and NULL.
TEST(Headless, ATrueReadingOf99999IsANumber) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(
        sim.start("node 1\nholding 0 0x0001\nholding 1 0x869F\nholding 2 0x0098\nholding 3 0x961C\n"
                  "holding 4 0x47C3\nholding 5 0x4F80\nholding 6 0\nholding 7 0\nholding 8 0x0001\n"
                  "holding 9 0x869F\nfault 2 silent\n"));
    WriteSettings(folder, Settings(sim.link(),
                                   {"1,3,0+,0;I32", "1,3,2+&,2;U32", "1,3,4F,0;F32", "1,3,6Q,0;I64",
                                    "2,3,0+,0;Muto"},
                                   "[History]\nFile=storico.db\n", 200));
    Headless headless;
    ASSERT_EQ(headless.run(folder, {"--cycles", "1"}), 0);
    EXPECT_EQ(headless.cycles(),
              std::vector<std::string>{"Ciclo 1: righe eseguite 5, letture fallite 1, senza "
                                       "valore 0, durata N ms, file scritti: " +
                                       folder / "NoName.xml"});
    EXPECT_EQ(ReadFile(folder / "NoName.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n  <Dispositivi>\r\n\r\n"
              "    <Dispositivo>\r\n      <I32>99999</I32>\r\n      <U32>99999</U32>\r\n"
              "      <F32>99999</F32>\r\n      <I64>99999</I64>\r\n      <Muto></Muto>\r\n"
              "    </Dispositivo>\r\n\r\n  </Dispositivi>\r\n");
    EXPECT_EQ(Sqlite(folder / "storico.db", "SELECT name, value FROM history ORDER BY line;"),
              "I32|99999.0\nU32|99999.0\nF32|99999.0\nI64|99999.0\nMuto|\n");
}

// A stop signal ends a running wait line at once: the next line is not
// run, the output is written and the run ends with 0. (A stop during a
// request, whose line answers as when it fails:
// FastCycle.AStopThatMustNotWaitEndsTheRunningRequestAtOnce.) A reader of
// standard output that goes away does not end the run: the cycles go on and
// the run ends as asked.
TEST(Headless, AStopSignalEndsAWaitAndAClosedOutputOnlyThePrinting) {
    const std::string oneValue =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n  <Dispositivi>\r\n\r\n"
        "    <Dispositivo>\r\n      <Vac>230.1</Vac>\r\n    </Dispositivo>\r\n\r\n"
        "  </Dispositivi>\r\n";
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 2301\n"));
    TempFolder folder, piped;
    WriteSettings(
        folder, Settings(sim.link(), {"1,4,12,1;Vac", "SLEEP 30000", "1,4,12,1;Terza"}, "", 1000));
    Headless headless;
    ASSERT_TRUE(headless.start(folder, {"--monitor"}));
    ASSERT_TRUE(Eventually([&] { return headless.lines(Stream::Out, "TX ").size() == 1; }, 10s));
    std::this_thread::sleep_for(300ms);  // well inside the wait
    ASSERT_TRUE(headless.process.signal(SIGINT));
    EXPECT_EQ(headless.process.waitExit(10s), 0);  // well inside the wait of 30 s
    EXPECT_EQ(ReadFile(folder / "NoName.xml"), oneValue);
    EXPECT_EQ(headless.cycles(),
              std::vector<std::string>{"Ciclo 1: righe eseguite 2, letture fallite 0, senza "
                                       "valore 0, durata N ms, file scritti: " +
                                       folder / "NoName.xml"});

    WriteSettings(piped, Settings(sim.link(), {"1,4,12,1;Vac"}, "", 1));
    ChildProcess shell;
    ASSERT_TRUE(shell.start("/bin/bash",
                            {"-c",
                             "\"$0\" --folder \"$1\" --cycles 20 --monitor | head -1 >/dev/null;"
                             " exit ${PIPESTATUS[0]}",
                             ProgramBeside("tarvel-headless"), piped.path().string()}));
    EXPECT_EQ(shell.waitExit(30s), 0);
    EXPECT_EQ(ReadFile(piped / "NoName.xml"), oneValue);
}

// A device that answers every second read of B 2.3 time-outs late and
// every request 20 ms after its turn, on a pseudo-terminal (time-out 300 ms;
// it refuses the fences with exception 1) and behind a serial device server
// (RTU frames over TCP, time-out 500 ms; it echoes them), both runs at once:
// in N cycles no line ever has another's value (25 of the 30 reads give
// their own, the old timed guard gave 7 to 9 of another line), and the
// health counts as good exactly the values in the history.
TEST(Headless, ALateAnswerNeverBecomesAnotherLinesValue) {
    constexpr int Cycles = 10;
    struct Run {
        const char* served = "";
        int timeOutMs = 300;
        SimProcess sim;
        TempFolder folder;
        Headless headless;
    } runs[2];
    runs[1].served = "rtu-tcp";
    runs[1].timeOutMs = 500;
    for (Run& r : runs) {
        const bool pty = *r.served == 0;
        const std::string late = std::to_string(r.timeOutMs * 23 / 10);
        ASSERT_TRUE(r.sim.start(
            "node 1\nholding 100 111\nholding 101 222\nholding 102 333\n"
            "fault 1 delay 20\nfault 1 holding 101 every 2 delay " +
                late + (pty ? "\nfault 1 nodiag\n" : "\n"),
            pty ? std::vector<std::string>{} : std::vector<std::string>{"--rtu-tcp", "0"}));
        const std::string device = pty ? r.sim.link() : "tcp://" + r.sim.address(r.served);
        WriteSettings(r.folder, Settings(device, {"1,3,100,0;A", "1,3,101,0;B", "1,3,102,0;C"},
                                         "[History]\nFile=storico.db\n", 1, r.timeOutMs));
        ASSERT_TRUE(r.headless.start(r.folder, {"--cycles", std::to_string(Cycles), "--stats"}));
    }
    for (Run& r : runs) {
        SCOPED_TRACE(*r.served ? r.served : "pty");
        ASSERT_EQ(r.headless.process.waitExit(100s), 0);
        const std::string db = r.folder / "storico.db";
        EXPECT_EQ(Sqlite(db,
                         "SELECT name, value FROM history WHERE value IS NOT NULL AND "
                         "value != 111 + 111 * (name = 'B') + 222 * (name = 'C')"),
                  "");
        const std::string values = Sqlite(db, "SELECT count(value) FROM history");
        const auto stats = r.headless.lines(Stream::Out, "stats\t1\t");
        ASSERT_FALSE(stats.empty());
        // stats, node, requests, good answers, ...
        std::istringstream fields(stats.back());
        std::string field[4];
        for (std::string& f : field) std::getline(fields, f, '\t');
        EXPECT_EQ(field[2], std::to_string(3 * Cycles));
        EXPECT_EQ(field[3] + "\n", values);
    }
}

// Window=4 on Modbus TCP writes the output, the cycle lines and the
// monitor of Window=1 byte for byte: values of several kinds, a line the
// device refuses, a constant and a device between them, a 32-bit value (two
// requests: it ends a run of lines in flight). The simulator's trace shows
// requests out together only with the key (node 1 answers 20 ms late).
TEST(Headless, RequestsInFlightGiveTheOutputOfOneRequestAtATime) {
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 0x08FD\nholding 30 7\ncoil 5 1\nholding 200 0x4366\n"
                          "holding 201 0x8000\nholding 100 0x0001\nholding 101 0x0000\n"
                          "fault 1 holding 30 exception 2\nfault 1 delay 20\n"
                          "node 2\ninput 12 0x0900\n",
                          {"--tcp", "0", "--verbose"}));
    const std::string device = "mbtcp://" + sim.address("tcp");
    const std::vector<std::string> lines{
        "1,4,12,1;Vac", "1,3,30,0;Rifiutato", "1,1,5,0;Stato",    "1,3,200F,0;Freq",
        "0,0,Roof A,0;Impianto", "NEXT",     "2,4,12,1;Vac",      "1,3,100+&,0;Energia",
        "2,4,12,0;Grezzo"};
    TempFolder folder;
    std::string xml[2], together[2];
    std::vector<std::string> out[2];
    for (int run : {0, 1}) {
        WriteSettings(folder, Settings(device, lines, run ? "Pause=0\nWindow=4\n" : "Pause=0\n"));
        const std::size_t traced = sim.process().lines(Stream::Err).size();
        Headless headless;
        ASSERT_EQ(headless.run(folder, {"--cycles", "2", "--monitor"}), 0);
        xml[run] = ReadFile(folder / "NoName.xml");
        out[run] = headless.lines(Stream::Out);
        // Requests (r) and answers (t) in the order the simulator met them.
        const auto trace = sim.process().lines(Stream::Err);
        for (std::size_t i = traced; i < trace.size(); ++i)
            if (trace[i].find(" rx ") != std::string::npos || trace[i].find(" tx ") != std::string::npos)
                together[run] += trace[i].find(" rx ") != std::string::npos ? 'r' : 't';
    }
    EXPECT_EQ(xml[1], xml[0]);
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(together[0].find("rr"), std::string::npos) << together[0];
    EXPECT_NE(together[1].find("rrr"), std::string::npos) << together[1];
    for (const char* value : {"<Vac>230.1</Vac>", "<Rifiutato></Rifiutato>", "<Stato>1</Stato>",
                              "<Freq>230.5</Freq>", "<Vac>230.4</Vac>", "<Energia>65536</Energia>",
                              "<Grezzo>2304</Grezzo>"})
        EXPECT_NE(xml[0].find(value), std::string::npos) << value << "\n" << xml[0];
}

// The CSV export of a database made with the sqlite3 tool: rows in time
// order whatever their order in the table, an empty cell for a failed read
// or a name the cycle lacks, texts quoted when they hold a comma or a
// quote, --from inclusive and --to exclusive; a bad time, or a time that no
// calendar has, is a bad argument (a missing [History] File:
// Headless.ExitCodesAndMessages).
TEST(Headless, CsvExportOfAPreparedHistory) {
    TempFolder folder;
    // The seconds of each row's time, completed by the last statement.
    ASSERT_EQ(
        Sqlite(folder / "storico.db",
               HistoryTable +
                   "INSERT INTO history VALUES ('02.000', 2, 1, 'Vac', 229.8, 0),"
                   "('02.000', 2, 1, 'Pac', NULL, 1), ('02.000', 2, 2, 'Nome', 'Tetto, est', 2),"
                   "('01.000', 1, 1, 'Vac', 230.1, 0), ('01.000', 1, 1, 'Pac', 1520, 1),"
                   "('03.500', 3, 2, 'Vac', 231, 3), ('03.500', 3, 1, 'Vac', 0.5, 0),"
                   "('03.500', 3, 1, 'Nome', 'a \"b\"', 2);"
                   "UPDATE history SET time = '2026-12-07T10:00:' || time || 'Z';"),
        "");
    // The arguments after --export-csv, the exit code, and the output or
    // the error's first line.
    using E = std::tuple<std::vector<std::string>, int, std::string>;
    // clang-format off
    const E cases[] = {
        {{"Vac,Pac,Nome"}, 0, "time,Vac,Pac,Nome\n2026-12-07T10:00:01.000Z,230.1,1520,\n"
                              "2026-12-07T10:00:02.000Z,229.8,,\"Tetto, est\"\n"
                              "2026-12-07T10:00:03.500Z,0.5,,\"a \"\"b\"\"\"\n"},
        // Vac has a row at the --to time itself, which is left out.
        {{"Pac,Vac", "--from", "2026-12-07 10:00:02", "--to", "2026-12-07T10:00:03.500Z"}, 0,
         "time,Pac,Vac\n2026-12-07T10:00:02.000Z,,229.8\n"},
        // A leap day is a day; no output for a bad argument, and the
        // first line of the error names it.
        {{"Vac", "--from", "2024-02-29T23:59:59.999"}, 0, "time,Vac\n2026-12-07T10:00:01.000Z,"
         "230.1\n2026-12-07T10:00:02.000Z,229.8\n2026-12-07T10:00:03.500Z,0.5\n"},
        {{"Vac", "--from", "ieri"}, 2, "per --from: ieri"},
        {{"Vac", "--from", "2026-13-45"}, 2, "per --from: 2026-13-45"},
        {{"Vac", "--to", "2026-02-30"}, 2, "per --to: 2026-02-30"},
        {{"Vac", "--to", "2025-02-29 12:00"}, 2, "per --to: 2025-02-29 12:00"},
        {{"Vac", "--from", "2026-01-01T25:61:99"}, 2, "per --from: 2026-01-01T25:61:99"},
        {{"Vac", "--to", "2026-01-01T23:59:60Z"}, 2, "per --to: 2026-01-01T23:59:60Z"},
        {{"Vac,"}, 2, "nomi non validi per --export-csv: Vac,"}};
    // clang-format on
    WriteSettings(folder, "[History]\nFile=storico.db\n");
    for (auto [arguments, code, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        arguments.insert(arguments.begin(), "--export-csv");
        Headless headless;
        EXPECT_EQ(headless.run(folder, arguments), code);
        std::string out;  // a last line without its line end is left out
        for (const auto& line : headless.process.lines(Stream::Out)) out += line + "\n";
        EXPECT_EQ(out, code == 0 ? expected : "");
        const auto err = headless.lines(Stream::Err);
        const std::string bad = expected.starts_with("per") ? "tempo non valido " : "";
        if (code != 0) {
            EXPECT_EQ(err.empty() ? "" : err[0], "tarvel-headless: " + bad + expected);
        }
    }
}

// --check prints one record a line and the problems it finds without the
// port, and leaves the settings usable: exit code 1. A warning of each
// kind: a profile, a field of one line, request lines the list does not
// read (before Firt, after Last, a key spelled otherwise), a name two lines
// share (the names an element may have: Check.ElementNames); a line's unit
// at the end of its record, one with a control character refused. The cycle
// record, by hand: Serial_1 cannot be applied, profile 0 stays; 7 pauses of
// 200 ms and the wait of 250; 4 requests (the 32-bit value takes two) of 8
// bytes with 7-byte answers at 10 bits a character and 9600 baud, 15.625 ms
// each: 1712.5 ms, 62.5 of them on the line (3.6 %); silent, each request
// 8.333 ms and its 300 ms time-out: 2883.3 ms.
TEST(Headless, CheckPrintsRecordsThenWarnings) {
    TempFolder folder;
    // Profile 0 on a character device anyone may open; profile 1 with line
    // settings that read well but no port takes.
    WriteSettings(folder, Settings("/dev/null",
                                   {"serial_1", "1,4,12,1;Vac;V", "SLEEP 250", "REM not a line",
                                    "Next", "0,0,Roof A,0;Impianto;m\x01", "1,5,0,0;Bobina",
                                    "1,3,&100+,0;Energia", "1,4,13,1;Energia"},
                                   "[General]\nTitle=Impianto\n[Serial_1]\nCOM=1\n"
                                   "Settings=9600,N,8,1.5\n",
                                   2000) +
                              "000=1,4,1,0;Prima\n010=1,4,14,0;Dopo\n0005=1,4,5,0;Cinque\n");
    Headless headless;
    EXPECT_EQ(headless.run(folder, {"--check"}), 1);
    // The file, the header, a record a line, the warnings, the summary.
    // clang-format off
    EXPECT_EQ(headless.process.lines(Stream::Out),
              (std::vector<std::string>{
                  "# " + (folder / "Tarvel.INI"),
                  "# caption TEXT | interval MS | line INDEX KIND NODE FUNCTION REGISTER "
                  "DECIMALS DESCRIPTION [UNIT] | cycle COM BEST_MS WORST_MS BUSY_PERCENT | "
                  "warning TEXT",
                  "caption\tTarvel [Impianto]", "interval\t2000",
                  "line\t0\tserial\t*\t1\t*\t*\tSerial settings", "line\t1\tread\t1\t4\t12\t1\tVac\tV",
                  "line\t2\twait\t#\t250\t*\t*\tWait", "line\t3\tnext\t%\t*\t*\t*\tNext device",
                  "line\t4\tconstant\t0\t0\tRoof A\t0\tImpianto", "line\t5\tread\t1\t5\t0\t0\tBobina",
                  "line\t6\tread\t1\t3\t&100+\t0\tEnergia", "line\t7\tread\t1\t4\t13\t1\tEnergia",
                  "cycle\tCOM1\t1712.5\t2883.3\t3.6",
                  "warning\tprofilo Serial_1: Errore nell'impostazione della porta seriale. "
                  "([Serial_1] Settings: valore non accettato dalla porta \"9600,N,8,1.5\")",
                  "warning\triga 4: unità \"m\\x01\" non valida (caratteri di controllo o \";\"): "
                  "il valore resta senza unità",
                  "warning\triga 5: codice funzione 5 non supportato (1-4)",
                  "warning\t[Parameters] 000: riga fuori da Firt-Last (1-9): non viene eseguita",
                  "warning\t[Parameters] 010: riga fuori da Firt-Last (1-9): non viene eseguita",
                  "warning\t[Parameters] 0005: la riga 5 si scrive 005: non viene eseguita",
                  "warning\triga 7: descrizione \"Energia\" già usata dalla riga 6 dello stesso "
                  "dispositivo",
                  "8 righe, 7 avvisi",
              }));
    // clang-format on
}

// --check warns of a file that holds what others must not read and that
// the group or others may read, and says how to mend it: the settings with
// the broker's password, the journal of the publishing.
TEST(Headless, CheckWarnsOfSecretsOthersMayRead) {
    // The password, the modes of the settings and of the journal, and the
    // warnings (DIR: the program folder).
    using R = std::tuple<std::string, unsigned, unsigned, std::vector<std::string>>;
    const std::string ini =
        "warning\til file DIR/Tarvel.INI contiene [MQTT] Password ed è "
        "leggibile da altri utenti: chmod 600 DIR/Tarvel.INI";
    const std::string journal =
        "warning\til giornale DIR/Tarvel-journal.db è leggibile da altri "
        "utenti: chmod 600 DIR/Tarvel-journal.db";
    for (const auto& [password, iniMode, journalMode, warnings] :
         {R{"s3cret", 0644, 0640, {ini, journal}}, R{"s3cret", 0640, 0600, {ini}},
          R{"", 0644, 0600, {}}, R{"s3cret", 0600, 0600, {}}}) {
        SCOPED_TRACE(testing::Message() << password << " " << std::oct << iniMode);
        TempFolder folder;
        WriteSettings(folder, Settings("/dev/null", {"1,3,0,0;A"},
                                       "[MQTT]\nHost=127.0.0.1\nPassword=" + password + "\n"));
        WriteFile(folder / "Tarvel-journal.db", "");
        fs::permissions(folder / "Tarvel.INI", static_cast<fs::perms>(iniMode));
        fs::permissions(folder / "Tarvel-journal.db", static_cast<fs::perms>(journalMode));
        Headless check;
        EXPECT_EQ(check.run(folder, {"--check"}), warnings.empty() ? 0 : 1);
        std::vector<std::string> expected;
        for (const auto& w : warnings)
            expected.push_back(std::regex_replace(w, std::regex("DIR"), folder.path().string()));
        EXPECT_EQ(check.lines(Stream::Out, "warning\t"), expected);
        EXPECT_EQ(check.lines(Stream::Out).back(),
                  "1 riga, " + std::to_string(warnings.size()) +
                      (warnings.size() == 1 ? " avviso" : " avvisi"));
    }
}

// How a run ends, after its message and the line that names its cause
// (DIR: the program folder): a failed write of the output is reported at
// each cycle and the run goes on (0); 2 for bad arguments (an unknown
// option is named) and for unusable settings
// (with --check or without: --check names the file first), 3 for a serial
// profile that cannot be set up, at the start or when the request list
// switches to it. --export-csv without a [History] File has nothing to read. (--check's exit
// codes: Headless.CheckWarnsOfSecretsOthersMayRead, 0 when it finds nothing, and
// Headless.SettingsRefusedInTheRunAsInTheCheck, 3 when profile 0 would fail.) A refused connection:
// NetworkPort.ARefusedConnectionAndASilentServer; a bad line range:
// StartupTest.FailedStartUpsEndTheProgram.
TEST(Headless, ExitCodesAndMessages) {
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\n"));
    const std::string bad = "Tarvel: Impostazioni errate nel file Tarvel.INI";
    const std::string writeError =
        "Errore di scrittura: /nonexistent/dati.xml: cannot create a temporary file in "
        "/nonexistent: " +
        std::string(std::strerror(ENOENT));
    std::string utf16 = "\xFF\xFE";
    for (const char byte : Settings(sim.link(), {"0,0,1,0;A"})) utf16 += std::string{byte, '\0'};
    const std::string portError = "Tarvel: Errore nell'impostazione della porta seriale.";
    const std::string cycle = ", letture fallite 0, senza valore 0, durata N ms, file scritti: ";
    const std::string parallel =
        "DIR/Tarvel.INI: [Parameters] Parallel: valore non valido \"yes\" (0 o 1)";
    // The settings (empty: no settings file; "/": a folder; "@": a loop of
    // links), the arguments, the exit code, the first lines of standard
    // error and the lines of standard output.
    using V = std::vector<std::string>;
    const std::tuple<std::string, V, int, V, V> cases[] = {
        // clang-format off
        {Settings(sim.link(), {"0,0,1,0;A"}, "[Export]\nOut=/nonexistent/dati.xml\n"),
         {"--cycles", "2"}, 0, {writeError, writeError},
         {"Ciclo 1: righe eseguite 1" + cycle + "-", "Ciclo 2: righe eseguite 1" + cycle + "-"}},
        {"", {"--cycles", "0"}, 2, {"tarvel-headless: valore non valido per --cycles: 0"}, {}},
        {"", {"--folder"}, 2, {"tarvel-headless: valore mancante per --folder"}, {}},
        {"", {"--bogus"}, 2, {"tarvel-headless: opzione sconosciuta: --bogus"}, {}},
        {"", {"--check"}, 2, {bad, "il file DIR/Tarvel.INI non esiste"}, {"# DIR/Tarvel.INI"}},
        {"/", {}, 2, {bad, "DIR/Tarvel.INI è una cartella, non un file"}, {}},
        {"@", {}, 2, {bad, "impossibile leggere il file DIR/Tarvel.INI (" +
                      std::string(std::strerror(ELOOP)) + ")"}, {}},
        {utf16, {"--check"}, 2,
         {bad, "il file DIR/Tarvel.INI è in UTF-16: salvarlo come UTF-8 o ANSI"},
         {"# DIR/Tarvel.INI"}},
        {Settings("/nonexistent/tty", {"0,0,1,0;A"}), {}, 3,
         {portError, "[Serial_0] COM 1: il dispositivo /nonexistent/tty non esiste"}, {}},
        {Settings("tcp://gw", {"0,0,1,0;A"}), {}, 3, {portError, "[Serial_0] COM: valore non "
         "accettato dalla porta \"1\" (tcp://gw: port number 1 to 65535 missing or wrong)"}, {}},
        {Settings(sim.link(), {"0,0,1,0;A", "SERIAL_7"}), {}, 3,
         {portError, "[Serial_7] COM: chiave mancante o vuota",
          "Acquisizione fermata: profilo seriale non applicabile"},
         {"Ciclo 1: righe eseguite 2" + cycle + "DIR/NoName.xml"}},
        // The same with the ports in parallel.
        {Settings(sim.link(), {"0,0,1,0;A", "SERIAL_7", "0,0,2,0;B"}) + "Parallel=1\n", {}, 3,
         {portError, "[Serial_7] COM: chiave mancante o vuota",
          "Acquisizione fermata: profilo seriale non applicabile"},
         {"Ciclo 1: righe eseguite 2" + cycle + "DIR/NoName.xml"}},
        {Settings(sim.link(), {"0,0,1,0;A"}) + "Parallel=yes\n", {}, 2, {bad, parallel}, {}},
        {Settings(sim.link(), {"0,0,1,0;A"}) + "Parallel=2\n", {"--check"}, 2,
         {bad, "DIR/Tarvel.INI: [Parameters] Parallel: valore non valido \"2\" (0 o 1)"},
         {"# DIR/Tarvel.INI"}},
        {"[History]\nFile=\n", {"--export-csv", "Vac"}, 2,
         {"Tarvel: Impossibile leggere lo storico", "[History] File: chiave mancante o vuota"}, {}}};
    // clang-format on
    for (const auto& [settings, arguments, code, err, out] : cases) {
        SCOPED_TRACE(testing::PrintToString(err));
        TempFolder folder;
        if (settings == "/")
            fs::create_directory(folder / "Tarvel.INI");
        else if (settings == "@")
            fs::create_symlink("Tarvel.INI", folder / "Tarvel.INI");
        else if (!settings.empty())
            WriteSettings(folder, settings);
        Headless headless;
        EXPECT_EQ(headless.run(folder, arguments), code);
        const auto dir = [&](std::vector<std::string> lines) {
            for (auto& line : lines)
                line = std::regex_replace(line, std::regex("DIR"), folder.path().string());
            return lines;
        };
        auto got = headless.lines(Stream::Err);
        got.resize(std::min(got.size(), err.size()));
        EXPECT_EQ(got, dir(err));
        EXPECT_EQ(headless.lines(Stream::Out), dir(out));
    }
}

// A key with a bad value in a section of its own refuses the section: the
// runner names the key and its value and exits 2 before any cycle, and
// --check prints the same message, the cause as a warning, and exits 2. A
// bad optional key of profile 0 fails the profile: 3 for both. The history
// holds rows of today and one older than any bound: a refused Days deletes
// nothing. (Every failure of a profile key:
// SerialSetup.EveryFailureCauseShowsOneMessageAndLeavesThePortClosed.) (The desktop program runs
// without the section: StartupTest.ARefusedSectionIsOffAndTheProgramRuns.)
TEST(Headless, SettingsRefusedInTheRunAsInTheCheck) {
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 2301\n"));
    const std::string history = "[History]\nFile=storico.db\n";
    const std::string historyOff =
        "Tarvel: Sezione [History] del file Tarvel.INI non valida: storico non attivo.";
    const std::string mqtt = history + "[MQTT]\nHost=127.0.0.1\n";
    const std::string mqttOff =
        "Tarvel: Sezione [MQTT] del file Tarvel.INI non valida: pubblicazione MQTT non attiva.";
    const std::string portError = "Tarvel: Errore nell'impostazione della porta seriale.";
    // Settings after profile 0's keys, the exit code and the message's lines.
    using R = std::tuple<std::string, int, std::vector<std::string>>;
    // clang-format off
    const R rows[] = {
        {history + "Days=200000\n", 2,
         {historyOff, "[History] Days: valore non valido \"200000\" (da 1 a 36500)"}},
        {history + "Days=12abc\n", 2,
         {historyOff, "[History] Days: valore non valido \"12abc\" (da 1 a 36500)"}},
        {mqtt + "Port=70000\n", 2,
         {mqttOff, "[MQTT] Port: valore non valido \"70000\" (da 1 a 65535)"}},
        {mqtt + "QoS=3\n", 2, {mqttOff, "[MQTT] QoS: valore non valido \"3\" (da 0 a 2)"}},
        {mqtt + "JournalMB=-1\n", 2,
         {mqttOff, "[MQTT] JournalMB: valore non valido \"-1\" (da 1 a 1000000)"}},
        {mqtt + "Topic=plant/#\n", 2,
         {mqttOff, "[MQTT] Topic: valore non valido \"plant/#\" (senza # né +)"}},
        // Latin-1, which no broker takes: publishing would stop at once.
        {mqtt + "Topic=citt\xE0\n", 2,
         {mqttOff, "[MQTT] Topic: valore non valido \"citt\xE0\" (testo UTF-8 senza caratteri "
                   "di controllo)"}},
        {"[XML]\nEncoding=UTF-8\"?><!DOCTYPE x><?x \"\n", 2,
         {"Tarvel: Sezione [XML] del file Tarvel.INI non valida: le uscite dichiarano "
          "l'encoding UTF-8.",
          "[XML] Encoding: valore non valido \"UTF-8\"?><!DOCTYPE x><?x \"\" (lettere, cifre, "
          ". _ - :)"}},
        {"Block=abc\n", 3, {portError, "[Serial_0] Block: valore non valido \"abc\""}},
        {"Pause=20ms\n", 3, {portError, "[Serial_0] Pause: valore non valido \"20ms\""}},
        {"Window=17\n", 3, {portError, "[Serial_0] Window: valore non valido \"17\""}},
        // Only a Modbus TCP answer names its request.
        {"Window=2\n", 3, {portError, "[Serial_0] Window: valore non accettato dalla porta \"2\" "
                                     "(più richieste in attesa solo su mbtcp://)"}},
    };
    // clang-format on
    for (const auto& [more, code, message] : rows) {
        SCOPED_TRACE(message.back());
        TempFolder folder;
        ASSERT_EQ(
            Sqlite(folder / "storico.db",
                   HistoryTable + "INSERT INTO history VALUES (strftime('%Y-%m-%dT%H:%M:%fZ', "
                                  "'now'), 1, 1, 'Vac', 230.1, 0), ('1500-01-01T00:00:00.000Z', "
                                  "1, 1, 'Vac', 1, 0);"),
            "");
        WriteSettings(folder, Settings(sim.link(), {"1,4,12,1;Vac"}, more));
        Headless run, check;
        EXPECT_EQ(run.run(folder, {"--cycles", "1"}), code);
        EXPECT_EQ(run.lines(Stream::Err), message);
        EXPECT_EQ(check.run(folder, {"--check"}), code);
        // A profile 0 that would fail is told once, as --check's warning.
        EXPECT_EQ(check.lines(Stream::Err), code == 3 ? std::vector<std::string>{} : message);
        const auto out = check.lines(Stream::Out, "warning\t");
        EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const std::string& w) {
            return w.find(message.back()) != std::string::npos;
        })) << testing::PrintToString(out);
        EXPECT_EQ(Sqlite(folder / "storico.db", "SELECT count(*) FROM history"), "2\n");
    }
}

// An installed copy (cmake --install into a scratch root) with a home of
// its own: --print-folder names the user's folder and makes nothing; the
// first start copies the installed example there, for the user only, says so and exits 2 (the
// next start takes that file: ProgramFolderTest.*). The units start the
// installed runner; the simulator finds the demo plant by its name.
// The scan of nodes 1 to 9 on the simulator: a device without SunSpec that
// answers its registers, one that answers the first request with an
// exception, the SunSpec inverter and meter, and a device whose
// identification names a template; four silent nodes, each asked once (one
// request, one time-out in the counters). The fragment, pasted into a list
// with its units, reads the simulator's values in one cycle.
TEST(Headless, ScanFindsTheDevicesAndItsFragmentReadsThem) {
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 0 2301\nnode 2\nfault 2 holding 40000 exception 2\n"
                          "node 5\nsunspec inverter\nident Tarvel Sim | SIM-INV-103 | 1.0.3\n"
                          "node 6\nsunspec meter\nnode 8\ninput 0 float32:230.1\n"
                          "ident Eastron | SDM120-Modbus | 2.1\n"));
    TempFolder folder;
    WriteSettings(folder, Settings(sim.link(), {}, "[Export]\nOut=out.xml\n"));
    Headless scan;
    ASSERT_EQ(scan.run(folder, {"--scan", "--nodes", "1-9", "--stats"}), 0);
    EXPECT_EQ(scan.lines(Stream::Err, "9/9 nodo 9: "), std::vector<std::string>{"9/9 nodo 9: Time out"});
    std::vector<std::string> silent;
    for (const auto& line : scan.lines(Stream::Err, "stats\t"))
        if (line.find("\t1\t0\t1\t0\t0\t-\t") != std::string::npos) silent.push_back(line.substr(6, 1));
    EXPECT_EQ(silent, (std::vector<std::string>{"3", "4", "7", "9"}));
    std::string comments;
    for (const auto& line : scan.lines(Stream::Out, "; nodo ")) comments += line.substr(0, 79) + "\n";
    EXPECT_EQ(comments,
              "; nodo 1: identificazione non disponibile; nessuna mappa SunSpec\n"
              "; nodo 2: identificazione non disponibile; nessuna mappa SunSpec\n"
              "; nodo 5: Tarvel Sim SIM-INV-103 1.0.3; SunSpec a 40000: 1 common, 103 inverter\n"
              "; nodo 6: identificazione non disponibile; SunSpec a 40000: 1 common, 203 meter\n"
              "; nodo 8: Eastron SDM120-Modbus 2.1; nessuna mappa SunSpec; modello eastron-sdm\n");
    std::vector<std::string> lines;
    for (const auto& line : scan.process.lines(Stream::Out))
        if (std::isdigit(static_cast<unsigned char>(line[0])))
            lines.push_back(std::regex_replace(line, std::regex("^[0-9]+=(.*)$"), "$1"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "8,4,0F,0;Tensione;V"), lines.end());
    WriteSettings(folder, Settings(sim.link(), lines, "[Export]\nOut=out.xml\n"));

    Headless cycle;
    ASSERT_EQ(cycle.run(folder, {"--cycles", "1"}), 0);
    const std::string xml = ReadFile(folder / "out.xml");
    for (const char* value : {"<Md>SIM-INV-103</Md>", "<A>12.34</A>", "<PhVphA>230.1</PhVphA>",
                              "<Hz>50.02</Hz>", "<WH>12345678</WH>", "<TmpCab>41.2</TmpCab>",
                              "<Md>SIM-MTR-203</Md>", "<W>-1234</W>", "<TotWhImp>98765</TotWhImp>",
                              "<Tensione>230.1</Tensione>"})
        EXPECT_NE(xml.find(value), std::string::npos) << value << "\n" << xml;
    EXPECT_NE(cycle.cycles().at(0).find("letture fallite 0,"), std::string::npos) << cycle.cycles()[0];
}

TEST(Installed, FirstStartMakesTheUserFolderFromTheExample) {
    TempFolder root, home;
    ChildProcess install;
    ASSERT_TRUE(install.start("/usr/bin/env", {"DESTDIR=" + root.path().string(), TARVEL_CMAKE,
                                               "--install", TARVEL_BUILD_DIR, "--prefix", "/usr"}));
    ASSERT_EQ(install.waitExit(120s), 0) << testing::PrintToString(install.lines(Stream::Err));
    const std::string headless = root / "usr/bin/tarvel-headless";
    const std::string folder = home / ".config/tarvel";
    auto run = [&](ChildProcess& p, const std::vector<std::string>& arguments) {
        std::vector<std::string> all{"-u", "XDG_CONFIG_HOME", "HOME=" + home.path().string(),
                                     headless};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return p.start("/usr/bin/env", all) ? p.waitExit(30s) : std::nullopt;
    };

    ChildProcess print, first;
    EXPECT_EQ(run(print, {"--print-folder"}), 0);
    EXPECT_EQ(print.lines(Stream::Out), std::vector<std::string>{folder});
    EXPECT_EQ(home.entries(), 0u);

    EXPECT_EQ(run(first, {"--cycles", "1"}), 2);  // its message: ProgramFolderTest.*
    const std::string example = ReadFile(root / "usr/share/tarvel/Tarvel.INI");
    EXPECT_NE(example.find("[Ports]"), std::string::npos);
    EXPECT_EQ(ReadFile(folder + "/Tarvel.INI"), example);
    EXPECT_EQ(ModeOf(folder + "/Tarvel.INI"), 0600u);

    for (const char* unit : {"tarvel-headless.service", "tarvel-headless@.service"})
        EXPECT_TRUE(ReadFile(root / "usr/lib/systemd/user/" + unit)
                        .find("\nExecStart=/usr/bin/tarvel-headless") != std::string::npos)
            << unit;

    // The simulator finds the demo plant by its name from any folder: the
    // installed one in its data folder, the build tree's in the sources.
    for (const std::string& sim : {root / "usr/bin/tarvel-sim", ProgramBeside("tarvel-sim")}) {
        ChildProcess plant;
        ASSERT_TRUE(plant.start(sim, {"--map", "demo-plant", "--link", home / "tty"}, home.path()));
        EXPECT_TRUE(plant.waitForLine(
            Stream::Err,
            [](const std::string& l) { return l.starts_with("tarvel-sim: map loaded: 6 node"); },
            10s))
            << sim << testing::PrintToString(plant.lines(Stream::Err));
    }
    // The templates are installed under the data folder and found there.
    ChildProcess templates;
    ASSERT_TRUE(templates.start(headless, {"--template", "eastron-sdm120", "--node", "4"}));
    EXPECT_EQ(templates.waitExit(10s), 0);
    EXPECT_EQ(templates.lines(Stream::Out).at(2), "001=4,4,0F,0;Tensione;V");
    ChildProcess nowhere;
    ASSERT_TRUE(nowhere.start(root / "usr/bin/tarvel-sim", {"--map", "nosuch"}, home.path()));
    EXPECT_EQ(nowhere.waitExit(10s), 2);
    EXPECT_EQ(nowhere.lines(Stream::Err).at(0),
              "tarvel-sim: no map nosuch nor nosuch.map in ., " + (root / "usr/share/tarvel"));
}

}  // namespace
}  // namespace tarvel::test
