#pragma once
// Values that move like those of a running inverter: a noisy AC voltage, a
// power that follows the hour of the day, a 32-bit counter that only grows
// and a status. The random parts come from one generator seeded with --seed,
// so a given seed and sequence of requests give the same values.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>

#include "PlantMap.h"

namespace tarvel::sim {

using SteadyTime = std::chrono::steady_clock::time_point;

class LiveValues {
  public:
    // fixedHour: the hour of the day used instead of the local clock.
    LiveValues(std::uint32_t seed, std::optional<double> fixedHour);

    // Local hour of the day, 0 to 24 (fractional).
    double hour() const;
    // Power curve of the hour without noise, in W.
    double solarPower(double peak) const;

    std::uint16_t voltage(double centre, double spread);
    std::uint16_t power(double peak);
    bool producing(double peak) const { return solarPower(peak) > 0; }

    // The node's counter at `now`, grown since the last call. Reading the
    // high word latches the value, so that a low word read soon after (in a
    // separate request) belongs to the same value.
    std::uint16_t counterHigh(int node, const NodeMap& map, SteadyTime now);
    std::uint16_t counterLow(int node, const NodeMap& map, SteadyTime now);

  private:
    struct Counter {
        double value = 0;
        SteadyTime updated;
        std::uint32_t latched = 0;
        std::optional<SteadyTime> latchedAt;
    };

    Counter& advance(int node, const NodeMap& map, SteadyTime now);
    std::uint32_t defaultStart(int node) const;

    std::uint32_t seed_;
    std::optional<double> fixedHour_;
    std::mt19937 random_;
    std::map<int, Counter> counters_;
};

}  // namespace tarvel::sim
