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

bool IsTx(const std::string& line) { return line.starts_with("TX "); }

// A stop signal while a slow device has not answered yet: the answer is
// kept, the line after it is not executed, the output holds what was read.
TEST(StopSignal, DuringARequestKeepsItsAnswer) {
    for (int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(number);
        TempFolder folder;
        SimProcess sim;
        ASSERT_TRUE(
            sim.start("node 1\ninput 12 2301\ninput 14 1520\ninput 16 7\n"
                      "fault 1 input 14 delay 1500\n"));
        Settings(sim.link())
            .set("Serial_0", "TimeOut", "3000")
            .requestLines({"1,4,12,1;Vac", "1,4,14,0;Pac", "1,4,16,0;Terza"})
            .writeTo(folder);
        Runner runner;
        ASSERT_TRUE(runner.start(folder, {"--monitor"}));

        std::size_t first = 0;
        ASSERT_TRUE(runner.process.waitForLine(Stream::Out, IsTx, 10s, 0, &first));
        ASSERT_TRUE(runner.process.waitForLine(Stream::Out, IsTx, 5s, first + 1));
        std::this_thread::sleep_for(200ms);  // the request for Pac is on its way
        ASSERT_TRUE(runner.process.signal(number));

        EXPECT_EQ(runner.process.waitExit(10s), 0);
        auto cycles = runner.cycles();
        ASSERT_EQ(cycles.size(), 1u);
        EXPECT_EQ(cycles[0].executed, 2);
        EXPECT_EQ(cycles[0].failed, 0);
        auto out = runner.process.lines(Stream::Out);
        EXPECT_EQ(std::count_if(out.begin(), out.end(), IsTx), 2);
        EXPECT_EQ(ReadFile(folder / "NoName.xml"),
                  ExpectedXml({{"<Vac>230.1</Vac>", "<Pac>1520</Pac>"}}));
    }
}

// A missing output folder, or a file where the folder should be: the write
// fails without harm and each cycle tries again, until the folder is there.
TEST(OutputFolderFault, ReportedAndRetriedEachCycle) {
    for (bool parentIsFile : {false, true}) {
        SCOPED_TRACE(parentIsFile ? "a file in the way" : "missing folder");
        TempFolder folder;
        SimProcess sim;
        ASSERT_TRUE(sim.start("node 1\ninput 12 2301\n"));
        const fs::path parent = folder.path() / "uscita";
        const std::string output = (parent / "dati.xml").string();
        if (parentIsFile) WriteFile(parent, "not a folder\n");
        Settings(sim.link())
            .set("Export", "Out", output)
            .requestLines({"1,4,12,1;Vac"}, 100)
            .writeTo(folder);
        Runner runner;
        ASSERT_TRUE(runner.start(folder));

        auto isError = [&](const std::string& line) {
            return line.starts_with("Errore di scrittura: " + output + ": ");
        };
        std::size_t first = 0;
        ASSERT_TRUE(runner.process.waitForLine(Stream::Err, isError, 10s, 0, &first));
        ASSERT_TRUE(runner.process.waitForLine(Stream::Err, isError, 5s, first + 1))
            << "the next cycle did not try again";
        auto failed = runner.waitForCycle(1, 1s);
        ASSERT_TRUE(failed);
        EXPECT_TRUE(failed->files.empty());
        EXPECT_TRUE(runner.process.running());
        if (parentIsFile) {
            EXPECT_EQ(ReadFile(parent), "not a folder\n");
            fs::remove(parent);
        }

        fs::create_directory(parent);
        EXPECT_TRUE(Eventually([&] { return fs::exists(output); }, 5s));
        EXPECT_EQ(ReadFile(output), ExpectedXml({{"<Vac>230.1</Vac>"}}));
    }
}

bool SetFileSizeLimit(pid_t pid, rlim_t bytes) {
    rlimit limit{bytes, RLIM_INFINITY};
    return ::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr) == 0;
}

// A write that fails half-way (the disk is full) leaves the previous file
// whole; the next cycle writes it again.
TEST(OutputWriteFault, FullDiskKeepsThePreviousFile) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 2301\n"));
    Settings(sim.link()).requestLines({"1,4,12,1;Vac"}, 100).writeTo(folder);
    const std::string output = folder / "NoName.xml";
    const std::string expected = ExpectedXml({{"<Vac>230.1</Vac>"}});
    Runner runner;
    ASSERT_TRUE(runner.start(folder, {}, {.workingFolder = {}, .ignoreFileSizeSignal = true}));
    ASSERT_TRUE(runner.waitForCycle(1, 10s));
    ASSERT_EQ(ReadFile(output), expected);

    ASSERT_TRUE(SetFileSizeLimit(runner.process.pid(), 16));
    auto isError = [](const std::string& line) {
        return line.starts_with("Errore di scrittura: ");
    };
    ASSERT_TRUE(runner.process.waitForLine(Stream::Err, isError, 5s));
    EXPECT_EQ(ReadFile(output), expected);
    EXPECT_TRUE(runner.process.running());
    const long failedCycle = runner.cycles().back().number;

    ASSERT_TRUE(SetFileSizeLimit(runner.process.pid(), RLIM_INFINITY));
    fs::remove(output);
    auto next = runner.waitForCycle(failedCycle + 2, 5s);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->files, std::vector<std::string>{output});
    EXPECT_EQ(ReadFile(output), expected);
}

// With "Kill" off a reader that polls the file through 500 cycles always
// finds a whole document.
TEST(ConcurrentReader, NeverSeesAPartialFile) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\ninput 12 live:voltage\n"));
    Settings(sim.link())
        .set("Export", "Kill", "0")
        .requestLines({"1,4,12,1;Vac"}, 1)
        .writeTo(folder);
    const std::string output = folder / "NoName.xml";
    WriteFile(output, ExpectedXml({}));

    Runner runner;
    ASSERT_TRUE(runner.start(folder, {"--cycles", "500"}));
    std::atomic<bool> done = false;
    long reads = 0, bad = 0;
    std::string firstBad;
    std::set<std::string> seen;
    std::thread reader([&] {
        for (; !done; ++reads) {
            auto text = TryReadFile(output);
            if (!text || !IsWholeDocument(*text)) {
                if (bad++ == 0) firstBad = text.value_or("(absent)");
            } else if (seen.size() < 1000) {
                seen.insert(*text);
            }
        }
    });
    auto code = runner.process.waitExit(60s);
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
