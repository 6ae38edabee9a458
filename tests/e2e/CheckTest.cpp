// tarvel-headless --check on settings files, and the exit codes of a run
// that cannot start.

#include <gtest/gtest.h>

#include <algorithm>

#include "Support.h"

namespace e2e {
namespace {

using Stream = ChildProcess::Stream;

struct Outcome {
    std::optional<int> code;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

Outcome RunRunner(const TempFolder& folder, const std::vector<std::string>& arguments) {
    Runner runner;
    Outcome outcome;
    if (!runner.start(folder, arguments)) return outcome;
    outcome.code = runner.process().waitExit(10s);
    outcome.out = runner.process().lines(Stream::Out);
    outcome.err = runner.process().lines(Stream::Err);
    return outcome;
}

std::vector<std::string> Warnings(const std::vector<std::string>& lines) {
    std::vector<std::string> warnings;
    for (const auto& line : lines)
        if (StartsWith(line, "warning\t")) warnings.push_back(line);
    return warnings;
}

bool AnyContains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(part) != std::string::npos;
    });
}

TEST(CheckOption, GoodFileGivesItsRecords) {
    TempFolder folder;
    Settings(folder / "no-port-here")
        .set("General", "Title", "Impianto")
        .profile(1)
        .requestLines({"SERIAL_1", "1,4,12,1;Vac", "SLEEP 250", "REM not a line", "NEXT",
                       "0,0,Roof A,0;Impianto"},
                      2000)
        .writeTo(folder);

    auto outcome = RunRunner(folder, {"--check"});

    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(outcome.out, (std::vector<std::string>{
                               "caption\tTarvel [Impianto]",
                               "interval\t2000",
                               "line\t0\tserial\t*\t1\t*\t*\tSerial settings",
                               "line\t1\tread\t1\t4\t12\t1\tVac",
                               "line\t2\twait\t#\t250\t*\t*\tWait",
                               "line\t3\tnext\t%\t*\t*\t*\tNext device",
                               "line\t4\tconstant\t0\t0\tRoof A\t0\tImpianto",
                           }));
}

TEST(CheckOption, WarnsOfProblemsFoundWithoutThePort) {
    TempFolder folder;
    Settings(folder / "no-port-here")
        .requestLines({"1,5,0,0;Bobina", "1,3,12,0;Bad Name", "1,3,40000,0;Alto", "SERIAL_7",
                       "1,3,12,0;Buono"})
        .writeTo(folder);

    auto outcome = RunRunner(folder, {"--check"});

    EXPECT_EQ(outcome.code, 0) << "warnings leave the settings usable";
    auto warnings = Warnings(outcome.out);
    EXPECT_EQ(warnings.size(), 4u) << testing::PrintToString(warnings);
    EXPECT_TRUE(AnyContains(warnings, "riga 0")) << "function code 5";
    EXPECT_TRUE(AnyContains(warnings, "riga 1")) << "element name with a blank";
    EXPECT_TRUE(AnyContains(warnings, "riga 2")) << "register beyond 16 bits";
    EXPECT_TRUE(AnyContains(warnings, "Serial_7")) << "profile without a section";
    EXPECT_FALSE(AnyContains(warnings, "riga 4"));
}

TEST(CheckOption, UnusableSettings) {
    TempFolder folder;
    auto missing = RunRunner(folder, {"--check"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(AnyContains(missing.err, "Impostazioni errate nel file Tarvel.INI"));

    Settings(folder / "no-port-here")
        .requestLines({"1,4,12,1;Vac"})
        .set("Parameters", "Firt", "0")
        .writeTo(folder);
    EXPECT_EQ(RunRunner(folder, {"--check"}).code, 2);
}

// Without --check: unusable settings end with 2, a profile 0 that cannot be
// set up with 3, each after its message.
TEST(StartUp, ExitCodesWhenItCannotStart) {
    TempFolder folder;
    Settings settings(folder / "no-port-here");
    settings.requestLines({"1,4,12,1;Vac"}).set("Parameters", "Last", "x").writeTo(folder);
    auto unusable = RunRunner(folder, {});
    EXPECT_EQ(unusable.code, 2);
    EXPECT_TRUE(AnyContains(unusable.err, "Impostazioni errate nel file Tarvel.INI"));

    settings.set("Parameters", "Last", "1").writeTo(folder);
    auto noPort = RunRunner(folder, {});
    EXPECT_EQ(noPort.code, 3);
    EXPECT_TRUE(AnyContains(noPort.err, "Errore nell'impostazione della porta seriale."));
    EXPECT_TRUE(noPort.out.empty()) << "no cycle ran";
}

}  // namespace
}  // namespace e2e
