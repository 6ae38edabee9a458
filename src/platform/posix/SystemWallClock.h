#pragma once
// The system's calendar time.

#include "platform/WallClock.h"

namespace tarvel {

class SystemWallClock : public WallClock {
  public:
    WallTime now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace tarvel
