#pragma once
// Fast and slow groups: the read and constant lines after an EVERY line,
// up to the next one, form a group with that period. A group is read in
// the first cycle, then in the first cycle that starts at least its period
// after the start of the cycle that last read it.

#include <cstddef>
#include <optional>
#include <vector>

#include "acquisition/Chiamata.h"
#include "platform/Clock.h"

namespace tarvel {

// The period of each line of the list: that of the group a read or
// constant line belongs to, 0 for every other line and for the lines read
// every cycle (before any EVERY line, after EVERY 0 or a bad EVERY).
std::vector<Millis> PeriodsOfLines(const std::vector<RequestLine>& lines);

class GroupSchedule {
  public:
    // The groups of a list, none read yet.
    void load(const std::vector<RequestLine>& lines);
    // A cycle starts: each group is due or not.
    void startCycle(TimePoint start);
    // Line `index` belongs to no group or to one that is due.
    bool due(std::size_t index) const;
    // Line `index` belongs to a group with a period: some cycles skip it.
    bool grouped(std::size_t index) const;
    // Line `index` was read in this cycle: its group counts from this
    // cycle's start.
    void read(std::size_t index);

  private:
    // The group of each line (the index of its EVERY line), when it has one.
    std::vector<std::optional<std::size_t>> groupOf_;
    std::vector<Millis> periodOf_;
    std::vector<std::optional<TimePoint>> lastRead_;  // by EVERY line
    std::vector<bool> due_;                          // by EVERY line
    TimePoint start_{};
};

}  // namespace tarvel
