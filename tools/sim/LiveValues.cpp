#include "LiveValues.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>

namespace tarvel::sim {

namespace {

// A low word read this long after the high word no longer uses its latch.
constexpr auto kLatchLife = std::chrono::seconds(2);

std::uint16_t ClampRegister(double value) {
    return static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

}  // namespace

LiveValues::LiveValues(std::uint32_t seed, std::optional<double> fixedHour)
    : seed_(seed), fixedHour_(fixedHour), random_(seed) {}

double LiveValues::hour() const {
    if (fixedHour_) return *fixedHour_;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour + local.tm_min / 60.0 + local.tm_sec / 3600.0;
}

double LiveValues::solarPower(double peak) const {
    const double h = hour();
    if (h <= 6 || h >= 18) return 0;
    return peak * std::sin(std::numbers::pi * (h - 6) / 12);
}

std::uint16_t LiveValues::voltage(double centre, double spread) {
    const auto width = static_cast<std::uint32_t>(std::max(0.0, std::round(spread)));
    const auto offset = static_cast<double>(random_() % (2 * width + 1)) - width;
    return ClampRegister(centre + offset);
}

std::uint16_t LiveValues::power(double peak) {
    const double base = solarPower(peak);
    if (base <= 0) return 0;
    // +-1 % noise, in steps of 0.1 %.
    const double noise = (static_cast<double>(random_() % 21) - 10) / 1000;
    return ClampRegister(base * (1 + noise));
}

std::uint32_t LiveValues::defaultStart(int node) const {
    // A start between 1000000 and 1999999, fixed by the seed and the node
    // (independent of the order of requests).
    std::uint64_t x = (static_cast<std::uint64_t>(seed_) << 8) ^ static_cast<std::uint64_t>(node);
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return 1000000u + static_cast<std::uint32_t>(x % 1000000u);
}

LiveValues::Counter& LiveValues::advance(int node, const NodeMap& map, SteadyTime now) {
    auto [it, created] = counters_.try_emplace(node);
    Counter& counter = it->second;
    if (created) {
        counter.value = map.counter.start.value_or(defaultStart(node));
        counter.updated = now;
        return counter;
    }
    const double seconds = std::chrono::duration<double>(now - counter.updated).count();
    const double perSecond =
        map.counter.solar ? solarPower(map.peakPower) / 3600 : map.counter.rate;
    counter.value += std::max(0.0, seconds * perSecond);
    counter.updated = now;
    return counter;
}

std::uint16_t LiveValues::counterHigh(int node, const NodeMap& map, SteadyTime now) {
    Counter& counter = advance(node, map, now);
    counter.latched = static_cast<std::uint32_t>(std::fmod(counter.value, 4294967296.0));
    counter.latchedAt = now;
    return static_cast<std::uint16_t>(counter.latched >> 16);
}

std::uint16_t LiveValues::counterLow(int node, const NodeMap& map, SteadyTime now) {
    Counter& counter = advance(node, map, now);
    if (!counter.latchedAt || now - *counter.latchedAt > kLatchLife) {
        counter.latched = static_cast<std::uint32_t>(std::fmod(counter.value, 4294967296.0));
    }
    return static_cast<std::uint16_t>(counter.latched & 0xFFFF);
}

}  // namespace tarvel::sim
