#include "settings/KeyRules.h"

#include <charconv>

#include "settings/Number.h"

namespace tarvel {

std::optional<std::int64_t> WholeNumber(std::string_view text) {
    text = Trim(text);
    // from_chars takes a "-" but no "+", and nothing but digits after it.
    if (text.empty() || text.front() == '+') return std::nullopt;
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<std::int64_t> WholeNumberIn(std::string_view text, std::int64_t min,
                                          std::int64_t max) {
    const std::optional<std::int64_t> value = WholeNumber(text);
    if (!value || *value < min || *value > max) return std::nullopt;
    return value;
}

std::string RangeText(std::int64_t min, std::int64_t max) {
    return "da " + std::to_string(min) + " a " + std::to_string(max);
}

std::string BadValueText(std::string_view section, std::string_view key, std::string_view value,
                         std::string_view takes) {
    std::string text = "[" + std::string(section) + "] " + std::string(key) +
                       ": valore non valido \"" + std::string(value) + "\"";
    if (!takes.empty()) text += " (" + std::string(takes) + ")";
    return text;
}

std::optional<std::string> EncodingProblem(std::string_view value) {
    for (const char c : value) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letter && !(c >= '0' && c <= '9') && c != '.' && c != '_' && c != '-' && c != ':')
            return BadValueText("XML", "Encoding", value, "lettere, cifre, . _ - :");
    }
    return std::nullopt;
}

}  // namespace tarvel
