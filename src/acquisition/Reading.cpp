#include "acquisition/Reading.h"

#include <cmath>

#include "acquisition/Decimal.h"
#include "acquisition/ValueText.h"

namespace tarvel {

std::optional<std::string> ValueText(const Reading& reading) {
    if (reading.quality != Quality::Good) return std::nullopt;
    if (reading.constant) return reading.constant;
    if (!reading.number) return std::nullopt;
    return NumberText(*reading.number, reading.decimals);
}

std::optional<std::string> JsonNumber(const Reading& reading) {
    if (reading.quality != Quality::Good || !reading.number) return std::nullopt;
    return NumberText(*reading.number, reading.decimals, true);
}

std::optional<double> ValueNumber(const Reading& reading) {
    if (reading.quality != Quality::Good || !reading.number) return std::nullopt;
    const ParsedNumber& n = *reading.number;
    const double scaled = Scale(n.value, reading.decimals);
    if (!std::isfinite(scaled)) return std::nullopt;
    const double value = n.integer ? NearestDouble({n.negative, n.magnitude, -reading.decimals})
                                   : NearestDouble(RoundToDigits(scaled, 15));
    // Rounded to its digits, the largest double is beyond the doubles.
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace tarvel
