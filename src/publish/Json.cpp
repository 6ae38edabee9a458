#include "publish/Json.h"

#include <cstdint>

namespace tarvel {
namespace {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates).
bool Utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();)
        if (!CodePoint(s, i)) return false;
    return true;
}

}  // namespace

std::optional<std::uint32_t> CodePoint(std::string_view s, std::size_t& i) {
    static constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80           ? 0
                          : (c >> 5) == 0x6  ? 1
                          : (c >> 4) == 0xE  ? 2
                          : (c >> 3) == 0x1E ? 3
                                             : 4;
    if (n == 4 || s.size() - i <= n) return std::nullopt;
    std::uint32_t code = n == 0 ? c : c & (0x3Fu >> n);
    for (std::size_t k = 1; k <= n; ++k) {
        const auto d = static_cast<unsigned char>(s[i + k]);
        if ((d >> 6) != 0x2) return std::nullopt;
        code = code << 6 | (d & 0x3Fu);
    }
    i += n + 1;
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return code;
}

std::string JsonString(std::string_view text) {
    const bool utf8 = Utf8(text);
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else if (c >= 0x80 && !utf8) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

}  // namespace tarvel
