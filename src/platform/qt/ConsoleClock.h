#pragma once
// Time for a program without windows: the timers run on Qt's event loop,
// between cycles; inside a cycle nothing runs the event loop. Letting events
// run and sleeping only watch one descriptor (a signal pipe) and call
// `onReadable` when it is readable, which must drain it. A sleep ends early
// when `onReadable` returns true (a stop).

#include <functional>

#include "platform/qt/QtClock.h"

namespace tarvel {

class ConsoleClock : public QtClock {
  public:
    void watch(int fd, std::function<bool()> onReadable);
    void sleep(Millis duration) override;
    void processEvents() override;

  private:
    // Waits until the descriptor is readable or the deadline; true when
    // `onReadable` asked to stop.
    bool waitUntil(TimePoint deadline);

    int fd_ = -1;
    std::function<bool()> onReadable_;
};

}  // namespace tarvel
