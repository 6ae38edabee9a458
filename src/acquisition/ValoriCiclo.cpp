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
                                     const std::vector<RispostaRiga>& risposte,
                                     const LettoreIni& leggiIni) {
    std::vector<std::string> testi;
    testi.reserve(risposte.size());
    for (const RispostaRiga& r : risposte) testi.push_back(r.risposta.testo);
    const std::vector<int> dispositivi = DispositiviRisposte(testi, leggiIni);
    std::vector<ValoreCiclo> valori;
    for (std::size_t i = 0; i < risposte.size(); ++i) {
        const RispostaRiga& r = risposte[i];
        if (r.indice >= righe.size()) continue;
        const Riga& riga = righe[r.indice];
        if (riga.tipo != TipoRiga::Lettura && riga.tipo != TipoRiga::Costante) continue;
        ValoreCiclo v{dispositivi[i], riga.campiEseguiti.Descrizione, ValoreCiclo::Tipo::Testo,
                      std::string(TestoElemento(r.risposta.testo, riga.campiEseguiti.Descrizione)),
                      r.indice};
        if (riga.tipo == TipoRiga::Lettura)
            v.tipo = r.risposta.letturaFallita || v.testo.empty() ? ValoreCiclo::Tipo::Mancante
                                                                  : ValoreCiclo::Tipo::Numero;
        valori.push_back(std::move(v));
    }
    return valori;
}

std::vector<int> DispositiviRighe(const std::vector<Riga>& righe, const LettoreIni& leggiIni) {
    // The answer line each line gives when it runs, as far as the output
    // tells them apart.
    std::vector<std::string> testi;
    testi.reserve(righe.size());
    for (const Riga& riga : righe) {
        switch (riga.tipo) {
            case TipoRiga::Seriale:
                testi.push_back("Serial_" + riga.campi.Codice);
                break;
            case TipoRiga::Prossimo:
                testi.emplace_back("%Next device");
                break;
            case TipoRiga::Lettura:
            case TipoRiga::Costante:
                testi.push_back("<" + riga.campiEseguiti.Descrizione + ">");
                break;
            default:
                testi.emplace_back("#");
                break;
        }
    }
    return DispositiviRisposte(testi, leggiIni);
}

}  // namespace tarvel
