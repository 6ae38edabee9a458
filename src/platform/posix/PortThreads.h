#pragma once
// The workers of the ports polled at the same time, on POSIX: one thread
// and one PosixSerialPort each, made when first needed and kept for the
// program's life; the destructor ends and joins every thread. A round's
// caller waits in poll(2) for the last job, on one more descriptor when
// asked (a signal pipe), so that a stop reaches the logic meanwhile. An
// interruption is an eventfd that every port's wait and every sleep of the
// workers' clock watch: it stays readable until resume().

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/PortWorkers.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/WakeUp.h"

namespace tarvel {

class PortThreads : public PortWorkers {
  public:
    // `resolver`: the device of a COM number, as for the program's own
    // port; `timers`: the clock whose time and timers the workers' clock
    // gives.
    PortThreads(ComDeviceResolver resolver, Clock& timers);
    ~PortThreads() override;
    PortThreads(const PortThreads&) = delete;
    PortThreads& operator=(const PortThreads&) = delete;

    void reserve(std::size_t count) override;
    std::size_t size() const override;
    SerialPort& port(std::size_t worker) override { return workers_[worker]->port; }
    Clock& clock() override { return clock_; }
    std::string deviceOf(int com) const override { return resolver_(com); }
    void runAll(const std::vector<std::function<void()>>& jobs) override;
    void interrupt() override { stop_.signal(); }
    void resume() override { stop_.drain(); }

    // A descriptor the wait for a round watches too: when it is readable,
    // `onReadable` runs on the caller's thread (it must drain it).
    void watchAlso(int fd, std::function<void()> onReadable);

  private:
    // Time and timers from the given clock; sleeps that the stop ends.
    class StopClock : public Clock {
      public:
        StopClock(Clock& timers, const WakeUp& stop) : timers_(timers), stop_(stop) {}
        TimePoint now() const override { return timers_.now(); }
        void sleep(Millis duration) override;
        std::unique_ptr<Timer> createTimer() override { return timers_.createTimer(); }

      private:
        Clock& timers_;
        const WakeUp& stop_;
    };
    struct Worker {
        explicit Worker(const ComDeviceResolver& resolver) : port(resolver) {}
        PosixSerialPort port;
        std::function<void()> job;  // the round's, until it returns
        std::thread thread;
    };
    void serve(Worker& worker);

    ComDeviceResolver resolver_;
    WakeUp stop_;
    WakeUp done_;
    StopClock clock_;
    mutable std::mutex mutex_;
    std::condition_variable round_;
    std::condition_variable finished_;
    std::size_t roundNumber_ = 0;
    std::size_t pending_ = 0;
    bool ending_ = false;
    std::vector<std::unique_ptr<Worker>> workers_;
    int alsoFd_ = -1;
    std::function<void()> onAlsoReadable_;
};

}  // namespace tarvel
