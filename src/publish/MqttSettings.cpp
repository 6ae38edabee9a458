#include "publish/MqttSettings.h"

#include <cstdio>
#include <optional>

#include "publish/Json.h"
#include "settings/KeyRules.h"

namespace tarvel {
namespace {

// FNV-1a: a short, stable name for a folder.
std::string Fingerprint(const std::string& text) {
    std::uint32_t h = 2166136261u;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", h);
    return hex;
}

// A key of [MQTT] that takes a whole number.
struct NumberKey {
    const char* key;
    std::int64_t min;
    std::int64_t max;
    void (*set)(MqttSettings&, std::int64_t);
};

constexpr NumberKey NumberKeys[] = {
    {"Port", 1, 65535, [](MqttSettings& m, std::int64_t v) { m.port = static_cast<int>(v); }},
    {"QoS", 0, 2, [](MqttSettings& m, std::int64_t v) { m.qos = static_cast<int>(v); }},
    {"Retain", 0, 1, [](MqttSettings& m, std::int64_t v) { m.retain = v == 1; }},
    {"Discovery", 0, 1, [](MqttSettings& m, std::int64_t v) { m.discovery = v == 1; }},
    {"JournalMB", 1, 1000000, [](MqttSettings& m, std::int64_t v) { m.journalMB = v; }},
};

// A key of [MQTT] whose text goes to the broker as MQTT text.
struct TextKey {
    const char* key;
    std::string MqttSettings::*field;
    bool wildcards;  // "#" and "+" allowed
};

constexpr TextKey TextKeys[] = {
    {"Topic", &MqttSettings::topic, false},
    {"ClientId", &MqttSettings::clientId, true},
    {"User", &MqttSettings::user, true},
};

void ReadKeys(const MqttKeyReader& read, MqttSettings& imp, std::vector<std::string>& problems) {
    for (const NumberKey& k : NumberKeys) {
        const std::string text = read(k.key);
        if (text.empty()) continue;
        if (const auto value = WholeNumberIn(text, k.min, k.max))
            k.set(imp, *value);
        else
            problems.push_back(BadValueText("MQTT", k.key, text, RangeText(k.min, k.max)));
    }
    for (const TextKey& k : TextKeys) {
        const std::string text = read(k.key);
        imp.*k.field = text;
        if (!MqttText(text))
            problems.push_back(
                BadValueText("MQTT", k.key, text, "testo UTF-8 senza caratteri di controllo"));
        else if (!k.wildcards && text.find_first_of("#+") != std::string::npos)
            problems.push_back(BadValueText("MQTT", k.key, text, "senza # né +"));
    }
}

}  // namespace

bool MqttText(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::optional<std::uint32_t> c = CodePoint(text, i);
        if (!c || *c <= 0x1F || (*c >= 0x7F && *c <= 0x9F)) return false;
        if ((*c >= 0xFDD0 && *c <= 0xFDEF) || (*c & 0xFFFE) == 0xFFFE) return false;
    }
    return true;
}

MqttSettings ReadMqttSettings(const MqttKeyReader& read, const std::string& machineName,
                                       const std::string& programFolder,
                                       std::vector<std::string>& problems) {
    MqttSettings imp;
    imp.host = read("Host");
    if (imp.host.empty()) return imp;
    imp.caFile = read("CAFile");
    imp.port = imp.caFile.empty() ? 1883 : 8883;
    ReadKeys(read, imp, problems);
    if (imp.topic.empty()) imp.topic = "tarvel/" + machineName;
    while (imp.topic.ends_with('/')) imp.topic.pop_back();
    if (imp.clientId.empty())
        imp.clientId = "tarvel-" + machineName + "-" + Fingerprint(programFolder);
    imp.password = read("Password");
    imp.journal = read("Journal");
    if (imp.journal.empty()) imp.journal = "Tarvel-journal.db";
    if (!imp.journal.starts_with('/')) imp.journal = programFolder + "/" + imp.journal;
    return imp;
}

}  // namespace tarvel
