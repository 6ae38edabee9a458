#include "SettingsCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "acquisition/CyclePrediction.h"
#include "acquisition/ListCheck.h"
#include "modbus/SerialProfile.h"
#include "publish/Publisher.h"

namespace tarvel {
namespace {

// The topics a run would publish on: each device's, the state, and each
// node's health.
std::vector<std::string> MqttArguments(const MqttSettings& mqtt, const std::vector<RequestLine>& lines,
                                       const std::vector<int>& deviceRows) {
    std::set<int> devices, nodes;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const RequestLine& line = lines[i];
        if (line.kind == LineKind::Read || line.kind == LineKind::Constant)
            devices.insert(deviceRows[i]);
        if (line.reading && line.reading->node >= 1 && line.reading->node <= 255)
            nodes.insert(line.reading->node);
    }
    std::vector<std::string> args;
    for (const int d : devices) args.push_back(mqtt.topic + "/" + std::to_string(d));
    args.push_back(mqtt.topic + "/state");
    for (const int n : nodes) args.push_back(mqtt.topic + "/status/" + std::to_string(n));
    return args;
}

// The files that others must not read: the settings when they hold the
// broker's password, and the journal of the publishing. Each that the
// group or others may read, with how to mend it.
std::vector<std::string> ReadableByOthers(Program& prog, const MqttSettings& mqtt) {
    std::vector<std::pair<std::string, std::string>> file;
    if (prog.loadedSettings().mqttPassword)
        file.emplace_back("il file " + prog.IniPath() + " contiene [MQTT] Password ed è",
                          prog.IniPath());
    if (!mqtt.host.empty()) file.emplace_back("il giornale " + mqtt.journal + " è", mqtt.journal);
    std::vector<std::string> warnings;
    for (const auto& [fileRole, path] : file) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0)
            warnings.push_back(fileRole + " leggibile da altri utenti: chmod 600 " + path);
    }
    return warnings;
}

// Each profile once: as the load read it, then through the same set-up as
// a run; false, with a warning, when it fails.
struct ProfileCheck {
    Program& prog;
    std::vector<std::string>& warnings;
    std::set<int> checkedCount;

    bool operator()(std::int16_t n) {
        if (!checkedCount.insert(n).second) return true;
        const LoadedProfile* readValue = prog.loadedSettings().profile(n);
        const bool valid = !readValue || readValue->reading.profile;
        if (valid && prog.ImpostaPortaSeriale(n)) return true;
        const std::string section = "Serial_" + std::to_string(n);
        const ProfileError& error = valid ? prog.profileError() : readValue->reading.error;
        warnings.push_back("profilo " + section +
                         ": Errore nell'impostazione della porta seriale. (" +
                         DescribeProfileError(section, error) + ")");
        return false;
    }
};

// The cycle each port should take (PredictCycle), one record a port.
void PrintCycle(Program& prog, std::FILE* out) {
    const LoadedSettings& loaded = prog.loadedSettings();
    const CycleSettings settings{
        prog.lines(),
        [&loaded](std::int16_t n) -> const SerialProfile* {
            const LoadedProfile* p = loaded.profile(n);
            return p && p->reading.profile ? &*p->reading.profile : nullptr;
        },
        [&prog](const std::string& com) {
            const std::string device = prog.LeggiIni("Ports", "COM" + com, "");
            return device.starts_with("tcp://") || device.starts_with("mbtcp://");
        },
        prog.status().interval};
    for (const PortForecast& f : PredictCycle(settings))
        std::fprintf(out, "cycle\tCOM%s\t%s\t%s\t%s\n", f.com.c_str(),
                     FormatTenths(f.bestMs).c_str(), FormatTenths(f.worstMs).c_str(),
                     FormatTenths(f.busyPercent).c_str());
}

// Two names of a device that would share a discovery config, each told
// with the line that keeps the plain name.
std::vector<std::string> DiscoveryClashes(const std::vector<RequestLine>& lines,
                                          const std::vector<int>& devices) {
    std::vector<std::string> warnings;
    const std::vector<DiscoverySubject> subjects = DiscoverySubjects(lines, devices);
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        if (!subjects[i].clashesWith) continue;
        const std::size_t first = *subjects[i].clashesWith;
        warnings.push_back("riga " + std::to_string(i) + ": descrizione \"" +
                           lines[i].shownFields.Descrizione + "\" con lo stesso nome MQTT di \"" +
                           lines[first].shownFields.Descrizione + "\" della riga " +
                           std::to_string(first) + " (" + subjects[first].subject +
                           "): il discovery la pubblica come " + subjects[i].subject);
    }
    return warnings;
}

