// The output files tarvel-headless writes from what tarvel-sim answers,
// compared byte for byte.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "Support.h"

namespace e2e {
namespace {

// Runs the given number of cycles to the end and returns their reports.
std::vector<CycleReport> RunCycles(const TempFolder& folder, int cycles,
                                   const SpawnOptions& options = {}) {
    Runner runner;
    EXPECT_EQ(runner.run(folder, {"--cycles", std::to_string(cycles)}, options), 0)
        << testing::PrintToString(runner.process.lines(Stream::Err));
    return runner.cycles();
}

TEST(WorkedExample, ReadsConstantAndSilentDevice) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        "node 1\ninput 12 0x08FD\nholding 100 0x0001\nholding 101 0x0000\nfault 2 silent\n"));
    Settings(sim.link())
        .requestLines({"1,4,12,1;Vac", "1,3,100+&,0;Energia", "0,0,Roof A,0;Impianto", "NEXT",
                       "2,4,12,1;Vac"})
        .writeTo(folder);

    auto cycles = RunCycles(folder, 1);

    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].executed, 5);
    EXPECT_EQ(cycles[0].failed, 1);
    EXPECT_EQ(cycles[0].files, std::vector<std::string>{folder / "NoName.xml"});
    EXPECT_EQ(ReadFile(folder / "NoName.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "  <Dispositivi>\r\n"
              "\r\n"
              "    <Dispositivo>\r\n"
              "      <Vac>230.1</Vac>\r\n"
              "      <Energia>65536</Energia>\r\n"
              "      <Impianto>Roof A</Impianto>\r\n"
              "    </Dispositivo>\r\n"
              "\r\n"
              "    <Dispositivo>\r\n"
              "      <Vac></Vac>\r\n"
              "    </Dispositivo>\r\n"
              "\r\n"
              "  </Dispositivi>\r\n");
}

// The single file, then one file per profile: the general file goes to
// the working folder when its name is relative, and is not written for a
// list that has none of its own answers. Answers before the first profile
// line go to the general file; a profile that comes twice keeps only its
// last part.
TEST(WorkedExample, SingleFileAndOneFilePerProfile) {
    TempFolder folder, workingFolder;
    SimProcess sim;
    ASSERT_TRUE(
        sim.start("node 1\ninput 12 2301\ninput 14 1520\nnode 2\ninput 12 2298\n"
                  "input 14 0\nfault 2 input 14 exception 2\n"));
    Settings(sim.link())
        .profile(1)
        .set("Export", "Out", "")
        .set("Export", "Kill", "0")
        .requestLines({"SERIAL_1", "1,4,12,1;Vac", "1,4,14,0;Pac", "NEXT", "SLEEP 500",
                       "2,4,12,1;Vac", "2,4,14,0;Pac"})
        .writeTo(folder);
    auto cycles = RunCycles(folder, 1);
    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].executed, 7);
    EXPECT_EQ(cycles[0].failed, 1);
    EXPECT_EQ(ReadFile(folder / "NoName.xml"), ExpectedXml({{"<Vac>230.1</Vac>", "<Pac>1520</Pac>"},
                                                            {"<Vac>229.8</Vac>", "<Pac></Pac>"}}));
    fs::remove(folder / "NoName.xml");

    Settings perProfile(sim.link());
    perProfile.profile(1)
        .set("Serial_1", "Out", folder / "linea1.xml")
        .profile(2)
        .requestLines(
            {"SERIAL_1", "1,4,12,1;Vac", "NEXT", "2,4,12,1;Vac", "SERIAL_2", "0,0,231.0,0;Vac"})
        .writeTo(folder);
    cycles = RunCycles(folder, 1, {.workingFolder = workingFolder.path().string()});
    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].files, (std::vector<std::string>{folder / "linea1.xml", "NoName.xml"}));
    EXPECT_EQ(ReadFile(folder / "linea1.xml"),
              ExpectedXml({{"<Vac>230.1</Vac>"}, {"<Vac>229.8</Vac>"}}));
    EXPECT_EQ(ReadFile(workingFolder / "NoName.xml"), ExpectedXml({{"<Vac>231.0</Vac>"}}));
    EXPECT_FALSE(fs::exists(folder / "NoName.xml"));

    perProfile.set("Export", "Out", folder / "generale.xml")
        .requestLines({"0,0,Roof A,0;Impianto", "SERIAL_1", "1,4,12,1;Vac", "SERIAL_1",
                       "0,0,seconda,0;Parte"})
        .writeTo(folder);
    RunCycles(folder, 1);
    EXPECT_EQ(ReadFile(folder / "generale.xml"), ExpectedXml({{"<Impianto>Roof A</Impianto>"}}));
    EXPECT_EQ(ReadFile(folder / "linea1.xml"), ExpectedXml({{"<Parte>seconda</Parte>"}}));
}

// With "Kill" on, the old file disappears before the new one appears whole.
TEST(KillOption, DeletesTheOldFileFirst) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 2301\n"));
    Settings(sim.link())
        .set("Export", "Kill", "yes")
        .requestLines({"1,4,12,1;Vac"}, 200)
        .writeTo(folder);
    const std::string output = folder / "NoName.xml";
    WriteFile(output, "old content\r\n");

    std::atomic<bool> done = false;
    std::atomic<int> absent = 0, partial = 0;
    std::thread watcher([&] {
        for (; !done; std::this_thread::sleep_for(2ms)) {
            auto text = TryReadFile(output);
            absent += !text;
            partial += text && *text != "old content\r\n" && !IsWholeDocument(*text);
        }
    });
    auto cycles = RunCycles(folder, 3);
    done = true;
    watcher.join();

    EXPECT_EQ(cycles.size(), 3u);
    EXPECT_GT(absent, 0) << "the file was never deleted";
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(ReadFile(output), ExpectedXml({{"<Vac>230.1</Vac>"}}));
}

// The declaration names the encoding read at each cycle; the template's "@"
// is replaced once, even by a text that holds "@" itself.
TEST(EncodingLabel, FollowsTheSettingAtEachCycle) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\n"));
    Settings settings(sim.link());
    settings.requestLines({"0,0,1,0;Uno"}, 50);
    Runner runner;
    for (std::string encoding : {"ISO-8859-1", "", "X@Y"}) {
        settings.set("XML", "Encoding", encoding).writeTo(folder);
        if (!runner.process.running()) {
            ASSERT_TRUE(runner.start(folder));
        }
        const std::string expected =
            ExpectedXml({{"<Uno>1</Uno>"}}, encoding.empty() ? "UTF-8" : encoding);
        EXPECT_TRUE(Eventually([&] { return ReadFile(folder / "NoName.xml") == expected; }, 5s))
            << ReadFile(folder / "NoName.xml");
    }
    ASSERT_TRUE(runner.process.signal(SIGTERM));
    EXPECT_EQ(runner.process.waitExit(10s), 0);
}

}  // namespace
}  // namespace e2e
