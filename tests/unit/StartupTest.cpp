// The program's life with fakes: the start-up order and its failures, the
// first automatic start and the reload. The close request and the exit are
// tested through the real windows.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "FakeMqtt.h"
#include "Plant.h"
#include "TempFolder.h"
#include "app/Startup.h"
#include "app/ProgramFolder.h"
#include "platform/posix/PosixTextFiles.h"
#include "platform/posix/PosixUserFolders.h"
#include "platform/sqlite/SqliteHistoryStore.h"

namespace tarvel {
namespace {

using ::testing::_;
using ::testing::ElementsAre;

struct IstanzaFinta : ProgramInstance {
    bool libera = true;
    bool acquire() override { return libera; }
};

// Records what the start-up asks of the windows.
struct FinestreRegistrate : StartupWindows {
    std::vector<std::string> requests;

    void PreparaMonitor() override { requests.push_back("PreparaMonitor"); }
    void PreparaTray() override { requests.push_back("PreparaTray"); }
    void RimuoviIconaTray() override { requests.push_back("RimuoviIconaTray"); }
    void RiduciInTray(bool minimise) override {
        requests.push_back(minimise ? "RiduciInTray 1" : "RiduciInTray 0");
    }
    bool monitorVisible() const override { return false; }
    void MenuMonitor_Click() override { requests.push_back("MenuMonitor_Click"); }
    void showReloadNotice(bool v) override { requests.push_back(v ? "avviso 1" : "avviso 0"); }
    void quit(int code) override { requests.push_back("termina " + std::to_string(code)); }
};

// The start-up over the plant, its windows recorded; the platform can
// publish and keep a history, so that the settings decide.
struct Vita : fakes::Impianto {
    Vita() { dueRighe(); }
    fakes::ClientFinto mqtt;
    fakes::GiornaleFinto giornale;
    SqliteHistoryStore historyLog;
    fakes::FakeWallClock wall{fp.clock, WallTime{}};
    Program prog{fp.platform(&mqtt, &giornale, &historyLog, &wall)};
    FinestreRegistrate windowSet;
    IstanzaFinta programInstance;
    Autostart autostart{fp.shell, fp.dialogs, fp.identity};
    Startup startup{prog, fp.clock, fp.dialogs, windowSet, &programInstance, &autostart};
};

TEST(StartupTest, StartsInOrderThenTheFirstTimerStartsTheAcquisitionAndAFailedReloadAsksToEnd) {
    Vita v;
    v.fp.ini.set("Start", "Auto", "1");
    v.fp.shell.autostart["Tarvel"] = "\"/opt/tarvel/Tarvel\"";
    v.startup.Form_Load();

    EXPECT_THAT(v.windowSet.requests,
                ElementsAre("avviso 0", "PreparaMonitor", "PreparaTray", "RiduciInTray 0"));
    EXPECT_FALSE(v.prog.status().avvioInCorso);
    EXPECT_TRUE(v.autostart.checked()) << "the check mark follows the autostart entry";

    // Two seconds after the start-up, not before.
    v.fp.clock.advance(Millis(1999));
    EXPECT_TRUE(v.fp.port.written().empty());
    v.fp.clock.advance(Millis(1));
    EXPECT_TRUE(v.prog.status().acquisizioneAttiva);
    EXPECT_FALSE(v.fp.port.written().empty());
    EXPECT_FALSE(v.startup.firstStartPending());

    // A failed reload asks whether to end (its message the only one before).
    v.fp.ini.set("Parameters", "Last", "0");
    v.fp.dialogs.answer = Answer::No;
    v.startup.MenuRicarica_Click();
    EXPECT_THAT(v.testiMessaggi(), ElementsAre(_, "Uscire dal programma ?"));
    EXPECT_FALSE(v.startup.finished());
}

// Unusable settings and a profile that cannot be set up end the start-up
// after their message only, with no exit question; a second instance ends
// silently without reading anything. Each message names its cause in the
// box's details (the boxes' texts: Settings.UnusableRangeShowsTheMessageAndKeepsTheList
// and SerialSetup.EveryFailureCauseShowsOneMessageAndLeavesThePortClosed).
TEST(StartupTest, FailedStartUpsEndTheProgram) {
    // Section, key, value, whether the instance is free, the end, and the
    // details of each message shown.
    using C = std::tuple<const char*, const char*, const char*, bool, const char*,
                         std::vector<std::string>>;
    // clang-format off
    for (const auto& [section, key, value, libera, fine, detailText] :
         {C{"Parameters", "Firt", "0", true, "termina 1", {"/opt/tarvel/Tarvel.INI: [Parameters] "
            "Firt: valore non valido \"0\", nessun intervallo di richieste (numero di riga da 1 "
            "a 32767)"}},
          C{"Serial_0", "COM", "*", true, "termina 1", {"[Serial_0] COM: chiave mancante o vuota"}},
          C{"General", "Title", "", false, "termina 0", {}}}) {
        // clang-format on
        Vita v;
        v.fp.ini.set("Start", "Auto", "1");
        v.fp.ini.set(section, key, value);
        v.programInstance.libera = libera;
        v.startup.Form_Load();
        EXPECT_EQ(v.fp.dialogs.details, detailText);
        EXPECT_THAT(v.windowSet.requests, ElementsAre(fine));
        EXPECT_TRUE(v.startup.finished());
        EXPECT_FALSE(v.startup.firstStartPending());
        EXPECT_EQ(v.fp.port.openCount(), 0);
    }
}

// A section with a bad value is refused at the start-up of the desktop
// program: one message names the key and its value, the section is off and
// the program runs (the runner ends instead:
// Headless.SettingsRefusedInTheRunAsInTheCheck). The same key with a good
// value turns its section on.
TEST(StartupTest, ARefusedSectionIsOffAndTheProgramRuns) {
    test::TempFolder folder;
    // Section, key, value, and the cause the message gives (none: on).
    using R = std::tuple<std::string, const char*, const char*, std::string>;
    for (const auto& [section, key, value, cause] :
         {R{"History", "Days", "36500", ""},
          R{"History", "Days", "0", "[History] Days: valore non valido \"0\" (da 1 a 36500)"},
          R{"MQTT", "Port", "65535", ""},
          R{"MQTT", "Port", "70000", "[MQTT] Port: valore non valido \"70000\" (da 1 a 65535)"},
          R{"XML", "Encoding", "windows-1252", ""},
          R{"XML", "Encoding", "@",
            "[XML] Encoding: valore non valido \"@\" (lettere, cifre, . _ - :)"}}) {
        SCOPED_TRACE(value);
        Vita v;
        v.ini({{"History/File", (folder / "storico.db").c_str()},
               {"MQTT/Host", "127.0.0.1"},
               {"MQTT/Journal", (folder / "giornale.db").c_str()}});
        v.fp.ini.set(section, key, value);
        v.startup.Form_Load();
        EXPECT_THAT(v.windowSet.requests, ElementsAre(_, "PreparaMonitor", "PreparaTray", _));
        const bool refused = !cause.empty();
        EXPECT_EQ(v.prog.status().historyOn, !(refused && section == "History"));
        EXPECT_EQ(v.prog.publisher() != nullptr, !(refused && section == "MQTT"));
        if (!refused) {
            EXPECT_TRUE(v.fp.dialogs.messages.empty());
            continue;
        }
        const std::map<std::string, std::string> offs{
            {"History", "storico non attivo."},
            {"MQTT", "pubblicazione MQTT non attiva."},
            {"XML", "le uscite dichiarano l'encoding UTF-8."}};
        const std::string off = offs.at(section);
        EXPECT_EQ(v.fp.dialogs.messages,
                  (std::vector<fakes::ShownMessage>{
                      {"Tarvel", "Sezione [" + section + "] del file Tarvel.INI non valida: " + off,
                       Icon::Exclamation, Buttons::Ok, Answer::Ok}}));
        EXPECT_EQ(v.fp.dialogs.details, std::vector<std::string>{cause});
    }
}

// Where the settings are, on real files: beside the executable for a
// portable copy; otherwise in the user's folder, where the first start
// copies the example in, says so, opens it and ends, and the next start
// takes it as it is. A relative XDG_CONFIG_HOME counts as unset; an example
// that cannot be read or a folder that cannot be made is a failure that
// names its cause, and leaves nothing behind.
TEST(ProgramFolderTest, PortableCopyUserFolderAndFirstStart) {
    test::TempFolder t;
    const std::string bin = t / "bin", example = t / "Tarvel.example";
    std::filesystem::create_directory(bin);
    test::WriteFile(example, "; esempio\n[Ports]\nCOM1=/dev/ttyUSB0\n");
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    const std::string xdg = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
    setenv("HOME", (t / "home").c_str(), 1);
    PosixTextFiles files;
    PosixUserFolders folders;
    using Result = ProgramFolder::Result;
    fakes::FakeDialogs dialogs;
    fakes::FakeShell shell;
    // What a start found, where, and whether it goes on.
    auto start = [&](const std::string& esempioUsato) {
        dialogs = {};
        shell = {};
        const auto found = FindProgramFolder(files, folders, bin, esempioUsato, true);
        return std::tuple(found.result, found.folder,
                          AnnounceFolder(found, dialogs, &shell));
    };

    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    const std::string utente = t / "home/.config/tarvel";
    EXPECT_EQ(start(t / "no-example"), std::tuple(Result::Error, utente, false));
    EXPECT_EQ(dialogs.messages,
              (std::vector<fakes::ShownMessage>{
                  {"Tarvel", "Impossibile preparare la cartella delle impostazioni " + utente + ".",
                   Icon::Critical, Buttons::Ok, Answer::Ok}}));
    EXPECT_NE(dialogs.details[0].find(t / "no-example: " + std::strerror(ENOENT)),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(t / "home"));

    EXPECT_EQ(start(example), std::tuple(Result::Created, utente, false));
    EXPECT_EQ(test::ReadFile(utente + "/Tarvel.INI"), test::ReadFile(example));
    EXPECT_EQ(test::ModeOf(utente + "/Tarvel.INI"), 0600u) << "for its owner only";
    EXPECT_EQ(dialogs.messages,
              (std::vector<fakes::ShownMessage>{
                  {"Tarvel",
                   "Creato il file delle impostazioni " + utente +
                       "/Tarvel.INI dall'esempio installato.\nImpostare la porta seriale "
                       "(sezione [Ports], chiave COM1) e avviare di nuovo il programma.",
                   Icon::Information, Buttons::Ok, Answer::Ok}}));
    EXPECT_THAT(shell.calls, ElementsAre("openInEditor " + utente + "/Tarvel.INI"));

    test::WriteFile(utente + "/Tarvel.INI", "[General]\nTitle=mio\n");
    EXPECT_EQ(start(example), std::tuple(Result::Found, utente, true));
    EXPECT_TRUE(dialogs.messages.empty() && shell.calls.empty());
    EXPECT_EQ(test::ReadFile(utente + "/Tarvel.INI"), "[General]\nTitle=mio\n");

    // XDG_CONFIG_HOME names a file: no folder can be made under it.
    test::WriteFile(t / "config", "");
    setenv("XDG_CONFIG_HOME", (t / "config").c_str(), 1);
    EXPECT_EQ(start(example), std::tuple(Result::Error, t / "config/tarvel", false));
    EXPECT_NE(dialogs.details[0].find(t / "config/tarvel"), std::string::npos);

    // A Tarvel.INI beside the executable wins, with nothing made elsewhere.
    test::WriteFile(bin + "/Tarvel.INI", "");
    EXPECT_EQ(start(example), std::tuple(Result::Found, bin, true));

    for (const auto& [name, value] : {std::pair{"HOME", home}, {"XDG_CONFIG_HOME", xdg}})
        value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
}

}  // namespace
}  // namespace tarvel
