// tarvel-headless --check on settings files, and the exit codes of a run
// that cannot start.

#include <gtest/gtest.h>

#include "Support.h"

namespace e2e {
namespace {

// The lines of the stream that hold the part.
std::vector<std::string> With(const Runner& runner, Stream stream, const std::string& part) {
    std::vector<std::string> found;
    for (const auto& line : runner.process.lines(stream))
        if (line.find(part) != std::string::npos) found.push_back(line);
    return found;
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
    Runner runner;
    EXPECT_EQ(runner.run(folder, {"--check"}), 0);
    EXPECT_EQ(runner.process.lines(Stream::Out), (std::vector<std::string>{
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
                       "1,3,&100+,0;Energia", "0,0,x,0;1st", "1,3,4;A"})
        .writeTo(folder);
    Runner runner;
    EXPECT_EQ(runner.run(folder, {"--check"}), 0) << "warnings leave the settings usable";
    EXPECT_EQ(With(runner, Stream::Out, "warning\t"),
              (std::vector<std::string>{
                  "warning\triga 0: codice funzione 5 non supportato (1-4)",
                  "warning\triga 1: descrizione \"Bad Name\" non valida come nome XML",
                  "warning\triga 2: registro fuori dall'intervallo a 16 bit",
                  "warning\tprofilo Serial_7: Errore nell'impostazione della porta seriale.",
                  "warning\triga 5: descrizione \"1st\" non valida come nome XML",
                  "warning\triga 6: riga incompleta: servono tre virgole e un punto e virgola",
              }));
}

// Unusable settings end with 2, with --check or without; a profile 0 that
// cannot be set up ends with 3. Each after its message.
TEST(StartUp, ExitCodesWhenItCannotStart) {
    TempFolder folder;
    Runner missing;
    EXPECT_EQ(missing.run(folder, {"--check"}), 2);
    EXPECT_EQ(With(missing, Stream::Err, "Impostazioni errate nel file Tarvel.INI").size(), 1u);

    Settings settings(folder / "no-port-here");
    settings.requestLines({"1,4,12,1;Vac"}).set("Parameters", "Firt", "0").writeTo(folder);
    EXPECT_EQ(Runner().run(folder, {"--check"}), 2);
    settings.set("Parameters", "Firt", "1").set("Parameters", "Last", "x").writeTo(folder);
    Runner unusable;
    EXPECT_EQ(unusable.run(folder, {}), 2);
    EXPECT_EQ(With(unusable, Stream::Err, "Impostazioni errate nel file Tarvel.INI").size(), 1u);

    settings.set("Parameters", "Last", "1").writeTo(folder);
    Runner noPort;
    EXPECT_EQ(noPort.run(folder, {}), 3);
    EXPECT_EQ(With(noPort, Stream::Err, "Errore nell'impostazione della porta seriale.").size(),
              1u);
    EXPECT_TRUE(noPort.process.lines(Stream::Out).empty()) << "no cycle ran";
}

}  // namespace
}  // namespace e2e
