// What a cycle writes: the XML output on fake files, and the history on a
// real SQLite file in a temporary folder, written by the core on the fakes
// and read back with the sqlite3 command-line tool.

#include <gtest/gtest.h>

#include "TestBench.h"
#include "SqliteTool.h"
#include "TempFolder.h"
#include "export/EsportaXML.h"
#include "platform/posix/SystemWallClock.h"
#include "platform/sqlite/SqliteHistoryStore.h"

namespace tarvel::test {
namespace {

// A cycle's lines as their answer lines show them; a value element holds a
// constant, or is empty for a read that failed.
std::vector<Risposta> Righe(const std::vector<std::string>& lines) {
    std::vector<Risposta> answers;
    for (const std::string& r : lines) {
        Risposta answer{LineKind::Wait, r, std::nullopt};
        if (r.starts_with("Serial")) answer.kind = LineKind::Serial;
        if (r.starts_with("%")) answer.kind = LineKind::Next;
        if (r.starts_with("<")) {
            Reading& l = answer.reading.emplace();
            l.name = r.substr(1, r.find('>') - 1);
            const std::string value =
                r.substr(l.name.size() + 2, r.size() - 2 * l.name.size() - 5);
            l.quality = value.empty() ? Quality::Failed : Quality::Good;
            if (!value.empty()) l.constant = value;
        }
        answers.push_back(std::move(answer));
    }
    return answers;
}

struct Uscita {
    fakes::FakeProfileStore ini;
    fakes::FakeOutputFiles files;
    fakes::FakeClock clock;
    ExportContext ctx{files, clock, "/opt/tarvel"};
    // The output with the settings as they are now.
    ExportResult exportOutput(const std::vector<std::string>& lines) {
        const IniReader read = [this](const std::string& s, const std::string& k,
                                        const std::string& d) { return ini.read("", s, k, d); };
        const std::vector<Risposta> answers = Righe(lines);
        return EsportaXML(answers, ReadOutputSettings(answers, read, ctx.programFolder),
                          ctx);
    }
};

TEST(Export, SingleFileWorkedExample) {
    Uscita u;
    auto verdict = u.exportOutput({"Serial_1", "<Vac>230.1</Vac>", "<Pac>1520</Pac>", "%Next device",
                            "#Sleep 500", "<Vac>229.8</Vac>", "<Pac></Pac>"});
    EXPECT_EQ(verdict.written, std::vector<std::string>{"/opt/tarvel/NoName.xml"});
    EXPECT_EQ(u.files.files["/opt/tarvel/NoName.xml"],
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n  <Dispositivi>\r\n\r\n"
              "    <Dispositivo>\r\n      <Vac>230.1</Vac>\r\n      <Pac>1520</Pac>\r\n"
              "    </Dispositivo>\r\n\r\n    <Dispositivo>\r\n      <Vac>229.8</Vac>\r\n"
              "      <Pac></Pac>\r\n    </Dispositivo>\r\n\r\n  </Dispositivi>\r\n");
}

// With a profile that has its own file, each profile line starts a file: a
// profile without "Out" writes NoName.xml, a profile that comes twice keeps
// only its last part, and the answers before the first profile line go to
// the general file. Relative names are in the program folder.
TEST(Export, OneFilePerProfileWorkedExample) {
    Uscita u;
    u.ini.set("Serial_1", "Out", "/data/linea1.xml");
    u.exportOutput({"Serial_1", "<Vac>230.1</Vac>", "%Next device", "<Vac>229.8</Vac>", "Serial_2",
               "<Vac>231.0</Vac>"});
    EXPECT_EQ(u.files.files,
              (std::map<std::string, std::string>{
                  {"/data/linea1.xml", Documento({{"<Vac>230.1</Vac>"}, {"<Vac>229.8</Vac>"}})},
                  {"/opt/tarvel/NoName.xml", Documento({{"<Vac>231.0</Vac>"}})}}));

    Uscita v;
    v.ini.set("Serial_1", "Out", "linee/../linea1.xml");
    v.ini.set("Export", "Out", "generale.xml");
    v.exportOutput({"<Impianto>Roof A</Impianto>", "Serial_1", "<Parte>prima</Parte>", "Serial_2",
               "<Vac>231.0</Vac>", "Serial_1", "<Parte>seconda</Parte>"});
    EXPECT_EQ(v.files.files,
              (std::map<std::string, std::string>{
                  {"/opt/tarvel/generale.xml", Documento({{"<Impianto>Roof A</Impianto>"}})},
                  {"/opt/tarvel/linee/../linea1.xml", Documento({{"<Parte>seconda</Parte>"}})},
                  {"/opt/tarvel/NoName.xml", Documento({{"<Vac>231.0</Vac>"}})}}));

    // The encoding's label; a profile line after only skipped lines still
    // opens a new device.
    Uscita w;
    w.ini.set("XML", "Encoding", "ISO-8859-1");
    w.ini.set("Export", "Out", "");
    w.exportOutput({"#Sleep 5", "Serial_1", "Serial_2", "<V>\xE8</V>"});
    EXPECT_EQ(w.files.files["/opt/tarvel/NoName.xml"],
              Documento({{}, {}, {"<V>\xE8</V>"}}, "ISO-8859-1"));
    // A value that is no encoding name never reaches the markup.
    for (const char* hostile :
         {"UTF-8\"?><!DOCTYPE d [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><?x \"", "X@Y",
          "UTF 8"}) {
        w.ini.set("XML", "Encoding", hostile);
        w.exportOutput({"<V>1</V>"});
        EXPECT_EQ(w.files.files["/opt/tarvel/NoName.xml"], Documento({{"<V>1</V>"}})) << hostile;
    }
}

TEST(Export, KillDeletesFirstAndPauses) {
    using K = std::pair<const char*, bool>;
    for (const auto& [kill, kills] : {K{"yes", true}, K{"0", false}, K{"", false}}) {
        SCOPED_TRACE(kill);
        Uscita u;
        u.ini.set("Export", "Kill", kill);
        u.files.files["/opt/tarvel/NoName.xml"] = "old";
        u.exportOutput({"<A>1</A>"});
        std::vector<std::string> log{"write /opt/tarvel/NoName.xml"};
        if (kills) log.insert(log.begin(), "remove /opt/tarvel/NoName.xml");
        EXPECT_EQ(u.files.log, log);
        EXPECT_EQ(u.clock.totalSlept(), Millis(kills ? 100 : 0));
    }
}

TEST(Export, AFailedFileKeepsItsOldContentAndTheOthersAreWritten) {
    Uscita u;
    u.ini.set("Serial_1", "Out", "/missing/one.xml");
    u.ini.set("Serial_2", "Out", "/data/two.xml");
    u.files.failing = {"/missing/one.xml"};
    auto verdict = u.exportOutput({"Serial_1", "<A>1</A>", "Serial_2", "<B>2</B>"});
    EXPECT_EQ(verdict.written, std::vector<std::string>{"/data/two.xml"});
    EXPECT_EQ(verdict.errors, std::vector<std::string>{"/missing/one.xml: Permission denied"});
}

using namespace std::chrono;

// 2026-12-07T10:00:00.250Z
const WallTime Start = sys_days(year(2026) / 12 / 7) + hours(10) + milliseconds(250);

// The plant, with the history in `file` of a temporary program folder, kept
// for a day unless told, the calendar starting at `start`.
struct Storia : fakes::Impianto {
    TempFolder folder;
    SqliteHistoryStore store;
    fakes::FakeWallClock wall;
    std::unique_ptr<Program> prog;
    ViewSpy view;

