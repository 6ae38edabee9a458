#pragma once
// Time for a thread without windows (the headless runner, the desktop
// program's core): the timers run on its Qt event loop, between cycles;
// inside a cycle nothing runs the event loop. A sleep
// watches one descriptor (a signal pipe, a wake-up) and calls `onReadable`
// when it is readable, which must drain it. The sleep ends early when
// `onReadable` returns true (a stop).

#include <functional>

#include "platform/qt/QtClock.h"

namespace tarvel {

class ConsoleClock : public QtClock {
  public:
    void watch(int fd, std::function<bool()> onReadable);
    void sleep(Millis duration) override;

  private:
    // Waits until the descriptor is readable or the deadline; true when
    // `onReadable` asked to stop.
    bool waitUntil(TimePoint deadline);

    int fd_ = -1;
    std::function<bool()> onReadable_;
};

}  // namespace tarvel
