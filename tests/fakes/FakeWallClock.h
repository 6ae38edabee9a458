#pragma once
// Calendar time that follows the virtual clock from a given start, and can
// be moved on by itself (a change of the system time).

#include "FakeClock.h"
#include "platform/WallClock.h"

namespace tarvel::fakes {

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
