// The output files tarvel-headless writes from what tarvel-sim answers,
// compared byte for byte.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "Support.h"

namespace e2e {
namespace {

constexpr auto kRunLimit = 30s;

// Runs the given number of cycles and returns their reports.
std::vector<CycleReport> RunCycles(const TempFolder& folder, int cycles,
                                   const SpawnOptions& options = {}) {
    Runner runner;
    EXPECT_TRUE(runner.start(folder, {"--cycles", std::to_string(cycles)}, options));
    EXPECT_EQ(runner.process().waitExit(kRunLimit), 0)
        << "stderr: " << testing::PrintToString(runner.process().lines(ChildProcess::Stream::Err));
    return runner.cycles();
}

TEST(WorkedExample, ReadsConstantAndSilentDevice) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder,
                          "node 1\n"
                          "input 12 0x08FD\n"
                          "holding 100 0x0001\n"
                          "holding 101 0x0000\n"
                          "fault 2 silent\n"));
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

TEST(WorkedExample, SingleFile) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder,
                          "node 1\n"
                          "input 12 2301\n"
                          "input 14 1520\n"
                          "node 2\n"
                          "input 12 2298\n"
                          "input 14 0\n"
                          "fault 2 input 14 exception 2\n"));
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
    EXPECT_EQ(ReadFile(folder / "NoName.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "  <Dispositivi>\r\n"
              "\r\n"
              "    <Dispositivo>\r\n"
              "      <Vac>230.1</Vac>\r\n"
              "      <Pac>1520</Pac>\r\n"
              "    </Dispositivo>\r\n"
              "\r\n"
              "    <Dispositivo>\r\n"
              "      <Vac>229.8</Vac>\r\n"
              "      <Pac></Pac>\r\n"
              "    </Dispositivo>\r\n"
              "\r\n"
              "  </Dispositivi>\r\n");
}

TEST(WorkedExample, OneFilePerProfile) {
    TempFolder folder;
    TempFolder workingFolder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\ninput 12 2301\nnode 2\ninput 12 2298\n"));
    Settings(sim.link())
        .profile(1)
        .set("Serial_1", "Out", folder / "linea1.xml")
        .profile(2)
        .requestLines(
            {"SERIAL_1", "1,4,12,1;Vac", "NEXT", "2,4,12,1;Vac", "SERIAL_2", "0,0,231.0,0;Vac"})
        .writeTo(folder);

    auto cycles = RunCycles(
        folder, 1, {.workingFolder = workingFolder.path().string(), .ignoreFileSizeSignal = false});

    ASSERT_EQ(cycles.size(), 1u);
    ASSERT_EQ(cycles[0].files.size(), 2u);
    EXPECT_EQ(cycles[0].files[0], folder / "linea1.xml");
    EXPECT_EQ(fs::path(cycles[0].files[1]).filename(), "NoName.xml");
    EXPECT_EQ(ReadFile(folder / "linea1.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "  <Dispositivi>\r\n"
              "\r\n"
              "    <Dispositivo>\r\n"
              "      <Vac>230.1</Vac>\r\n"
              "    </Dispositivo>\r\n"
              "\r\n"
              "    <Dispositivo>\r\n"
              "      <Vac>229.8</Vac>\r\n"
              "    </Dispositivo>\r\n"
              "\r\n"
              "  </Dispositivi>\r\n");
    EXPECT_EQ(ReadFile(workingFolder / "NoName.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "  <Dispositivi>\r\n"
              "\r\n"
              "    <Dispositivo>\r\n"
              "      <Vac>231.0</Vac>\r\n"
              "    </Dispositivo>\r\n"
              "\r\n"
              "  </Dispositivi>\r\n");
    EXPECT_FALSE(fs::exists(folder / "NoName.xml")) << "the general file is not written";
}

// Answers before the first profile line go to the general file; a profile
// that comes twice leaves only its last part in its file.
TEST(PerProfileFiles, GeneralFileAndRepeatedProfile) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\ninput 12 2301\n"));
    Settings(sim.link())
        .set("Export", "Out", folder / "generale.xml")
        .profile(1)
        .set("Serial_1", "Out", folder / "linea1.xml")
        .requestLines({"0,0,Roof A,0;Impianto", "SERIAL_1", "1,4,12,1;Vac", "SERIAL_1",
                       "0,0,seconda,0;Parte"})
        .writeTo(folder);

    auto cycles = RunCycles(folder, 1);

    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(ReadFile(folder / "generale.xml"), ExpectedXml({{"<Impianto>Roof A</Impianto>"}}));
    EXPECT_EQ(ReadFile(folder / "linea1.xml"), ExpectedXml({{"<Parte>seconda</Parte>"}}));
}

// With "Kill" on, the old file disappears before the new one appears whole.
TEST(KillOption, DeletesTheOldFileFirst) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\ninput 12 2301\n"));
    Settings(sim.link())
        .set("Export", "Kill", "yes")
        .requestLines({"1,4,12,1;Vac"}, 200)
        .writeTo(folder);
    const std::string output = folder / "NoName.xml";
    WriteFile(output, "old content\r\n");

    std::atomic<bool> done = false;
    std::atomic<int> absent = 0;
    std::atomic<int> partial = 0;
    std::thread watcher([&] {
        while (!done) {
            auto text = TryReadFile(output);
            if (!text)
                ++absent;
            else if (*text != "old content\r\n" && !IsWholeDocument(*text))
                ++partial;
            std::this_thread::sleep_for(2ms);
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
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\n"));
    Settings settings(sim.link());
    settings.requestLines({"0,0,1,0;Uno"}, 50).set("XML", "Encoding", "ISO-8859-1");
    settings.writeTo(folder);
    const std::string output = folder / "NoName.xml";
    auto outputIs = [&](const std::string& encoding) {
        const std::string expected = ExpectedXml({{"<Uno>1</Uno>"}}, encoding);
        return Eventually([&] { return ReadFile(output) == expected; }, 5s);
    };

    Runner runner;
    ASSERT_TRUE(runner.start(folder));
    EXPECT_TRUE(outputIs("ISO-8859-1")) << ReadFile(output);
    settings.set("XML", "Encoding", "").writeTo(folder);
    EXPECT_TRUE(outputIs("UTF-8")) << ReadFile(output);
    settings.set("XML", "Encoding", "X@Y").writeTo(folder);
    EXPECT_TRUE(outputIs("X@Y")) << ReadFile(output);

    ASSERT_TRUE(runner.process().signal(SIGTERM));
    EXPECT_EQ(runner.process().waitExit(10s), 0);
}

}  // namespace
}  // namespace e2e
