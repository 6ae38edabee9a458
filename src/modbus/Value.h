#pragma once
// How the items of one value make its number: 16, 32 or 64-bit integers,
// IEEE-754 floats of 32 and 64 bits, bytes swapped in each register, and the
// patterns devices send for "no value".

#include <cstdint>
#include <optional>
#include <vector>

namespace tarvel {

enum class ValueType : std::uint8_t { Int16, Int32, Int64, Float32, Float64 };

// The registers (or items) a value takes: 1, 2 or 4.
int WordsOf(ValueType kind);

struct ValueFormat {
    ValueType kind = ValueType::Int16;
    bool isUnsigned = false;    // integers: unsigned
    bool swapBytes = false;   // the two bytes of each register swapped
    bool noValue = false;  // the integer's "no value" pattern gives nothing
};

// The number of a value before its decimals: an integer exactly, as its
// sign and magnitude (which 15 significant digits, and beyond 2^53 a
// double, would round), a float as its double.
struct ParsedNumber {
    double value = 0;
    bool integer = false;
    bool negative = false;
    std::uint64_t magnitude = 0;
};

// The number from the value's items, most significant first: registers
// (`registers`), or coils and inputs as their read gives them (a bit of a
// block, a read of one item's whole data byte). The items of coils and
// inputs join as their hexadecimal digits would, one digit below 16 and
// two from it, and never have a sign. Nothing for a "no value" pattern
// (with noValue), a NaN or an infinity.
std::optional<ParsedNumber> DecodeValue(const std::vector<std::uint16_t>& addresses,
                                            bool registers, const ValueFormat& format);

// The value divided by ten to the decimals; NaN for decimals a double cannot
// scale by, never a plausible 0 or an infinity.
double Scale(double value, std::int16_t decimals);

}  // namespace tarvel
