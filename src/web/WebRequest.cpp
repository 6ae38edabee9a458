#include "web/WebRequest.h"

#include <charconv>

namespace tarvel {
namespace {

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Padded base64; nothing for any other text.
std::optional<std::string> base64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && text.size() > padding && text[text.size() - 1 - padding] == '=') ++padding;
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int d = base64Digit(text[i]);
        if (d < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(d);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

}  // namespace

std::optional<Credentials> BasicCredentials(std::string_view header) {
    const std::size_t space = header.find(' ');
    if (space == std::string_view::npos || !sameLetters(header.substr(0, space), "basic"))
        return std::nullopt;
    std::string_view token = header.substr(space + 1);
    while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
    while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
    const std::optional<std::string> decoded = base64(token);
    if (!decoded) return std::nullopt;
    const std::size_t colon = decoded->find(':');
    if (colon == std::string::npos) return std::nullopt;
    return Credentials{decoded->substr(0, colon), decoded->substr(colon + 1)};
}

bool SameSecret(std::string_view given, std::string_view expected) {
    unsigned difference = given.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char g = i < given.size() ? given[i] : '\0';
        difference |= static_cast<unsigned char>(g ^ expected[i]);
    }
    return difference == 0;
}

bool Authorized(std::string_view header, std::string_view user, std::string_view password) {
    const std::optional<Credentials> c = BasicCredentials(header);
    const Credentials given = c ? *c : Credentials{};
    // Both compared whatever the first gives.
    const bool sameUser = SameSecret(given.user, user);
    const bool samePassword = SameSecret(given.password, password);
    return c.has_value() && sameUser && samePassword;
}

std::optional<std::uint64_t> CountParameter(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

}  // namespace tarvel
