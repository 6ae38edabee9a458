// The [MQTT] section through the one reading that a run and --check share.
// The input is the values of the keys, one a line in a fixed order, the
// keys after the last line missing. Without a Host nothing is read and
// nothing is wrong. Otherwise each problem names a key of the section and
// its value, and settings without a problem are in their ranges, with a
// topic, a client identifier and a user that libmosquitto takes: the text
// check agrees with mosquitto_validate_utf8, and every topic published on
// passes mosquitto_pub_topic_check.

#include <mosquitto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "publish/MqttSettings.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

const char* const Keys[] = {"Host",   "Port", "Topic",  "ClientId",  "User",    "Password",
                            "CAFile", "QoS",  "Retain", "Discovery", "Journal", "JournalMB"};
constexpr std::size_t KeyCount = sizeof Keys / sizeof Keys[0];

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty() && lines.size() < KeyCount) {
        const auto end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool mosquittoTakes(const std::string& text) {
    return mosquitto_validate_utf8(text.data(), static_cast<int>(text.size())) == MOSQ_ERR_SUCCESS;
}

void checkProblem(const std::string& problem, const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string named =
            "[MQTT] " + std::string(Keys[i]) + ": valore non valido \"" + values[i] + "\" (";
        if (problem.starts_with(named)) return;
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> values = linesOf(text);
    for (const std::string& v : values) require(tarvel::MqttText(v) == mosquittoTakes(v));
    std::vector<std::string> problems;
    const tarvel::MqttSettings m = tarvel::ReadMqttSettings(
        [&](const std::string& key) {
            for (std::size_t i = 0; i < values.size(); ++i)
                if (key == Keys[i]) return values[i];
            return std::string();
        },
        "host", "/srv/tarvel", problems);
    if (m.host.empty()) {
        require(problems.empty());
        return 0;
    }
    for (const std::string& p : problems) checkProblem(p, values);
    if (!problems.empty()) return 0;
    require(m.port >= 1 && m.port <= 65535 && m.qos >= 0 && m.qos <= 2);
    require(m.journalMB >= 1 && m.journalMB <= 1000000 && m.journal.starts_with('/'));
    require(mosquittoTakes(m.clientId) && mosquittoTakes(m.user));
    for (const char* level : {"/1", "/state", "/status/247"})
        require(mosquitto_pub_topic_check2((m.topic + level).c_str(),
                                           m.topic.size() + std::strlen(level)) ==
                MOSQ_ERR_SUCCESS);
    return 0;
}
