#pragma once
// The health of each node on the line: what its requests gave, since the
// program started or the settings were last loaded. Counting never changes
// the wire or the output.

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "modbus/TransactionResult.h"
#include "modbus/Transaction.h"
#include "platform/Clock.h"

namespace tarvel {

struct NodeHealth {
    std::uint64_t requests = 0;
    std::uint64_t good = 0;
    // Nothing, or not all of an answer, in time; a write the port refused.
    std::uint64_t timeOut = 0;
    std::uint64_t crcErrors = 0;
    std::uint64_t wrongAnswers = 0;
    std::map<std::uint8_t, std::uint64_t> exceptions;  // by exception code
    std::uint64_t skipped = 0;                        // lines skipped while the node was dead
    std::optional<TimePoint> lastGood;

    // Median time from the request to the whole answer, over the last
    // `Samples` good answers; nothing before the first.
    std::optional<std::chrono::microseconds> medianTime() const;

    static constexpr std::size_t Samples = 100;
    std::array<std::chrono::microseconds, Samples> times{};
    std::size_t timeCount = 0;
    std::size_t nextTime = 0;
};

class Health {
  public:
    // One exchange with its node (1 to 255; broadcasts are not counted),
    // ended `nowTime`.
    void record(const Transaction& t, TimePoint nowTime);
    void skipped(std::uint8_t node);
    void reset() { nodes_.clear(); }
    // Adds what another count holds (a port polled on its own): its
    // counters, its answer times after these, the later last good answer.
    void add(const Health& other);
    // The nodes asked so far, in number order.
    const std::map<std::uint8_t, NodeHealth>& nodes() const { return nodes_; }

  private:
    std::map<std::uint8_t, NodeHealth> nodes_;
};

// One node's counters as the texts of a table row, in the order of
// `HealthHeaders()`: node, requests, good answers, time-outs, CRC
// errors, wrong answers, exceptions ("2:3 4:1", code and count, or "-"),
// skipped lines, median answer time in milliseconds with one decimal ("-"
// before the first good answer). The time of the last good answer is left
// to the caller, which knows the wall clock.
std::vector<std::string> HealthFields(std::uint8_t node, const NodeHealth& health);
const std::vector<std::string>& HealthHeaders();

}  // namespace tarvel
