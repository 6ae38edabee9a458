#include "acquisition/ValueText.h"

#include <charconv>
#include <cmath>

namespace tarvel {
namespace {

// The text without the "0" before the point.
std::string withoutLeadingZero(std::string text) {
    if (text.rfind("0.", 0) == 0)
        text.erase(0, 1);
    else if (text.rfind("-0.", 0) == 0)
        text.erase(1, 1);
    return text;
}

// 15 significant digits, exponent notation outside that range.
std::string fifteenDigits(double value) {
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (error != std::errc()) return "";
    std::string text(buffer, end);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return text;
}

// The digits of an integer divided by ten to the decimals, exactly: a point
// moved left or zeros appended, no trailing zeros.
std::string scaledDigits(std::string digits, std::int16_t decimals) {
    const bool negative = digits.front() == '-';
    if (negative) digits.erase(0, 1);
    if (decimals < 0) {
        digits.append(static_cast<std::size_t>(-decimals), '0');
    } else if (decimals > 0) {
        const auto d = static_cast<std::size_t>(decimals);
        if (digits.size() <= d) digits.insert(0, d - digits.size() + 1, '0');
        digits.insert(digits.size() - d, ".");
        digits.erase(digits.find_last_not_of('0') + 1);
        if (digits.back() == '.') digits.pop_back();
    }
    return negative ? "-" + digits : digits;
}

// An integer of at most 15 digits over a power of ten from 1 to 10^22 is
// its own digits with the point moved: the text 15 significant digits of
// the quotient give, made without formatting a double (the quotient is the
// double nearest to those digits, and they come back from it). Nothing
// where that text takes an exponent: below 0.0001.
std::optional<std::string> shortIntegerText(const ParsedNumber& number, std::int16_t decimals) {
    constexpr std::uint64_t FifteenDigits = 1'000'000'000'000'000;
    if (!number.integer || number.magnitude >= FifteenDigits || decimals < 0 || decimals > 22)
        return std::nullopt;
    char digits[24];
    char* end = digits;
    if (number.negative) *end++ = '-';
    end = std::to_chars(end, digits + sizeof digits, number.magnitude).ptr;
    const auto count = end - digits - (number.negative ? 1 : 0);
    if (number.magnitude != 0 && count - 1 - decimals < -4) return std::nullopt;
    return scaledDigits(std::string(digits, end), decimals);
}

}  // namespace

std::string ValueText(double value) { return withoutLeadingZero(fifteenDigits(value)); }

std::optional<std::string> NumberText(const ParsedNumber& number, std::int16_t decimals,
                                       bool leadingZero) {
    const double scaled = Scale(number.value, decimals);
    if (!std::isfinite(scaled)) return std::nullopt;
    // From 16 digits on an integer keeps every digit.
    constexpr std::uint64_t SixteenDigits = 1'000'000'000'000'000;
    std::string text;
    if (number.integer && number.magnitude >= SixteenDigits)
        text = scaledDigits((number.negative ? "-" : "") + std::to_string(number.magnitude), decimals);
    else if (auto shortText = shortIntegerText(number, decimals))
        text = std::move(*shortText);
    else
        text = fifteenDigits(scaled);
    return leadingZero ? text : withoutLeadingZero(std::move(text));
}

}  // namespace tarvel
