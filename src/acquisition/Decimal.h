#pragma once
// Decimal numbers and the doubles they stand for, in exact integer
// arithmetic: a number as the outputs write it becomes the double that a
// correctly rounding reader of that text gives, without the text.

#include <cstdint>

namespace tarvel {

// (-1)^negative * digits * 10^exponent.
struct Decimal {
    bool negative = false;
    std::uint64_t digits = 0;
    int exponent = 0;
};

// The double nearest to the decimal, a halfway case to the even one.
double NearestDouble(const Decimal& decimal);

// A finite double rounded to `significant` (1 to 17) significant decimal
// digits, a halfway case to the even one.
Decimal RoundToDigits(double value, int significant);

}  // namespace tarvel
