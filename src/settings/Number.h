#pragma once
// The leading number of a text, the one rule every setting and request field
// is read with: blanks are ignored, a decimal point and an exponent are
// allowed, "&H" introduces hexadecimal digits, and a text that does not
// start with a number gives 0.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvel {

double LeadingNumber(std::string_view text);

// Rounds to the nearest integer, halves to the even neighbour; nothing when
// the result does not fit the width (or the number is not finite).
std::optional<std::int16_t> RoundToInt16(double value);
std::optional<std::int32_t> RoundToInt32(double value);

// The blanks around names, values and fields: space, tab, CR, LF, vertical
// tab and form feed.
bool IsBlank(char c);
// Blanks removed from both ends.
std::string_view Trim(std::string_view text);
std::string ToUpper(std::string_view text);

}  // namespace tarvel
