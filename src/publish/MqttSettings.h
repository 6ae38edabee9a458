#pragma once
// The [MQTT] section of the settings, read and checked: the one reading
// that a run and the settings check share.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// The [MQTT] section as read and checked.
struct MqttSettings {
    std::string host;  // empty: nothing is published
    int port = 1883;
    std::string topic;
    std::string clientId;
    std::string user;
    std::string password;
    std::string caFile;
    int qos = 1;
    bool retain = false;
    bool discovery = false;  // Home Assistant's discovery configs
    std::string journal;     // the journal file, a full path
    std::int64_t journalMB = 100;
    bool operator==(const MqttSettings&) const = default;
};

// Reads a key of [MQTT]; empty when missing.
using MqttKeyReader = std::function<std::string(const std::string& key)>;

// The section with its defaults: the topic "tarvel/" and the host name,
// the client identifier "tarvel-", the host name and a hash of the program
// folder, the journal Tarvel-journal.db in the program folder. Without a
// Host nothing else is read. Each key with a bad value adds a line to
// `problems` naming it and its value: the section is then refused.
MqttSettings ReadMqttSettings(const MqttKeyReader& read, const std::string& machineName,
                                       const std::string& programFolder,
                                       std::vector<std::string>& problems);

// Text that MQTT takes for a topic, a client identifier or a user name:
// well-formed UTF-8 without NUL, control characters (U+0001 to U+001F,
// U+007F to U+009F) or non-characters (U+FDD0 to U+FDEF, U+xFFFE, U+xFFFF).
bool MqttText(std::string_view text);

}  // namespace tarvel
