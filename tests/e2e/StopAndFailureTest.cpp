// tarvel-headless stopped by signals in the middle of a cycle, and output
// files that cannot be written.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <set>

#include "Support.h"

namespace e2e {
namespace {

using Stream = ChildProcess::Stream;

bool IsTx(const std::string& line) { return StartsWith(line, "TX "); }
bool IsRx(const std::string& line) { return StartsWith(line, "RX "); }

long CountTx(ChildProcess& process) {
    auto lines = process.lines(Stream::Out);
    return std::count_if(lines.begin(), lines.end(), IsTx);
}

// SIGTERM while a slow device has not answered yet: the answer is kept, the
// line after it is not executed, the output holds what was read.
TEST(StopSignal, TermDuringARequestKeepsItsAnswer) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder,
                          "node 1\n"
                          "input 12 2301\n"
                          "input 14 1520\n"
                          "input 16 7\n"
                          "fault 1 input 14 delay 1500\n"));
    Settings(sim.link())
        .set("Serial_0", "TimeOut", "3000")
        .requestLines({"1,4,12,1;Vac", "1,4,14,0;Pac", "1,4,16,0;Terza"})
        .writeTo(folder);
    Runner runner;
    ASSERT_TRUE(runner.start(folder, {"--monitor"}));

    std::size_t first = 0;
    ASSERT_TRUE(runner.process().waitForLine(Stream::Out, IsTx, 10s, 0, &first));
    ASSERT_TRUE(runner.process().waitForLine(Stream::Out, IsTx, 5s, first + 1));
    std::this_thread::sleep_for(200ms);  // the request for Pac is on its way
    ASSERT_TRUE(runner.process().signal(SIGTERM));

    EXPECT_EQ(runner.process().waitExit(10s), 0);
    auto cycles = runner.cycles();
    ASSERT_EQ(cycles.size(), 1u);
    EXPECT_EQ(cycles[0].executed, 2);
    EXPECT_EQ(cycles[0].failed, 0);
    EXPECT_EQ(CountTx(runner.process()), 2);
    EXPECT_EQ(ReadFile(folder / "NoName.xml"),
              ExpectedXml({{"<Vac>230.1</Vac>", "<Pac>1520</Pac>"}}));
}

// SIGINT during a wait line (or the pause before it): the lines after it are
// not executed and the output holds the answers so far.
TEST(StopSignal, IntDuringAWaitLineWritesTheAnswersSoFar) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\ninput 12 2301\ninput 14 1520\n"));
    Settings(sim.link())
        .requestLines({"1,4,12,1;Vac", "SLEEP 1500", "1,4,14,0;Pac"})
        .writeTo(folder);
    Runner runner;
    ASSERT_TRUE(runner.start(folder, {"--monitor"}));

    ASSERT_TRUE(runner.process().waitForLine(Stream::Out, IsRx, 10s));
    std::this_thread::sleep_for(400ms);
    ASSERT_TRUE(runner.process().signal(SIGINT));

    EXPECT_EQ(runner.process().waitExit(10s), 0);
    EXPECT_EQ(runner.cycles().size(), 1u);
    EXPECT_EQ(CountTx(runner.process()), 1);
    EXPECT_EQ(ReadFile(folder / "NoName.xml"), ExpectedXml({{"<Vac>230.1</Vac>"}}));
}

struct BadFolder {
    const char* name;
    bool parentIsFile;  // else the folder is missing
};

void PrintTo(const BadFolder& folder, std::ostream* out) { *out << folder.name; }

class OutputFolderFault : public testing::TestWithParam<BadFolder> {};

// The write fails without harm and each cycle tries again, until the folder
// is there and the file appears.
TEST_P(OutputFolderFault, ReportedAndRetriedEachCycle) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\ninput 12 2301\n"));
    const fs::path parent = folder.path() / "uscita";
    const std::string output = (parent / "dati.xml").string();
    if (GetParam().parentIsFile) WriteFile(parent, "not a folder\n");
    Settings(sim.link())
        .set("Export", "Out", output)
        .requestLines({"1,4,12,1;Vac"}, 100)
        .writeTo(folder);
    Runner runner;
    ASSERT_TRUE(runner.start(folder));

    auto isError = [&](const std::string& line) {
        return StartsWith(line, "Errore di scrittura: " + output + ": ");
    };
    std::size_t first = 0;
    ASSERT_TRUE(runner.process().waitForLine(Stream::Err, isError, 10s, 0, &first));
    ASSERT_TRUE(runner.process().waitForLine(Stream::Err, isError, 5s, first + 1))
        << "the next cycle did not try again";
    auto failed = runner.waitForCycle(1, 1s);
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->files.empty());
    EXPECT_TRUE(runner.process().running());
    if (GetParam().parentIsFile) {
        EXPECT_EQ(ReadFile(parent), "not a folder\n");
        fs::remove(parent);
    }

    fs::create_directory(parent);
    EXPECT_TRUE(Eventually([&] { return fs::exists(output); }, 5s));
    EXPECT_EQ(ReadFile(output), ExpectedXml({{"<Vac>230.1</Vac>"}}));
    ASSERT_TRUE(runner.process().signal(SIGTERM));
    EXPECT_EQ(runner.process().waitExit(10s), 0);
}

