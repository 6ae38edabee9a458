#include "app/LoadedSettings.h"

#include <algorithm>

#include "settings/Settings.h"
#include "settings/KeyRules.h"

namespace tarvel {
namespace {

// The key names of [Parameters], in order of number.
std::vector<std::string> parameterKeys(const Settings& imp) {
    std::vector<std::string> keys = imp.store().keys(imp.IniPath(), "Parameters");
    std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
        return std::pair(a.size(), a) < std::pair(b.size(), b);
    });
    return keys;
}

// Serial_0, then each profile a serial line names, once each.
std::vector<LoadedProfile> loadProfiles(const Settings& imp, const std::vector<RequestLine>& lines) {
    std::vector<LoadedProfile> profiles;
    const auto add = [&](std::int16_t n) {
        const auto same = [n](const LoadedProfile& p) { return p.number == n; };
        if (std::none_of(profiles.begin(), profiles.end(), same))
            profiles.push_back({n, LoadProfile(imp, n)});
    };
    add(0);
    for (const RequestLine& line : lines)
        if (line.kind == LineKind::Serial && line.profile) add(*line.profile);
    return profiles;
}

void loadSections(LoadedSettings& s, const Settings& imp, const std::string& hostName) {
    const auto reader = [&imp](const char* section) {
        return [&imp, section](const std::string& key) { return imp.LeggiIni(section, key, ""); };
    };
    s.history = ReadHistorySettings(reader("History"));
    s.mqtt =
        ReadMqttSettings(reader("MQTT"), hostName, imp.programFolder(), s.mqttProblems);
    s.mqttPassword = !imp.LeggiIni("MQTT", "Password", "").empty();
    s.encodingProblem = EncodingProblem(imp.LeggiIni("XML", "Encoding", ""));
    s.web = ReadWebSettings(reader("Web"), imp.programFolder(), s.webProblems);
}

}  // namespace

const LoadedProfile* LoadedSettings::profile(std::int16_t number) const {
    const auto it = std::find_if(profiles.begin(), profiles.end(),
                                 [number](const LoadedProfile& p) { return p.number == number; });
    return it == profiles.end() ? nullptr : &*it;
}

ProfileRead LoadProfile(const Settings& imp, std::int16_t number) {
    const std::string section = "Serial_" + std::to_string(number);
    return ReadProfile([&](const char* key, const char* fallback) {
        return imp.LeggiIni(section, key, fallback);
    });
}

LoadedSettings LoadSettings(const Settings& imp, const std::string& hostName) {
    // One load reads one version of the file.
    HeldVersion version(imp.store());
    LoadedSettings s;
    s.list = ReadRequestList(imp, s.title);
    if (!s.list.list) return s;
    const std::vector<RequestLine>& lines = s.list.list->lines;
    s.unreadLines = UnreadLines(parameterKeys(imp), *s.list.list);
    s.profiles = loadProfiles(imp, lines);
    s.output = ReadOutputSettings(
        AnswersOfLines(lines),
        [&imp](const std::string& section, const std::string& key, const std::string& fallback) {
            return imp.LeggiIni(section, key, fallback);
        },
        imp.programFolder());
    loadSections(s, imp, hostName);
    return s;
}

}  // namespace tarvel
