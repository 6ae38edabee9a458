#pragma once
// Helpers of the real-port tests: a pseudo-terminal pair whose master side
// plays the device, stopwatches for wall and CPU time, and event-loop waits.

#include <fcntl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>

namespace tarvel::integration {

// The master side of a pseudo-terminal; the slave path is the port's device.
class PtyPair {
  public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            slave_ = ::ptsname(master_);
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slavePath() const { return slave_; }
    int master() const { return master_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

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
