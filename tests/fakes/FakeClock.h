#pragma once
// A virtual clock: sleeps, waits and timers move virtual time, so a test of
// "two seconds later" takes microseconds.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Clock.h"

namespace tarvel::fakes {

class FakeClock : public Clock {
  public:
    TimePoint now() const override { return now_; }
    void sleep(Millis duration) override;
    void processEvents() override;
    std::unique_ptr<Timer> createTimer() override;

    // Moves time on to the given point, running timers and scheduled events
    // at their times on the way.
    void advanceTo(TimePoint when);
    void advance(Millis duration) { advanceTo(now_ + duration); }
    // Something that happens at a time, such as a user's command. It runs the
    // next time events are let run at or after that time.
    void at(TimePoint when, std::function<void()> event);
    void after(Millis delay, std::function<void()> event) { at(now_ + delay, std::move(event)); }

    Millis elapsed() const { return std::chrono::duration_cast<Millis>(now_.time_since_epoch()); }
    Millis totalSlept() const { return slept_; }
    int processEventsCalls() const { return processCalls_; }

  private:
    class FakeTimer;
    struct TimerState {
        Millis interval{0};
        bool enabled = false;
        TimePoint due{};
        std::function<void()> handler;
    };
    std::optional<TimePoint> earliestDue() const;
    void runDue();

    TimePoint now_{};
    Millis slept_{0};
    int processCalls_ = 0;
    std::vector<std::shared_ptr<TimerState>> timers_;
    std::multimap<TimePoint, std::function<void()>> events_;
    bool running_ = false;
};

}  // namespace tarvel::fakes
