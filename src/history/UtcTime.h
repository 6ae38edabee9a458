#pragma once
// The times of the history as text: UTC with milliseconds, the form the
// rows store and the CSV export prints, and the times a user types for it.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/WallClock.h"

namespace tarvel {

// Milliseconds since the epoch: far more range than the clock's own
// nanoseconds, so that days can be taken from any time without overflow.
using TimeMs = std::chrono::sys_time<std::chrono::milliseconds>;

// UTC with milliseconds: 2026-12-07T12:04:37.120Z.
std::string UtcText(WallTime when);
std::string UtcText(TimeMs when);
// The stored form back into a time; the epoch for a text too short.
WallTime FromUtcText(std::string_view text);
// A time given by hand, UTC: 2026-12-07, 2026-12-07T12:04 (or with a
// blank), with seconds and milliseconds, a "Z" at the end allowed; in the
// stored form, the parts not given zero. Nothing when it is no such time,
// or no time of the calendar (month 13, 30 February, 25:61:99).
std::optional<std::string> UtcTime(std::string_view text);

}  // namespace tarvel
