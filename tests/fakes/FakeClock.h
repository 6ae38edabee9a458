#pragma once
// A virtual clock: sleeps, waits and timers move virtual time, so a test of
// "two seconds later" takes microseconds; and calendar time that follows it.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "platform/WallClock.h"

namespace tarvel::fakes {

class FakeClock : public Clock {
  public:
    TimePoint now() const override { return now_; }
    // A blocking sleep: time passes and no timer of the sleeping thread
    // runs, but what happens meanwhile elsewhere (a command from the window,
    // scheduled with after()) does, at its time.
    void sleep(Millis duration) override {
        const TimePoint end = now_ + duration;
        while (!events_.empty() && events_.begin()->first <= end) {
            now_ = std::max(now_, events_.begin()->first);
            events_.extract(events_.begin()).mapped()();
        }
        now_ = end;
        slept_ += duration;
    }
    std::unique_ptr<Timer> createTimer() override {
        timers_.push_back(std::make_shared<TimerState>());
        return std::make_unique<FakeTimer>(*this, timers_.back());
    }

    // Moves time on to the given point, running timers and scheduled events
    // at their times on the way.
    void advanceTo(TimePoint when) {
        for (auto next = earliestDue(); next && *next <= when; next = earliestDue()) {
            now_ = std::max(now_, *next);
            runDue();
        }
        now_ = std::max(now_, when);
    }
    void advance(Millis duration) { advanceTo(now_ + duration); }
    // Something that happens at a time, such as a user's command. It runs
    // at that time during a sleep or a wait, or when time is advanced.
    void after(Millis delay, std::function<void()> event) {
        events_.emplace(now_ + delay, std::move(event));
    }

    Millis elapsed() const { return std::chrono::duration_cast<Millis>(now_.time_since_epoch()); }
    Millis totalSlept() const { return slept_; }

  private:
    struct TimerState {
        Millis interval{0};
        bool enabled = false;
        TimePoint due{};
        std::function<void()> handler;
    };
    class FakeTimer : public Timer {
      public:
        FakeTimer(FakeClock& clock, std::shared_ptr<TimerState> state)
            : clock_(clock), state_(std::move(state)) {}
        ~FakeTimer() override { *state_ = {}; }  // disabled, without a handler
        void setInterval(Millis interval) override {
            state_->interval = interval;
            if (state_->enabled) state_->due = clock_.now() + interval;
        }
        Millis interval() const override { return state_->interval; }
        void setEnabled(bool enabled) override {
            state_->enabled = enabled;
            if (enabled) state_->due = clock_.now() + state_->interval;
        }
        bool enabled() const override { return state_->enabled; }
        void onTimeout(std::function<void()> handler) override {
            state_->handler = std::move(handler);
        }

      private:
        FakeClock& clock_;
        std::shared_ptr<TimerState> state_;
    };

    std::optional<TimePoint> earliestDue() const {
        std::optional<TimePoint> next;
        for (const auto& t : timers_)
            if (t->enabled && t->handler && (!next || t->due < *next)) next = t->due;
        if (!events_.empty() && (!next || events_.begin()->first < *next))
            next = events_.begin()->first;
        return next;
    }
    // Events and timers may start nested waits; each due item runs once.
    void runDue() {
        while (!events_.empty() && events_.begin()->first <= now_)
            events_.extract(events_.begin()).mapped()();
        for (const auto& t : std::vector(timers_)) {
            if (t->enabled && t->handler && t->due <= now_) {
                // Like a window timer: late ticks are merged into one.
                t->due = now_ + std::max(t->interval, Millis(1));
                std::function<void()>(t->handler)();  // a copy: the handler may replace itself
            }
        }
    }

    TimePoint now_{};
    Millis slept_{0};
    std::vector<std::shared_ptr<TimerState>> timers_;
    std::multimap<TimePoint, std::function<void()>> events_;
};

// Calendar time that follows the virtual clock from a given start, and can
// be moved on by itself (a change of the system time).
class FakeWallClock : public WallClock {
  public:
    FakeWallClock(const FakeClock& clock, WallTime start)
        : clock_(clock), start_(start), from_(clock.now()) {}
    WallTime now() const override {
        return start_ + std::chrono::duration_cast<WallTime::duration>(clock_.now() - from_);
    }
    void jump(std::chrono::system_clock::duration by) { start_ += by; }

  private:
    const FakeClock& clock_;
    WallTime start_;
    TimePoint from_;
};

}  // namespace tarvel::fakes
