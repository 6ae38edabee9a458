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
std::string fifteenDigits(double valore) {
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, valore, std::chars_format::general, 15);
    if (error != std::errc()) return "";
    std::string text(buffer, end);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return text;
}

// The digits of an integer divided by ten to the decimals, exactly: a point
// moved left or zeros appended, no trailing zeros.
std::string cifreScalate(std::string cifre, std::int16_t decimali) {
    const bool negativo = cifre.front() == '-';
    if (negativo) cifre.erase(0, 1);
    if (decimali < 0) {
        cifre.append(static_cast<std::size_t>(-decimali), '0');
    } else if (decimali > 0) {
        const auto d = static_cast<std::size_t>(decimali);
        if (cifre.size() <= d) cifre.insert(0, d - cifre.size() + 1, '0');
        cifre.insert(cifre.size() - d, ".");
        cifre.erase(cifre.find_last_not_of('0') + 1);
        if (cifre.back() == '.') cifre.pop_back();
    }
    return negativo ? "-" + cifre : cifre;
}

}  // namespace

std::string TestoValore(double valore) { return withoutLeadingZero(fifteenDigits(valore)); }

std::optional<std::string> TestoNumero(const ParsedNumber& numero, std::int16_t decimali,
                                       bool leadingZero) {
    const double scalato = Scala(numero.valore, decimali);
    if (!std::isfinite(scalato)) return std::nullopt;
    // From 16 digits on an integer keeps every digit.
    constexpr std::uint64_t Sedici = 1'000'000'000'000'000;
    std::string testo =
        numero.intero && numero.modulo >= Sedici
            ? cifreScalate((numero.negativo ? "-" : "") + std::to_string(numero.modulo), decimali)
            : fifteenDigits(scalato);
    return leadingZero ? testo : withoutLeadingZero(std::move(testo));
}

}  // namespace tarvel
