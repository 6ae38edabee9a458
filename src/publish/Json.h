#pragma once
// The few pieces of JSON the published messages are made of.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// The next code point of well-formed UTF-8 at i, i moved past it; nothing
// for a malformed one (overlong, a surrogate, beyond U+10FFFF).
std::optional<std::uint32_t> CodePoint(std::string_view s, std::size_t& i);

// The text as a JSON string, quotes included. Text that is not UTF-8 is
// taken as Latin-1, the 8-bit text of the settings file.
std::string JsonString(std::string_view text);

}  // namespace tarvel
