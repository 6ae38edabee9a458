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
std::vector<std::string> MqttArguments(const MqttSettings& mqtt, const std::vector<RequestLine>& lines,
                                       const std::vector<int>& dispositiviRighe) {
    std::set<int> dispositivi, nodes;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const RequestLine& line = lines[i];
        if (line.kind == LineKind::Read || line.kind == LineKind::Constant)
            dispositivi.insert(dispositiviRighe[i]);
        if (line.reading && line.reading->node >= 1 && line.reading->node <= 255)
            nodes.insert(line.reading->node);
    }
    std::vector<std::string> argomenti;
    for (const int d : dispositivi) argomenti.push_back(mqtt.topic + "/" + std::to_string(d));
    argomenti.push_back(mqtt.topic + "/state");
    for (const int n : nodes) argomenti.push_back(mqtt.topic + "/status/" + std::to_string(n));
    return argomenti;
}

// The files that others must not read: the settings when they hold the
// broker's password, and the journal of the publishing. Each that the
// group or others may read, with how to mend it.
std::vector<std::string> ReadableByOthers(Program& prog, const MqttSettings& mqtt) {
    std::vector<std::pair<std::string, std::string>> file;
    if (prog.impostazioniCaricate().mqttPassword)
        file.emplace_back("il file " + prog.IniPath() + " contiene [MQTT] Password ed è",
                          prog.IniPath());
    if (!mqtt.host.empty()) file.emplace_back("il giornale " + mqtt.journal + " è", mqtt.journal);
    std::vector<std::string> avvisi;
    for (const auto& [cosa, path] : file) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0)
            avvisi.push_back(cosa + " leggibile da altri utenti: chmod 600 " + path);
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
        const bool valido = !letto || letto->reading.profile;
        if (valido && prog.ImpostaPortaSeriale(n)) return true;
        const std::string section = "Serial_" + std::to_string(n);
        const ProfileError& error = valido ? prog.profileError() : letto->reading.error;
        avvisi.push_back("profilo " + section +
                         ": Errore nell'impostazione della porta seriale. (" +
                         DescribeProfileError(section, error) + ")");
        return false;
    }
};

std::string count(std::size_t n, const char* uno, const char* molti) {
    return std::to_string(n) + " " + (n == 1 ? uno : molti);
}

}  // namespace

int CheckSettings(Program& prog, std::FILE* out) {
    std::fprintf(out, "# %s\n", prog.IniPath().c_str());
    if (!prog.CaricaImpostazioni()) return ExitCheckBadSettings;
    const MainState& s = prog.status();
    const MqttSettings& mqtt = prog.mqttSettings();
    std::fprintf(out, "%s%s\n", CheckHeader, mqtt.host.empty() ? "" : " | topic TEXT");
    std::fprintf(out, "caption\t%s\n", s.caption.c_str());
    std::fprintf(out, "interval\t%lld\n", static_cast<long long>(s.interval.count()));
    const LoadedSettings& caricate = prog.impostazioniCaricate();
    std::vector<std::string> avvisi;
    ControlloProfili profile{prog, avvisi, {}};
    const bool profiloZero = profile(0);
    const std::vector<RequestLine>& lines = prog.lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const RequestLine& line = lines[i];
        const Chiamata& c = line.fields;
        std::fprintf(out, "line\t%zu\t%s\t%s\t%s\t%s\t%s\t%s\n", i, LineKindName(line.kind),
                     c.Nodo.c_str(), c.Codice.c_str(), c.Registro.c_str(), c.Decimali.c_str(),
                     c.Descrizione.c_str());
        if (line.kind == LineKind::Serial) {
            if (line.profile)
                profile(*line.profile);
            else
                avvisi.push_back("riga " + std::to_string(i) + ": profilo fuori intervallo");
        }
        for (const auto& p : line.problems)
            avvisi.push_back("riga " + std::to_string(i) + ": " + p);
    }
    avvisi.insert(avvisi.end(), caricate.unreadLines.begin(), caricate.unreadLines.end());
    const std::vector<int> dispositivi = prog.DevicesOfList();
    for (const auto& p : ListProblems(lines, dispositivi))
        avvisi.push_back("riga " + std::to_string(p.line) + ": " + p.text);
    for (const auto& section : prog.refusedSections())
        avvisi.insert(avvisi.end(), section.problems.begin(), section.problems.end());
    for (auto& a : ReadableByOthers(prog, mqtt)) avvisi.push_back(std::move(a));
    if (!mqtt.host.empty()) {
        for (const auto& t : MqttArguments(mqtt, lines, dispositivi))
            std::fprintf(out, "topic\t%s\n", t.c_str());
        if (!mqtt.caFile.empty() && ::access(mqtt.caFile.c_str(), R_OK) != 0)
            avvisi.push_back("[MQTT] CAFile: impossibile leggere il file " + mqtt.caFile + " (" +
                             std::strerror(errno) + ")");
    }
    for (const auto& a : avvisi) std::fprintf(out, "warning\t%s\n", a.c_str());
    std::fprintf(out, "%s, %s\n", count(lines.size(), "riga", "righe").c_str(),
                 count(avvisi.size(), "avviso", "avvisi").c_str());
    // The runner would not start.
    if (!prog.refusedSections().empty()) return ExitCheckBadSettings;
    if (!profiloZero) return ExitCheckBadProfileZero;
    return avvisi.empty() ? ExitCheckClean : ExitCheckWarnings;
}

}  // namespace tarvel