    explicit Storia(const std::string& file, WallTime start = Start, const char* days = "1")
        : wall(fp.clock, start) {
        fp.identity.folder = folder.path().string();
        ini({{"History/File", file.c_str()}, {"History/Days", days}});
        profile(0);
        device.values[{4, 12}] = 2301;
        prog = std::make_unique<Program>(fp.platform(nullptr, nullptr, &store, &wall));
        prog->setView(&view);
    }
    void start(const char* interval = "1000") {
        requests({"1,4,12,1;Vac", "0,0,Roof A,0;Impianto", "REM no line", "SLEEP 10", "NEXT",
                   "2,4,12,1;Vac", "1,3,70000,0;Alto"},
                  interval);
        ASSERT_TRUE(prog->CaricaImpostazioni());
        ASSERT_TRUE(prog->ImpostaPortaSeriale(0));
        prog->MenuAvvio_Click();
    }
    // Runs the cycles until `n` have ended, each written (or failed)
    // before the next begins.
    void finoAlCiclo(std::size_t n) {
        for (; view.cycles.size() < n; fp.clock.advance(Millis(100)))
            ASSERT_TRUE(store.waitIdle(seconds(5)));
        ASSERT_TRUE(store.waitIdle(seconds(5)));
    }
    std::string db() const { return folder / "storico.db"; }
};

// Each value of a cycle is one row with the cycle's start: reads as REAL,
// failed and unread reads as NULL, constants as text; devices count from 1
// at each next-device line; the line index counts without the REM lines.
// The first cycle starts after the port's 100 ms pause. The file is in WAL
// mode. Rows older than Days go at the first cycle of each hour: a calendar
// jump of two days keeps them within the hour, an hour later they are gone.
TEST(History, OneRowPerValueOfEachCycle) {
    Storia s("storico.db");
    s.start("60000");
    s.finoAlCiclo(3);
    EXPECT_EQ(Sqlite(s.db(),
                     "SELECT time, cycle, device, name, quote(value), typeof(value), line FROM "
                     "history WHERE cycle = 1 ORDER BY rowid"),
              "2026-12-07T10:00:00.350Z|1|1|Vac|230.1|real|0\n"
              "2026-12-07T10:00:00.350Z|1|1|Impianto|'Roof A'|text|1\n"
              "2026-12-07T10:00:00.350Z|1|2|Vac|NULL|null|4\n"
              "2026-12-07T10:00:00.350Z|1|2|Alto|NULL|null|5\n");
    s.wall.jump(days(2));
    s.finoAlCiclo(4);
    // Every cycle: four rows with one time, later than the cycle before.
    EXPECT_EQ(Sqlite(s.db(),
                     "SELECT cycle, count(*), count(DISTINCT time), min(time) > ifnull((SELECT "
                     "max(time) FROM history h WHERE h.cycle < history.cycle), '') FROM history "
                     "GROUP BY cycle"),
              "1|4|1|1\n2|4|1|1\n3|4|1|1\n4|4|1|1\n");
    EXPECT_EQ(Sqlite(s.db(), "PRAGMA journal_mode"), "wal\n");
    EXPECT_TRUE(s.fp.dialogs.messages.empty());
    s.finoAlCiclo(65);  // an hour later
    EXPECT_EQ(Sqlite(s.db(), "SELECT min(cycle), max(cycle) FROM history"), "4|65\n");
}

// Rows older than Days go and the newer ones stay, for any Days allowed and
// any calendar time: here a row a day older and one a day newer than the
// bound (their times made by sqlite3), at 100 years (the most) before a
// time near the oldest that the system clock holds.
TEST(History, RetentionKeepsEveryRowNewerThanDays) {
    using R = std::tuple<WallTime, const char*, const char*>;  // start, days, as SQLite
    for (const auto& [start, days, start_] :
         {R{Start, "1", "2026-12-07 10:00:00.250"}, R{Start, "36500", "2026-12-07 10:00:00.250"},
          R{sys_days(year(1678) / 1 / 1), "36500", "1678-01-01 00:00:00"}}) {
        SCOPED_TRACE(start_);
        Storia s("storico.db", start, days);
        const std::string t = "strftime('%Y-%m-%dT%H:%M:%fZ', '" + std::string(start_) + "', ";
        const int d = std::stoi(days);
        ASSERT_EQ(Sqlite(s.db(), HistoryTable + "INSERT INTO history VALUES (" + t + "'-" +
                                     std::to_string(d + 1) + " days'), 0, 1, 'old', 1, 0), (" + t +
                                     "'-" + std::to_string(d - 1) + " days'), 0, 1, 'new', 1, 0);"),
                  "");
        s.start();
        s.finoAlCiclo(1);
        EXPECT_EQ(Sqlite(s.db(),
                         "SELECT group_concat(name) FROM (SELECT name FROM history WHERE cycle < 2 "
                         "ORDER BY rowid)"),
                  "new,Vac,Impianto,Vac,Alto\n");
    }
}

// A file that cannot be written (here a file in place of its folder; a
// full disk fails at the same place): the history says so once and keeps
// the rows, acquisition and the XML go on, and when the file can be written
// again every waiting cycle is written.
TEST(History, AnUnwritableFileIsToldOnceAndWritingResumes) {
    Storia s("sub/storico.db");
    WriteFile(s.folder / "sub", "x");
    s.start();
    s.finoAlCiclo(3);
    ASSERT_EQ(s.fp.dialogs.messages.size(), 1u);
    EXPECT_EQ(s.fp.dialogs.messages[0].text,
              "Impossibile scrivere lo storico: i valori non vengono registrati finché il "
              "file non torna scrivibile.");
    EXPECT_EQ(s.fp.dialogs.details[0],
              s.folder / "sub/storico.db: unable to open database file (Not a directory)");
    EXPECT_EQ(s.fp.files.log.size(), 3u);
    std::filesystem::remove(s.folder / "sub");
    std::filesystem::create_directory(s.folder / "sub");
    s.finoAlCiclo(5);
    EXPECT_EQ(Sqlite(s.folder / "sub/storico.db",
                     "SELECT group_concat(cycle) FROM (SELECT DISTINCT cycle FROM history)"),
              "1,2,3,4,5\n");
    EXPECT_EQ(s.fp.dialogs.messages.size(), 1u);
}

// A curve of more points than it draws gives one mean per slice of the span
// (here 3.6 s), and a run of failed reads stays one gap: 7000 rows over the
// last 3500 s, 5 and 7 by turns, failed for 180 s in the middle.
TEST(History, AManyPointCurveIsThinnedKeepingItsGaps) {
    TempFolder folder;
    ASSERT_EQ(Sqlite(folder / "storico.db",
                     "CREATE TABLE history(time, cycle, device, name, value, line);"
                     "WITH RECURSIVE m(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM m WHERE i < "
                     "7000) INSERT INTO history SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now', '-' "
                     "|| (i * 0.5) || ' seconds'), i, 1, 'Vac', CASE WHEN i BETWEEN 3000 AND 3359 "
                     "THEN NULL WHEN i % 2 THEN 5 ELSE 7 END, 0 FROM m;"),
              "");
    SqliteHistoryStore store;
    SystemWallClock wall;
    fakes::FakePlatform fp;
    History historyLog(&store, &wall, fp.clock, fp.dialogs);
    historyLog.Configure({"storico.db"}, folder.path().string());
    const auto points = historyLog.Trend("Vac", hours(1));
    EXPECT_GE(points.size(), 960u);
    EXPECT_LE(points.size(), History::MaxPoints);
    std::string forma;  // one letter a run: V values, G gap
    for (std::size_t i = 0; i < points.size(); ++i) {
        const char letter = points[i].value ? 'V' : 'G';
        if (forma.empty() || forma.back() != letter) forma += letter;
        EXPECT_NEAR(points[i].value.value_or(6), 6, 0.5) << i;
        if (i > 0) {
            EXPECT_NEAR(duration<double>(points[i].when - points[i - 1].when).count(), 3.6, 0.01);
        }
    }
    EXPECT_EQ(forma, "VGV");
    EXPECT_NEAR(std::count_if(points.begin(), points.end(), [](auto& p) { return !p.value; }), 50,
                1);
}

}  // namespace
}  // namespace tarvel::test
