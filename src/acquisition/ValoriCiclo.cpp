#include "acquisition/ValoriCiclo.h"

#include <string_view>

namespace tarvel {
namespace {

// The text between <name> and </name>, as the output has it.
std::string_view TestoElemento(std::string_view risposta, const std::string& nome) {
    const std::size_t apertura = nome.size() + 2;
    const std::size_t chiusura = nome.size() + 3;
    if (risposta.size() < apertura + chiusura) return {};
    return risposta.substr(apertura, risposta.size() - apertura - chiusura);
}

}  // namespace

std::vector<ValoreCiclo> ValoriCiclo(const std::vector<Riga>& righe,
                                     const std::vector<RispostaRiga>& risposte) {
    std::vector<ValoreCiclo> valori;
    int dispositivo = 1;
    for (const RispostaRiga& r : risposte) {
        if (r.indice >= righe.size()) continue;
        const Riga& riga = righe[r.indice];
        if (riga.tipo == TipoRiga::Prossimo) ++dispositivo;
        if (riga.tipo != TipoRiga::Lettura && riga.tipo != TipoRiga::Costante) continue;
        ValoreCiclo v{dispositivo, riga.campiEseguiti.Descrizione, ValoreCiclo::Tipo::Testo,
                      std::string(TestoElemento(r.risposta.testo, riga.campiEseguiti.Descrizione)),
                      r.indice};
        if (riga.tipo == TipoRiga::Lettura)
            v.tipo = r.risposta.letturaFallita || v.testo.empty() ? ValoreCiclo::Tipo::Mancante
                                                                  : ValoreCiclo::Tipo::Numero;
        valori.push_back(std::move(v));
    }
    return valori;
}

}  // namespace tarvel