INSTANTIATE_TEST_SUITE_P(Output, OutputFolderFault,
                         testing::Values(BadFolder{"MissingFolder", false},
                                         BadFolder{"ParentIsAFile", true}),
                         [](const auto& info) { return std::string(info.param.name); });

bool SetFileSizeLimit(pid_t pid, rlim_t bytes) {
    rlimit limit{bytes, RLIM_INFINITY};
    return ::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr) == 0;
}

// A write that fails half-way (the disk is full) leaves the previous file
// whole; the next cycle writes it again.
TEST(OutputWriteFault, FullDiskKeepsThePreviousFile) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\ninput 12 2301\n"));
    Settings(sim.link()).requestLines({"1,4,12,1;Vac"}, 100).writeTo(folder);
    const std::string output = folder / "NoName.xml";
    const std::string expected = ExpectedXml({{"<Vac>230.1</Vac>"}});
    Runner runner;
    ASSERT_TRUE(runner.start(folder, {}, {.workingFolder = {}, .ignoreFileSizeSignal = true}));
    ASSERT_TRUE(runner.waitForCycle(1, 10s));
    ASSERT_EQ(ReadFile(output), expected);

    ASSERT_TRUE(SetFileSizeLimit(runner.process().pid(), 16));
    std::size_t errorIndex = 0;
    ASSERT_TRUE(runner.process().waitForLine(
        Stream::Err,
        [](const std::string& line) { return StartsWith(line, "Errore di scrittura: "); }, 5s, 0,
        &errorIndex));
    EXPECT_EQ(ReadFile(output), expected);
    EXPECT_TRUE(runner.process().running());
    auto cycles = runner.cycles();
    ASSERT_FALSE(cycles.empty());
    const long failedCycle = cycles.back().number;

    ASSERT_TRUE(SetFileSizeLimit(runner.process().pid(), RLIM_INFINITY));
    fs::remove(output);
    auto next = runner.waitForCycle(failedCycle + 2, 5s);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->files, std::vector<std::string>{output});
    EXPECT_EQ(ReadFile(output), expected);
    ASSERT_TRUE(runner.process().signal(SIGTERM));
    EXPECT_EQ(runner.process().waitExit(10s), 0);
}

// With "Kill" off a reader that polls the file through 500 cycles always
// finds a whole document.
TEST(ConcurrentReader, NeverSeesAPartialFile) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(sim.start(folder, "node 1\ninput 12 live:voltage\n"));
    Settings(sim.link())
        .set("Export", "Kill", "0")
        .requestLines({"1,4,12,1;Vac"}, 1)
        .writeTo(folder);
    const std::string output = folder / "NoName.xml";
    WriteFile(output, ExpectedXml({}));

    Runner runner;
    ASSERT_TRUE(runner.start(folder, {"--cycles", "500"}));
    std::atomic<bool> done = false;
    long reads = 0;
    long bad = 0;
    std::string firstBad;
    std::set<std::string> seen;
    std::thread reader([&] {
        while (!done) {
            auto text = TryReadFile(output);
            ++reads;
            if (!text || !IsWholeDocument(*text)) {
                if (bad++ == 0) firstBad = text.value_or("(absent)");
            } else if (seen.size() < 1000)
                seen.insert(*text);
        }
    });
    auto code = runner.process().waitExit(60s);
    done = true;
    reader.join();

    EXPECT_EQ(code, 0);
    EXPECT_EQ(runner.cycles().size(), 500u);
    EXPECT_GT(reads, 500);
    EXPECT_GT(seen.size(), 10u) << "the reader did not see the file change";
    EXPECT_EQ(bad, 0) << "the first bad read:\n" << firstBad;
}

}  // namespace
}  // namespace e2e
