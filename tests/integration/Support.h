#pragma once
// Helpers of the real-port tests: the pseudo-terminal pair of SimProcess.h,
// stopwatches for wall and CPU time, and event-loop waits.

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <ctime>

#include "SimProcess.h"

namespace tarvel::integration {

using test::PtyPair;

// Wall time and this process's CPU time since it was made.
class Stopwatch {
  public:
    double wallMs() const {
        return std::chrono::duration<double, std::milli>(Steady::now() - wall_).count();
    }
    // CPU time as a share of wall time.
    double load() const {
        return static_cast<double>(std::clock() - cpu_) * 1000 / CLOCKS_PER_SEC / wallMs();
    }

  private:
    using Steady = std::chrono::steady_clock;
    Steady::time_point wall_ = Steady::now();
    std::clock_t cpu_ = std::clock();
};

// The middle one of three measurements, so that one late wake-up of a busy
// machine does not decide.
template <class Measure>
double middleOfThree(Measure measure) {
    double a = measure(), b = measure(), c = measure();
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Lets the event loop run for a while, as the program does between cycles.
inline void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace tarvel::integration
