#pragma once
// The calendar time, for what is stored with a date: the history's rows.
// Cycles and waits keep to the monotonic Clock.

#include <chrono>

namespace tarvel {

using WallTime = std::chrono::system_clock::time_point;

class WallClock {
  public:
    virtual ~WallClock() = default;
    virtual WallTime now() const = 0;
};

}  // namespace tarvel