// The address the page will be served on; a warning for a certificate or
// key that cannot be read.
void webCheck(const WebSettings& web, std::FILE* out, std::vector<std::string>& warnings) {
    std::fprintf(out, "web\t%s\n", web.address().c_str());
    for (const auto& [key, file] : {std::pair("CertFile", &web.certFile), std::pair("KeyFile", &web.keyFile)})
        if (!file->empty() && ::access(file->c_str(), R_OK) != 0)
            warnings.push_back("[Web] " + std::string(key) + ": impossibile leggere il file " + *file +
                               " (" + std::strerror(errno) + ")");
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int CheckSettings(Program& prog, std::FILE* out) {
    std::fprintf(out, "# %s\n", prog.IniPath().c_str());
    if (!prog.CaricaImpostazioni()) return ExitCheckBadSettings;
    const MainState& s = prog.status();
    const MqttSettings& mqtt = prog.mqttSettings();
    const std::vector<RequestLine>& lines = prog.lines();
    const bool units = std::any_of(lines.begin(), lines.end(),
                                   [](const RequestLine& l) { return !l.unit.empty(); });
    const LoadedSettings& loaded = prog.loadedSettings();
    const bool serves = loaded.web.on() && loaded.webProblems.empty();
    std::fprintf(out, "%s%s%s\n", units ? CheckHeaderWithUnits : CheckHeader,
                 mqtt.host.empty() ? "" : " | topic TEXT", serves ? " | web ADDRESS" : "");
    std::fprintf(out, "caption\t%s\n", s.caption.c_str());
    std::fprintf(out, "interval\t%lld\n", static_cast<long long>(s.interval.count()));
    std::vector<std::string> warnings;
    ProfileCheck profile{prog, warnings, {}};
    const bool profileZero = profile(0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const RequestLine& line = lines[i];
        const Chiamata& c = line.fields;
        std::fprintf(out, "line\t%zu\t%s\t%s\t%s\t%s\t%s\t%s%s%s\n", i, LineKindName(line.kind),
                     c.Nodo.c_str(), c.Codice.c_str(), c.Registro.c_str(), c.Decimali.c_str(),
                     c.Descrizione.c_str(), line.unit.empty() ? "" : "\t", line.unit.c_str());
        if (line.kind == LineKind::Serial) {
            if (line.profile)
                profile(*line.profile);
            else
                warnings.push_back("riga " + std::to_string(i) + ": profilo fuori intervallo");
        }
        for (const auto& p : line.problems)
            warnings.push_back("riga " + std::to_string(i) + ": " + p);
    }
    PrintCycle(prog, out);
    warnings.insert(warnings.end(), loaded.unreadLines.begin(), loaded.unreadLines.end());
    const std::vector<int> devices = prog.DevicesOfList();
    for (const auto& p : ListProblems(lines, devices))
        warnings.push_back("riga " + std::to_string(p.line) + ": " + p.text);
    for (const auto& section : prog.refusedSections())
        warnings.insert(warnings.end(), section.problems.begin(), section.problems.end());
    for (auto& a : ReadableByOthers(prog, mqtt)) warnings.push_back(std::move(a));
    if (!mqtt.host.empty() && mqtt.discovery)
        for (auto& a : DiscoveryClashes(lines, devices)) warnings.push_back(std::move(a));
    if (!mqtt.host.empty()) {
        for (const auto& t : MqttArguments(mqtt, lines, devices))
            std::fprintf(out, "topic\t%s\n", t.c_str());
        if (!mqtt.caFile.empty() && ::access(mqtt.caFile.c_str(), R_OK) != 0)
            warnings.push_back("[MQTT] CAFile: impossibile leggere il file " + mqtt.caFile + " (" +
                             std::strerror(errno) + ")");
    }
    if (serves) webCheck(loaded.web, out, warnings);
    for (const auto& a : warnings) std::fprintf(out, "warning\t%s\n", a.c_str());
    std::fprintf(out, "%s, %s\n", count(lines.size(), "riga", "righe").c_str(),
                 count(warnings.size(), "avviso", "avvisi").c_str());
    // The runner would not start.
    for (const auto& section : prog.refusedSections())
        if (section.stopsRun) return ExitCheckBadSettings;
    if (!profileZero) return ExitCheckBadProfileZero;
    return warnings.empty() ? ExitCheckClean : ExitCheckWarnings;
}

}  // namespace tarvel
