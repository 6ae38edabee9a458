#pragma once
// How a value read is written into its answer line.

#include <cstdint>
#include <optional>
#include <string>

#include "modbus/Value.h"

namespace tarvel {

// 15 significant digits, exponent notation outside that range (1E+16,
// 1.5E-05), no trailing zeros, a point as decimal separator whatever the
// locale, and no "0" before the point (.5, -.25).
std::string ValueText(double value);

// The value text of a number read, divided by ten to the decimals: a
// 64-bit integer of 16 digits or more with every digit, any other number as
// ValueText writes it. Nothing when the decimals leave no finite number.
// With `leadingZero`, a "0" goes before the point, as JSON wants (0.5).
std::optional<std::string> NumberText(const ParsedNumber& number, std::int16_t decimals,
                                       bool leadingZero = false);

}  // namespace tarvel
