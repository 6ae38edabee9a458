#pragma once
// Time for the logic: a monotonic clock, blocking sleeps and window-style
// timers. Nothing in the logic reads the system
// clock or sleeps on its own; tests hand in a virtual clock.

#include <chrono>
#include <functional>
#include <memory>

namespace tarvel {

using Millis = std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// A timer that fires again and again while it is enabled, every interval.
// Enabling it (again) starts the interval from now.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void setInterval(Millis interval) = 0;
    virtual Millis interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
    virtual void onTimeout(std::function<void()> handler) = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Monotonic: a change of the wall clock or midnight never moves it.
    virtual TimePoint now() const = 0;
    // Blocks the caller; no event runs meanwhile.
    virtual void sleep(Millis duration) = 0;
    virtual std::unique_ptr<Timer> createTimer() = 0;
};

}  // namespace tarvel
