#include "modbus/Health.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tarvel {

std::optional<std::chrono::microseconds> NodeHealth::tempoMediano() const {
    if (quantiTempi == 0) return std::nullopt;
    std::vector<std::chrono::microseconds> ordinati(tempi.begin(),
                                                    tempi.begin() + static_cast<long>(quantiTempi));
    const auto meta = ordinati.begin() + static_cast<long>(quantiTempi / 2);
    std::nth_element(ordinati.begin(), meta, ordinati.end());
    if (quantiTempi % 2 == 1) return *meta;
    const auto sotto = *std::max_element(ordinati.begin(), meta);
    return (sotto + *meta) / 2;
}

void Health::registra(const Transaction& t, TimePoint adesso) {
    if (t.node == 0) return;
    NodeHealth& n = nodi_[t.node];
    ++n.richieste;
    switch (t.outcome) {
        case TransactionResult::Complete:
            ++n.buone;
            n.ultimaBuona = adesso;
            n.tempi[n.prossimoTempo] = t.duration;
            n.prossimoTempo = (n.prossimoTempo + 1) % NodeHealth::Campioni;
            n.quantiTempi = std::min(n.quantiTempi + 1, NodeHealth::Campioni);
            break;
        case TransactionResult::TimeOut:
        case TransactionResult::Partial:
        case TransactionResult::PortFailure:
            ++n.timeOut;
            break;
        case TransactionResult::CrcError:
            ++n.erroriCRC;
            break;
        case TransactionResult::WrongAnswer:
            ++n.risposteErrate;
            break;
        case TransactionResult::Exception:
            ++n.eccezioni[t.exceptionCode];
            break;
        case TransactionResult::Broadcast:
            break;
    }
}

void Health::saltata(std::uint8_t nodo) {
    if (nodo != 0) ++nodi_[nodo].saltate;
}

std::vector<std::string> CampiSalute(std::uint8_t nodo, const NodeHealth& salute) {
    std::string eccezioni;
    for (const auto& [codice, quante] : salute.eccezioni) {
        if (!eccezioni.empty()) eccezioni += ' ';
        eccezioni += std::to_string(codice) + ':' + std::to_string(quante);
    }
    std::string mediano = "-";
    if (const auto t = salute.tempoMediano()) {
        char testo[32];
        std::snprintf(testo, sizeof testo, "%.1f", static_cast<double>(t->count()) / 1000.0);
        mediano = testo;
    }
    return {std::to_string(nodo),
            std::to_string(salute.richieste),
            std::to_string(salute.buone),
            std::to_string(salute.timeOut),
            std::to_string(salute.erroriCRC),
            std::to_string(salute.risposteErrate),
            eccezioni.empty() ? std::string("-") : eccezioni,
            std::to_string(salute.saltate),
            mediano};
}

const std::vector<std::string>& IntestazioniSalute() {
    static const std::vector<std::string> intestazioni{
        "Nodo",      "Richieste", "Buone",   "Time-out",          "Errori CRC",
        "Risposte errate", "Eccezioni", "Saltate", "Tempo mediano (ms)"};
    return intestazioni;
}

}  // namespace tarvel
