#pragma once
// Helpers of the real-port tests: a pseudo-terminal pair whose master side
// plays the device, stopwatches for wall and CPU time, and event-loop waits.

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/SerialPort.h"

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
    bool send(const Bytes& bytes) const {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What the port wrote, waiting up to the given time for it.
    Bytes receive(int waitMs) const {
        Bytes out;
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
            std::uint8_t chunk[256];
            ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) break;
            out.insert(out.end(), chunk, chunk + n);
            waitMs = 20;
        }
        return out;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

inline double secondsOf(clockid_t id) {
    timespec t{};
    ::clock_gettime(id, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall time and this process's CPU time since it was made.
class Stopwatch {
  public:
    double wallMs() const { return (secondsOf(CLOCK_MONOTONIC) - wall_) * 1000; }
    double cpuMs() const { return (secondsOf(CLOCK_PROCESS_CPUTIME_ID) - cpu_) * 1000; }
    // CPU time as a share of wall time.
    double load() const { return cpuMs() / wallMs(); }

  private:
    double wall_ = secondsOf(CLOCK_MONOTONIC);
    double cpu_ = secondsOf(CLOCK_PROCESS_CPUTIME_ID);
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

inline std::string temporaryFolder() {
    char pattern[] = "/tmp/tarvel-it-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made ? made : "";
}

}  // namespace tarvel::integration
