#include "modbus/Blocco.h"

#include <cstdio>

#include "modbus/Valore.h"

namespace tarvel {

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
    return Scala(DecodificaValore({testo}, {TipoValore::Intero16, senzaSegno})->valore, decimali);
}

double Valore32(const std::string& alto, const std::string& basso, std::int16_t decimali,
                bool senzaSegno) {
    return Scala(DecodificaValore({alto, basso}, {TipoValore::Intero32, senzaSegno})->valore,
                 decimali);
}

}  // namespace tarvel
