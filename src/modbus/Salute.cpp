#include "modbus/Salute.h"

#include <algorithm>
#include <vector>

namespace tarvel {

std::optional<std::chrono::microseconds> SaluteNodo::tempoMediano() const {
    if (quantiTempi == 0) return std::nullopt;
    std::vector<std::chrono::microseconds> ordinati(tempi.begin(),
                                                    tempi.begin() + static_cast<long>(quantiTempi));
    const auto meta = ordinati.begin() + static_cast<long>(quantiTempi / 2);
    std::nth_element(ordinati.begin(), meta, ordinati.end());
    if (quantiTempi % 2 == 1) return *meta;
    const auto sotto = *std::max_element(ordinati.begin(), meta);
    return (sotto + *meta) / 2;
}

void Salute::registra(std::uint8_t nodo, EsitoTransazione esito, std::uint8_t codiceEccezione,
                      std::chrono::microseconds durata, TimePoint adesso) {
    if (nodo == 0) return;
    SaluteNodo& n = nodi_[nodo];
    ++n.richieste;
    switch (esito) {
        case EsitoTransazione::Completa:
            ++n.buone;
            n.ultimaBuona = adesso;
            n.tempi[n.prossimoTempo] = durata;
            n.prossimoTempo = (n.prossimoTempo + 1) % SaluteNodo::Campioni;
            n.quantiTempi = std::min(n.quantiTempi + 1, SaluteNodo::Campioni);
            break;
        case EsitoTransazione::TimeOut:
        case EsitoTransazione::Parziale:
        case EsitoTransazione::ErrorePorta:
            ++n.timeOut;
            break;
        case EsitoTransazione::ErroreCRC:
            ++n.erroriCRC;
            break;
        case EsitoTransazione::RispostaErrata:
            ++n.risposteErrate;
            break;
        case EsitoTransazione::Eccezione:
            ++n.eccezioni[codiceEccezione];
            break;
        case EsitoTransazione::Broadcast:
            break;
    }
}

void Salute::saltata(std::uint8_t nodo) {
    if (nodo != 0) ++nodi_[nodo].saltate;
}

}  // namespace tarvel
