#include "FakeClock.h"

#include <algorithm>

namespace tarvel::fakes {

class FakeClock::FakeTimer : public Timer {
  public:
    FakeTimer(FakeClock& clock, std::shared_ptr<TimerState> state)
        : clock_(clock), state_(std::move(state)) {}
    ~FakeTimer() override {
        state_->enabled = false;
        state_->handler = nullptr;
    }
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
    void onTimeout(std::function<void()> handler) override { state_->handler = std::move(handler); }

  private:
    FakeClock& clock_;
    std::shared_ptr<TimerState> state_;
};

std::unique_ptr<Timer> FakeClock::createTimer() {
    auto state = std::make_shared<TimerState>();
    timers_.push_back(state);
    return std::make_unique<FakeTimer>(*this, state);
}

void FakeClock::sleep(Millis duration) {
    // A blocking sleep: time passes, nothing runs.
    now_ += duration;
    slept_ += duration;
}

std::optional<TimePoint> FakeClock::earliestDue() const {
    std::optional<TimePoint> next;
    for (const auto& t : timers_)
        if (t->enabled && t->handler && (!next || t->due < *next)) next = t->due;
    if (!events_.empty() && (!next || events_.begin()->first < *next))
        next = events_.begin()->first;
    return next;
}

void FakeClock::runDue() {
    // Events and timers may start nested waits; each due item runs once.
    while (!events_.empty() && events_.begin()->first <= now_) {
        auto event = std::move(events_.begin()->second);
        events_.erase(events_.begin());
        event();
    }
    auto timers = timers_;
    for (const auto& t : timers) {
        if (t->enabled && t->handler && t->due <= now_) {
            // Like a window timer: late ticks are merged into one.
            t->due = now_ + std::max(t->interval, Millis(1));
            auto handler = t->handler;
            handler();
        }
    }
}

void FakeClock::processEvents() {
    ++processCalls_;
    runDue();
}

void FakeClock::advanceTo(TimePoint when) {
    for (auto next = earliestDue(); next && *next <= when; next = earliestDue()) {
        if (*next > now_) now_ = *next;
        runDue();
    }
    if (now_ < when) now_ = when;
}

void FakeClock::at(TimePoint when, std::function<void()> event) {
    events_.emplace(when, std::move(event));
}

}  // namespace tarvel::fakes
