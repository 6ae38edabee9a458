#pragma once
// The checks that the values of the settings go through before they are
// used, shared by a run and by the settings check, and the message that
// names a key with its value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// A whole number written in decimal digits, a "-" before them allowed and
// blanks around it ignored; nothing for any other text (a point, an
// exponent, letters, no digits, more than 64 bits).
std::optional<std::int64_t> WholeNumber(std::string_view text);

// A whole number from min to max, as WholeNumber reads it.
std::optional<std::int64_t> WholeNumberIn(std::string_view text, std::int64_t min,
                                          std::int64_t max);

// What a key with a range takes: "from 1 a 65535".
std::string RangeText(std::int64_t min, std::int64_t max);

// `[section] key: value non valid "value"`, then what the key takes in
// parentheses when it is given.
std::string BadValueText(std::string_view section, std::string_view key, std::string_view value,
                         std::string_view takes = {});

// A value of [XML] Encoding that is no encoding name (letters, digits, ".",
// "_", "-" and ":", at least one), named with the key; nothing for a name
// and for empty text (the default, UTF-8). The name goes into the XML
// declaration of every output file as it is written.
std::optional<std::string> EncodingProblem(std::string_view value);

}  // namespace tarvel
