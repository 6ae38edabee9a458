#pragma once
// Time on Qt: the monotonic clock of the standard library, blocking sleeps,
// the application's event loop and QTimer-based window timers.

#include "platform/Clock.h"

namespace tarvel {

class QtClock : public Clock {
  public:
    TimePoint now() const override;
    void sleep(Millis duration) override;
    std::unique_ptr<Timer> createTimer() override;
};

}  // namespace tarvel
