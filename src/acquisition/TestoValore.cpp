#include "acquisition/TestoValore.h"

#include <charconv>

namespace tarvel {
namespace {
constexpr double ValoreFallito = 99999;
}

std::string TestoValore(double valore) {
    if (valore == ValoreFallito) return "";
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, valore, std::chars_format::general, 15);
    if (error != std::errc()) return "";
    std::string text(buffer, end);
    for (char& c : text)
        if (c == 'e') c = 'E';
    if (text.rfind("0.", 0) == 0)
        text.erase(0, 1);
    else if (text.rfind("-0.", 0) == 0)
        text.erase(1, 1);
    return text;
}

}  // namespace tarvel
