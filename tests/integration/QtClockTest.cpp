// Window timers and sleeps on the Qt event loop.

#include <gtest/gtest.h>

#include <QTimer>
#include <vector>

#include "Support.h"
#include "platform/qt/QtClock.h"

namespace tarvel::integration {
namespace {

using namespace std::chrono_literals;

TEST(QtClockTimers, FireWhileEnabledAndRestartWhenEnabledAgain) {
    QtClock clock;
    auto timer = clock.createTimer();
    Stopwatch watch;
    std::vector<double> fired;
    timer->onTimeout([&] { fired.push_back(watch.wallMs()); });
    timer->setInterval(50ms);
    EXPECT_FALSE(timer->enabled());
    timer->setEnabled(true);
    // Enabling again at 30 ms starts the interval from then: first firing
    // near 80 ms, not 50.
    QTimer::singleShot(30, [&] { timer->setEnabled(true); });
    QTimer::singleShot(205, [&] { timer->setEnabled(false); });
    runEventLoopFor(300);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_GE(fired[0], 79);
    EXPECT_LT(fired[0], 110);
    EXPECT_GE(fired[1], 129);
    EXPECT_GE(fired[2], 179);
    EXPECT_EQ(timer->interval(), 50ms);

    // An interval of 0 never fires, even while enabled.
    fired.clear();
    timer->setInterval(0ms);
    timer->setEnabled(true);
    EXPECT_TRUE(timer->enabled());
    runEventLoopFor(50);
    EXPECT_TRUE(fired.empty());
}

TEST(QtClockTimers, SleepBlocksAndEventsWaitForIt) {
    QtClock clock;
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    TimePoint before = clock.now();
    clock.sleep(30ms);
    EXPECT_GE(clock.now() - before, 30ms);
    EXPECT_FALSE(ran);  // no event runs during a sleep
    clock.processEvents();
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tarvel::integration
