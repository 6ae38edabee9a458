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

// Whether an integer's own digits (`count` of them) with the point moved
// are the text 15 significant digits of its quotient give: so it is for 15
// digits at most over a power of ten from 1 to 10^22 (the quotient is then
// the double nearest to them, and they come back from it), unless that text
// takes an exponent (below 0.0001).
bool digitsAreFifteenDigitText(const ParsedNumber& number, std::int16_t decimals, std::size_t count) {
    if (count > 15 || decimals < 0 || decimals > 22) return false;
    return number.magnitude == 0 || static_cast<int>(count) - 1 - decimals >= -4;
}

}  // namespace

std::string ValueText(double value) { return withoutLeadingZero(fifteenDigits(value)); }

std::optional<std::string> NumberText(const ParsedNumber& number, std::int16_t decimals,
                                       bool leadingZero) {
    const double scaled = Scale(number.value, decimals);
    if (!std::isfinite(scaled)) return std::nullopt;
    // From 16 digits on an integer keeps every digit.
    const std::string digits = number.integer ? std::to_string(number.magnitude) : std::string();
    std::string text =
        number.integer && (digits.size() >= 16 || digitsAreFifteenDigitText(number, decimals, digits.size()))
            ? scaledDigits((number.negative ? "-" : "") + digits, decimals)
            : fifteenDigits(scaled);
    return leadingZero ? text : withoutLeadingZero(std::move(text));
}

}  // namespace tarvel
