#include "SettingsCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "acquisition/ListCheck.h"
#include "modbus/SerialProfile.h"

namespace tarvel {
namespace {

// The topics a run would publish on: each device's, the state, and each
// node's health.
std::vector<std::string> ArgomentiMqtt(const MqttSettings& mqtt, const std::vector<RequestLine>& righe,
                                       const std::vector<int>& dispositiviRighe) {
    std::set<int> dispositivi, nodi;
    for (std::size_t i = 0; i < righe.size(); ++i) {
        const RequestLine& riga = righe[i];
        if (riga.tipo == LineKind::Read || riga.tipo == LineKind::Constant)
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

// The files that others must not read: the settings when they hold the
// broker's password, and the journal of the publishing. Each that the
// group or others may read, with how to mend it.
std::vector<std::string> FileLeggibiliDaAltri(Program& prog, const MqttSettings& mqtt) {
    std::vector<std::pair<std::string, std::string>> file;
    if (prog.impostazioniCaricate().mqttPassword)
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

// Each profile once: as the load read it, then through the same set-up as
// a run; false, with a warning, when it fails.
struct ControlloProfili {
    Program& prog;
    std::vector<std::string>& avvisi;
    std::set<int> controllati;

    bool operator()(std::int16_t n) {
        if (!controllati.insert(n).second) return true;
        const LoadedProfile* letto = prog.impostazioniCaricate().profile(n);
        const bool valido = !letto || letto->reading.profilo;
        if (valido && prog.ImpostaPortaSeriale(n)) return true;
        const std::string sezione = "Serial_" + std::to_string(n);
        const ProfileError& errore = valido ? prog.erroreProfilo() : letto->reading.errore;
        avvisi.push_back("profilo " + sezione +
                         ": Errore nell'impostazione della porta seriale. (" +
                         DescriviErroreProfilo(sezione, errore) + ")");
        return false;
    }
};

std::string conteggio(std::size_t n, const char* uno, const char* molti) {
    return std::to_string(n) + " " + (n == 1 ? uno : molti);
}

}  // namespace

int VerificaImpostazioni(Program& prog, std::FILE* out) {
    std::fprintf(out, "# %s\n", prog.PercorsoIni().c_str());
    if (!prog.CaricaImpostazioni()) return VerificaImpostazioniErrate;
    const MainState& s = prog.stato();
    const MqttSettings& mqtt = prog.impostazioniMqtt();
    std::fprintf(out, "%s%s\n", IntestazioneVerifica, mqtt.host.empty() ? "" : " | topic TEXT");
    std::fprintf(out, "caption\t%s\n", s.didascalia.c_str());
    std::fprintf(out, "interval\t%lld\n", static_cast<long long>(s.intervallo.count()));
    const LoadedSettings& caricate = prog.impostazioniCaricate();
    std::vector<std::string> avvisi;
    ControlloProfili profilo{prog, avvisi, {}};
    const bool profiloZero = profilo(0);
    const std::vector<RequestLine>& righe = prog.righe();
    for (std::size_t i = 0; i < righe.size(); ++i) {
        const RequestLine& riga = righe[i];
        const Chiamata& c = riga.campi;
        std::fprintf(out, "line\t%zu\t%s\t%s\t%s\t%s\t%s\t%s\n", i, NomeTipoRiga(riga.tipo),
                     c.Nodo.c_str(), c.Codice.c_str(), c.Registro.c_str(), c.Decimali.c_str(),
                     c.Descrizione.c_str());
        if (riga.tipo == LineKind::Serial) {
            if (riga.profilo)
                profilo(*riga.profilo);
            else
                avvisi.push_back("riga " + std::to_string(i) + ": profilo fuori intervallo");
        }
        for (const auto& p : riga.problemi)
            avvisi.push_back("riga " + std::to_string(i) + ": " + p);
    }
    avvisi.insert(avvisi.end(), caricate.unreadLines.begin(), caricate.unreadLines.end());
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
