#pragma once
// The settings as one load reads them, from one version of the file, each
// key parsed once: the request list with the problems of its lines, the
// serial profiles the list uses, the output's settings, [MQTT],
// [History] and [Web] with the problems of their keys. A run applies this value and
// the settings check prints it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/RequestList.h"
#include "export/EsportaXML.h"
#include "history/History.h"
#include "modbus/SerialProfile.h"
#include "publish/MqttSettings.h"
#include "web/WebSettings.h"

namespace tarvel {

class Settings;

struct LoadedProfile {
    std::int16_t number = 0;
    ProfileRead reading;  // the profile, or why it cannot be used
};

struct LoadedSettings {
    std::string title;   // [General] Title
    RequestListRead list;  // the request list, or why there is none
    // What the list does not read of [Parameters] (UnreadLines).
    std::vector<std::string> unreadLines;
    // Serial_0 and each profile a serial line names, once each, in order.
    std::vector<LoadedProfile> profiles;
    // [Export], [XML] and the Out of each profile the list names; the
    // output itself reads them again at every output.
    OutputSettings output;
    std::optional<std::string> encodingProblem;  // [XML] Encoding
    MqttSettings mqtt;
    std::vector<std::string> mqttProblems;  // the section is refused with any
    bool mqttPassword = false;              // [MQTT] Password is set, Host or not
    HistorySettingsRead history;
    WebSettings web;
    std::vector<std::string> webProblems;  // the page is not served with any

    // The profile with that number, when the load read it.
    const LoadedProfile* profile(std::int16_t number) const;
};

// Reads the section Serial_<number>.
ProfileRead LoadProfile(const Settings& settings, std::int16_t number);

// The whole load. Settings without a list ("Firt" or "Last" unusable) give
// the title and the reason alone.
LoadedSettings LoadSettings(const Settings& settings, const std::string& hostName);

}  // namespace tarvel
