// 5,000 cycles back to back: the logger's memory and open descriptors stay
// flat. Registered as its own test with the label "soak".

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "Support.h"

namespace e2e {
namespace {

struct Sample {
    long residentKb = 0;
    long descriptors = 0;
};

// A few readings close together; the smallest counts, so a file that is
// open for a moment at one reading does not look like a leak.
std::optional<Sample> SampleProcess(pid_t pid) {
    std::optional<Sample> best;
    for (int i = 0; i < 5; ++i) {
        auto resident = ResidentKb(pid);
        auto descriptors = OpenDescriptors(pid);
        if (!resident || !descriptors) return std::nullopt;
        if (!best) best = Sample{*resident, *descriptors};
        best->residentKb = std::min(best->residentKb, *resident);
        best->descriptors = std::min(best->descriptors, *descriptors);
        std::this_thread::sleep_for(1ms);
    }
    return best;
}

TEST(Soak, FiveThousandCyclesKeepMemoryAndDescriptorsFlat) {
    TempFolder folder;
    Simulator sim;
    ASSERT_TRUE(
        sim.start(folder, "node 1\nholding 100 live:energy_hi:5\nholding 101 live:energy_lo\n"));
    Settings(sim.link()).requestLines({"1,3,100+&,0;Energia"}, 1).writeTo(folder);
    Runner runner;
    ASSERT_TRUE(runner.start(folder));
    const pid_t pid = runner.process().pid();

    ASSERT_TRUE(runner.waitForCycle(500, 120s));
    auto early = SampleProcess(pid);
    ASSERT_TRUE(runner.waitForCycle(5000, 600s));
    auto late = SampleProcess(pid);
    ASSERT_TRUE(runner.process().signal(SIGTERM));
    EXPECT_EQ(runner.process().waitExit(10s), 0);

    ASSERT_TRUE(early && late);
    EXPECT_LT(late->residentKb - early->residentKb, 1024)
        << "resident " << early->residentKb << " kB at cycle 500, " << late->residentKb
        << " kB at cycle 5000";
    EXPECT_LE(late->descriptors, early->descriptors);
    auto cycles = runner.cycles();
    const auto failing = std::count_if(cycles.begin(), cycles.end(),
                                       [](const CycleReport& c) { return c.failed != 0; });
    EXPECT_EQ(failing, 0) << "reads failed in " << failing << " cycles";
    RecordProperty("resident_kb_cycle_500", static_cast<int>(early->residentKb));
    RecordProperty("resident_kb_cycle_5000", static_cast<int>(late->residentKb));
    RecordProperty("descriptors", static_cast<int>(late->descriptors));
    std::printf("resident %ld kB -> %ld kB, descriptors %ld -> %ld, %zu cycles\n",
                early->residentKb, late->residentKb, early->descriptors, late->descriptors,
                cycles.size());
}

}  // namespace
}  // namespace e2e
