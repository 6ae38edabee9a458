// 5,000 cycles back to back: the logger's memory and open descriptors stay
// flat. Registered as its own test with the label "soak".

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <climits>

#include "Support.h"

namespace e2e {
namespace {

// Resident kB and open descriptors of a process: the smallest of a few
// readings close together, so that a file open for a moment at one reading
// does not look like a leak. Zero when the process cannot be read.
std::pair<long, long> Sample(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::pair<long, long> least{LONG_MAX, LONG_MAX};
    for (int i = 0; i < 5; ++i, std::this_thread::sleep_for(1ms)) {
        std::ifstream status(proc + "/status");
        long kb = 0;
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("VmRSS:")) kb = std::stol(line.substr(6));
        std::error_code error;
        least.first = std::min(least.first, kb);
        least.second = std::min<long>(
            least.second, std::distance(fs::directory_iterator(proc + "/fd", error), {}));
    }
    return least;
}

TEST(Soak, FiveThousandCyclesKeepMemoryAndDescriptorsFlat) {
    TempFolder folder;
    SimProcess sim;
    ASSERT_TRUE(sim.start("node 1\nholding 100 live:energy_hi:5\nholding 101 live:energy_lo\n"));
    Settings(sim.link()).requestLines({"1,3,100+&,0;Energia"}, 1).writeTo(folder);
    Runner runner;
    ASSERT_TRUE(runner.start(folder));

    ASSERT_TRUE(runner.waitForCycle(500, 120s));
    const auto [earlyKb, earlyFds] = Sample(runner.process.pid());
    ASSERT_TRUE(runner.waitForCycle(5000, 600s));
    const auto [lateKb, lateFds] = Sample(runner.process.pid());
    ASSERT_TRUE(runner.process.signal(SIGTERM));
    EXPECT_EQ(runner.process.waitExit(10s), 0);

    ASSERT_TRUE(earlyKb > 0 && earlyFds > 0 && lateKb > 0 && lateFds > 0) << "no readings";
    EXPECT_LT(lateKb - earlyKb, 1024) << earlyKb << " kB at cycle 500, " << lateKb << " at 5000";
    EXPECT_LE(lateFds, earlyFds);
    auto cycles = runner.cycles();
    const auto failing = std::count_if(cycles.begin(), cycles.end(),
                                       [](const CycleReport& c) { return c.failed != 0; });
    EXPECT_EQ(failing, 0) << "reads failed in " << failing << " cycles";
    std::printf("resident %ld kB -> %ld kB, descriptors %ld -> %ld, %zu cycles\n", earlyKb, lateKb,
                earlyFds, lateFds, cycles.size());
}

}  // namespace
}  // namespace e2e
