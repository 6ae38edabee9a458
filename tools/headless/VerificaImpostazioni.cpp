#include "VerificaImpostazioni.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "acquisition/ElencoChiamate.h"
#include "acquisition/Verifica.h"
#include "modbus/Profilo.h"
#include "settings/IniDocument.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

// The topics a run would publish on: each device's, the state, and each
// node's health.
std::vector<std::string> ArgomentiMqtt(const ImpostazioniMqtt& mqtt, const std::vector<Riga>& righe,
                                       const std::vector<int>& dispositiviRighe) {
    std::set<int> dispositivi, nodi;
    for (std::size_t i = 0; i < righe.size(); ++i) {
        const Riga& riga = righe[i];
        if (riga.tipo == TipoRiga::Lettura || riga.tipo == TipoRiga::Costante)
            dispositivi.insert(dispositiviRighe[i]);
        if (riga.lettura && riga.lettura->nodo >= 1 && riga.lettura->nodo <= 255)
            nodi.insert(riga.lettura->nodo);
    }
    std::vector<std::string> argomenti;
    for (const int d : dispositivi) argomenti.push_back(mqtt.topic + "/" + std::to_string(d));
    argomenti.push_back(mqtt.topic + "/state");
    for (const int n : nodi) argomenti.push_back(mqtt.topic + "/status/" + std::to_string(n));
    return argomenti;
}

// The key names of [Parameters] as the file has them, in order of number.
std::vector<std::string> ChiaviParametri(const std::string& percorso) {
    std::ifstream file(percorso, std::ios::binary);
    const std::string testo{std::istreambuf_iterator<char>(file), {}};
    std::vector<std::string> chiavi;
    IniDocument(testo).forEach(
        [&](std::string_view sezione, std::string_view chiave, std::string_view) {
            if (Maiuscolo(sezione) == "PARAMETERS") chiavi.emplace_back(chiave);
        });
    std::sort(chiavi.begin(), chiavi.end(), [](const std::string& a, const std::string& b) {
        return std::pair(a.size(), a) < std::pair(b.size(), b);
    });
    return chiavi;
}

// The files that others must not read: the settings when they hold the
// broker's password, and the journal of the publishing. Each that the
// group or others may read, with how to mend it.
std::vector<std::string> FileLeggibiliDaAltri(Programma& prog, const ImpostazioniMqtt& mqtt) {
    std::vector<std::pair<std::string, std::string>> file;
    if (!prog.LeggiIni("MQTT", "Password", "").empty())
        file.emplace_back("il file " + prog.PercorsoIni() + " contiene [MQTT] Password ed è",
                          prog.PercorsoIni());
    if (!mqtt.host.empty()) file.emplace_back("il giornale " + mqtt.journal + " è", mqtt.journal);
    std::vector<std::string> avvisi;
    for (const auto& [cosa, percorso] : file) {
        struct stat st {};
        if (::stat(percorso.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0)
            avvisi.push_back(cosa + " leggibile da altri utenti: chmod 600 " + percorso);
    }
    return avvisi;
}

std::string conteggio(std::size_t n, const char* uno, const char* molti) {
    return std::to_string(n) + " " + (n == 1 ? uno : molti);
}

}  // namespace

int VerificaImpostazioni(Programma& prog, std::FILE* out) {
    std::fprintf(out, "# %s\n", prog.PercorsoIni().c_str());
    if (!prog.CaricaImpostazioni()) return VerificaImpostazioniErrate;
    const MainState& s = prog.stato();
    const ImpostazioniMqtt& mqtt = prog.impostazioniMqtt();
    std::fprintf(out, "%s%s\n", IntestazioneVerifica, mqtt.host.empty() ? "" : " | topic TEXT");
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
        for (const auto& p : riga.problemi)
            avvisi.push_back("riga " + std::to_string(i) + ": " + p);
    }
    for (const auto& a : RigheNonLette(ChiaviParametri(prog.PercorsoIni()), prog.impostazioni()))
        avvisi.push_back(a);
    const std::vector<int> dispositivi = prog.DispositiviElenco();
    for (const auto& p : ProblemiElenco(righe, dispositivi))
        avvisi.push_back("riga " + std::to_string(p.riga) + ": " + p.testo);
    for (const auto& sezione : prog.sezioniRifiutate())
        avvisi.insert(avvisi.end(), sezione.problemi.begin(), sezione.problemi.end());
    for (auto& a : FileLeggibiliDaAltri(prog, mqtt)) avvisi.push_back(std::move(a));
    if (!mqtt.host.empty()) {
        for (const auto& t : ArgomentiMqtt(mqtt, righe, dispositivi))
            std::fprintf(out, "topic\t%s\n", t.c_str());
        if (!mqtt.caFile.empty() && ::access(mqtt.caFile.c_str(), R_OK) != 0)
            avvisi.push_back("[MQTT] CAFile: impossibile leggere il file " + mqtt.caFile + " (" +
                             std::strerror(errno) + ")");
    }
    for (const auto& a : avvisi) std::fprintf(out, "warning\t%s\n", a.c_str());
    std::fprintf(out, "%s, %s\n", conteggio(righe.size(), "riga", "righe").c_str(),
                 conteggio(avvisi.size(), "avviso", "avvisi").c_str());
    // The runner would not start.
    if (!prog.sezioniRifiutate().empty()) return VerificaImpostazioniErrate;
    if (!profiloZero) return VerificaProfiloZeroErrato;
    return avvisi.empty() ? VerificaSenzaAvvisi : VerificaConAvvisi;
}

}  // namespace tarvel
