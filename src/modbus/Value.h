#pragma once
// How the items of one value make its number: 16, 32 or 64-bit integers,
// IEEE-754 floats of 32 and 64 bits, bytes swapped in each register, and the
// patterns devices send for "no value".

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

// The items of one value as read, most significant first: up to four
// registers, or the data bytes of coils or inputs; kept in place.
class ValueItems {
  public:
    static constexpr std::size_t Capacity = 4;

    // `count` items of 0; at most Capacity.
    explicit ValueItems(std::size_t count = 0) : count_(count < Capacity ? count : Capacity) {}
    void push_back(std::uint16_t item) { at_[count_++] = item; }
    std::uint16_t& operator[](std::size_t i) { return at_[i]; }
    std::uint16_t front() const { return at_[0]; }
    std::size_t size() const { return count_; }
    operator std::span<const std::uint16_t>() const { return {at_.data(), count_}; }

  private:
    std::array<std::uint16_t, Capacity> at_{};
    std::size_t count_ = 0;
};

// The number from the value's items, most significant first: registers
// (`registers`), or coils and inputs as their read gives them (a bit of a
// block, a read of one item's whole data byte). The items of coils and
// inputs join as their hexadecimal digits would, one digit below 16 and
// two from it, and never have a sign. Nothing for a "no value" pattern
// (with noValue), a NaN or an infinity.
std::optional<ParsedNumber> DecodeValue(std::span<const std::uint16_t> addresses, bool registers,
                                        const ValueFormat& format);

// The value divided by ten to the decimals; NaN for decimals a double cannot
// scale by, never a plausible 0 or an infinity.
double Scale(double value, std::int16_t decimals);

}  // namespace tarvel
