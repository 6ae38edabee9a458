#include "modbus/Blocco.h"

#include <cmath>
#include <cstdio>

namespace tarvel {
namespace {

// Decimals beyond what a double can scale by give no number at all (NaN),
// never a plausible 0 or an infinity.
double scala(double raw, std::int16_t decimali) {
    const double divisore = std::pow(10.0, decimali);
    if (!std::isfinite(divisore) || divisore == 0) return std::nan("");
    return raw / divisore;
}

}  // namespace

std::optional<std::string> TestoElemento(const Blocco& blocco, std::uint32_t indirizzo) {
    if (indirizzo < blocco.inizio || indirizzo >= blocco.inizio + std::uint32_t{blocco.quantita})
        return std::nullopt;
    const std::size_t posto = indirizzo - blocco.inizio;
    char testo[5];
    if (blocco.funzione <= 2) {
        if (posto / 8 >= blocco.dati.size()) return std::nullopt;
        std::snprintf(testo, sizeof testo, "%u", (blocco.dati[posto / 8] >> (posto % 8)) & 1u);
        return testo;
    }
    if (2 * posto + 1 >= blocco.dati.size()) return std::nullopt;
    std::snprintf(testo, sizeof testo, "%02X%02X", blocco.dati[2 * posto],
                  blocco.dati[2 * posto + 1]);
    return testo;
}

double Valore16(const std::string& testo, std::int16_t decimali, bool senzaSegno) {
    auto raw = static_cast<std::uint32_t>(std::stoul(testo, nullptr, 16));
    double valore = (!senzaSegno && testo.size() == 4)
                        ? static_cast<std::int16_t>(static_cast<std::uint16_t>(raw))
                        : static_cast<double>(raw);
    return scala(valore, decimali);
}

double Valore32(const std::string& alto, const std::string& basso, std::int16_t decimali,
                bool senzaSegno) {
    std::uint64_t raw = std::stoull(alto + basso, nullptr, 16) & 0xFFFFFFFFull;
    double valore = senzaSegno ? static_cast<double>(raw)
                               : static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
    return scala(valore, decimali);
}

}  // namespace tarvel
