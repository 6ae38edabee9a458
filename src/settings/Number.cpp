#include "settings/Number.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace tarvel {
namespace {

// The blanks a number may have between its characters.
bool isSkippedInNumber(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads characters of the number, skipping blanks between them.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) {}
    char peek() {
        skipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    void next() { ++pos_; }

  private:
    void skipBlanks() {
        while (pos_ < text_.size() && isSkippedInNumber(text_[pos_])) ++pos_;
    }
    std::string_view text_;
    std::size_t pos_ = 0;
};

double readHex(Cursor& in) {
    double value = 0;
    for (char c = in.peek(); std::isxdigit(static_cast<unsigned char>(c)); c = in.peek()) {
        int digit = std::isdigit(static_cast<unsigned char>(c))
                        ? c - '0'
                        : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        value = value * 16 + digit;
        in.next();
    }
    return value;
}

}  // namespace

double LeadingNumber(std::string_view text) {
    Cursor in(text);
    if (in.peek() == '&') {
        in.next();
        char h = in.peek();
        if (h == 'h' || h == 'H') {
            in.next();
            double value = readHex(in);
            return std::isfinite(value) ? value : 0;
        }
        return 0;
    }
    std::string digits;
    bool negative = false;
    if (in.peek() == '+' || in.peek() == '-') {
        negative = in.peek() == '-';
        in.next();
    }
    bool any = false;
    bool point = false;
    for (char c = in.peek();; c = in.peek()) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            any = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        digits += c;
        in.next();
    }
    if (!any) return 0;
    char e = in.peek();
    if (e == 'e' || e == 'E' || e == 'd' || e == 'D') {
        std::string exponent = "e";
        in.next();
        if (in.peek() == '+' || in.peek() == '-') {
            exponent += in.peek();
            in.next();
        }
        bool expDigits = false;
        while (std::isdigit(static_cast<unsigned char>(in.peek())) && exponent.size() < 8) {
            exponent += in.peek();
            in.next();
            expDigits = true;
        }
        if (expDigits) digits += exponent;
    }
    // from_chars ignores the locale: the point is the decimal separator on
    // every system.
    double value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    (void)end;
    if (error != std::errc() || !std::isfinite(value)) return 0;
    return negative ? -value : value;
}

namespace {
template <typename Int>
std::optional<Int> roundTo(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double r = std::nearbyint(value);  // the default rounding mode: halves to even
    if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
        r > static_cast<double>(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return static_cast<Int>(r);
}
}  // namespace

std::optional<std::int16_t> RoundToInt16(double value) { return roundTo<std::int16_t>(value); }
std::optional<std::int32_t> RoundToInt32(double value) { return roundTo<std::int32_t>(value); }

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string ToUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace tarvel
