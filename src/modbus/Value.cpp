#include "modbus/Value.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <type_traits>

namespace tarvel {
namespace {

// The items one after the other, most significant first, bytes swapped in
// each register when asked.
[[gnu::hot]] std::uint64_t join(std::span<const std::uint16_t> addresses, bool registers,
                                bool swapBytes) {
    std::uint64_t value = 0;
    for (const std::uint16_t e : addresses) {
        if (registers)
            value = value << 16 | (swapBytes ? (e & 0xFFu) << 8 | e >> 8 : e);
        else
            value = value << (e < 16 ? 4 : 8) | e;
    }
    return value;
}

// A float32 as the shortest decimal that reads back as the same float32.
double decimalOf(float value) {
    char text[32];
    auto [fine, error] = std::to_chars(text, text + sizeof text, value);
    double readValue = 0;
    if (error == std::errc()) std::from_chars(text, fine, readValue);
    return readValue;
}

// The integer's value exactly, and as a double.
template <typename Int>
[[gnu::hot]] ParsedNumber integer(Int value) {
    ParsedNumber number{static_cast<double>(value), true, false,
                       static_cast<std::uint64_t>(value)};
    if constexpr (std::is_signed_v<Int>) {
        number.negative = value < 0;
        // The magnitude in unsigned arithmetic: -2^63 has no positive twin.
        if (number.negative) number.magnitude = ~number.magnitude + 1;
    }
    return number;
}

}  // namespace

[[gnu::hot]] int WordsOf(ValueType kind) {
    switch (kind) {
        case ValueType::Int16:
            return 1;
        case ValueType::Int32:
        case ValueType::Float32:
            return 2;
        case ValueType::Int64:
        case ValueType::Float64:
            return 4;
    }
    return 1;
}

// The powers of ten that a double holds exactly, as pow() gives them, without
// its cost on every read.
constexpr std::array<double, 23> ExactPowersOfTen{
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

[[gnu::hot]] double Scale(double value, std::int16_t decimals) {
    const double divisor = decimals >= 0 && decimals < std::ssize(ExactPowersOfTen)
                               ? ExactPowersOfTen[static_cast<std::size_t>(decimals)]
                               : std::pow(10.0, decimals);
    if (!std::isfinite(divisor) || divisor == 0) return std::nan("");
    return value / divisor;
}

[[gnu::hot]] std::optional<ParsedNumber> DecodeValue(std::span<const std::uint16_t> addresses,
                                                     bool registers, const ValueFormat& f) {
    const std::uint64_t raw = join(addresses, registers, f.swapBytes);
    const bool u = f.isUnsigned;
    ParsedNumber number;
    switch (f.kind) {
        case ValueType::Int16: {
            if (f.noValue && raw == (u ? 0xFFFFu : 0x8000u)) return std::nullopt;
            if (!u && registers) return integer(static_cast<std::int16_t>(raw));
            return integer(raw);
        }
        case ValueType::Int32: {
            const auto bits = static_cast<std::uint32_t>(raw);
            if (f.noValue && bits == (u ? 0xFFFFFFFFu : 0x80000000u)) return std::nullopt;
            return u ? integer(bits) : integer(static_cast<std::int32_t>(bits));
        }
        case ValueType::Int64:
            if (f.noValue && raw == (u ? ~std::uint64_t{0} : std::uint64_t{1} << 63))
                return std::nullopt;
            return u ? integer(raw) : integer(static_cast<std::int64_t>(raw));
        case ValueType::Float32: {
            const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(raw));
            if (!std::isfinite(value)) return std::nullopt;
            number.value = decimalOf(value);
            break;
        }
        case ValueType::Float64:
            number.value = std::bit_cast<double>(raw);
            if (!std::isfinite(number.value)) return std::nullopt;
            break;
    }
    number.value += 0.0;  // -0 is written 0
    return number;
}

}  // namespace tarvel
