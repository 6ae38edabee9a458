#include "VerificaImpostazioni.h"

#include <set>
#include <string>
#include <vector>

#include "acquisition/Verifica.h"
#include "modbus/Profilo.h"

namespace tarvel {
namespace {

std::string conteggio(std::size_t n, const char* uno, const char* molti) {
    return std::to_string(n) + " " + (n == 1 ? uno : molti);
}

}  // namespace

int VerificaImpostazioni(Programma& prog, std::FILE* out) {
    std::fprintf(out, "# %s\n", prog.PercorsoIni().c_str());
    if (!prog.CaricaImpostazioni()) return VerificaImpostazioniErrate;
    const MainState& s = prog.stato();
    std::fprintf(out, "%s\n", IntestazioneVerifica);
    std::fprintf(out, "caption\t%s\n", s.didascalia.c_str());
    std::fprintf(out, "interval\t%lld\n", static_cast<long long>(s.intervallo.count()));
    std::vector<std::string> avvisi;
    std::set<int> controllati;
    // Each profile once, through the same set-up as a run.
    auto profilo = [&](std::int16_t n) {
        if (!controllati.insert(n).second || prog.ImpostaPortaSeriale(n)) return true;
        avvisi.push_back("profilo " + prog.sezioneProfilo() +
                         ": Errore nell'impostazione della porta seriale. (" +
                         DescriviErroreProfilo(prog.sezioneProfilo(), prog.erroreProfilo()) + ")");
        return false;
    };
    const bool profiloZero = profilo(0);
    const std::vector<Riga>& righe = prog.righe();
    for (std::size_t i = 0; i < righe.size(); ++i) {
        const Riga& riga = righe[i];
        const Chiamata& c = riga.campi;
        std::fprintf(out, "line\t%zu\t%s\t%s\t%s\t%s\t%s\t%s\n", i, NomeTipoRiga(riga.tipo),
                     c.Nodo.c_str(), c.Codice.c_str(), c.Registro.c_str(), c.Decimali.c_str(),
                     c.Descrizione.c_str());
        if (riga.tipo == TipoRiga::Seriale) {
            if (riga.profilo)
                profilo(*riga.profilo);
            else
                avvisi.push_back("riga " + std::to_string(i) + ": profilo fuori intervallo");
        }
        for (const auto& p : ProblemiRiga(riga.testo))
            avvisi.push_back("riga " + std::to_string(i) + ": " + p);
    }
    for (const auto& p : ProblemiElenco(righe))
        avvisi.push_back("riga " + std::to_string(p.riga) + ": " + p.testo);
    for (const auto& a : avvisi) std::fprintf(out, "warning\t%s\n", a.c_str());
    std::fprintf(out, "%s, %s\n", conteggio(righe.size(), "riga", "righe").c_str(),
                 conteggio(avvisi.size(), "avviso", "avvisi").c_str());
    if (!profiloZero) return VerificaProfiloZeroErrato;
    return avvisi.empty() ? VerificaSenzaAvvisi : VerificaConAvvisi;
}

}  // namespace tarvel
