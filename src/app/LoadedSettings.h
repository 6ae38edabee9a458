#pragma once
// The settings as one load reads them, from one version of the file, each
// key parsed once: the request list with the problems of its lines, the
// serial profiles the list uses, the output's settings, [MQTT] and
// [History] with the problems of their keys. A run applies this value and
// the settings check prints it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/ElencoChiamate.h"
#include "export/EsportaXML.h"
#include "history/Storico.h"
#include "modbus/Profilo.h"
#include "publish/ImpostazioniMqtt.h"

namespace tarvel {

class Impostazioni;

struct LoadedProfile {
    std::int16_t number = 0;
    LetturaProfilo reading;  // the profile, or why it cannot be used
};

struct LoadedSettings {
    std::string title;   // [General] Title
    LetturaElenco list;  // the request list, or why there is none
    // What the list does not read of [Parameters] (RigheNonLette).
    std::vector<std::string> unreadLines;
    // Serial_0 and each profile a serial line names, once each, in order.
    std::vector<LoadedProfile> profiles;
    // [Export], [XML] and the Out of each profile the list names; the
    // output itself reads them again at every output.
    OutputSettings output;
    std::optional<std::string> encodingProblem;  // [XML] Encoding
    ImpostazioniMqtt mqtt;
    std::vector<std::string> mqttProblems;  // the section is refused with any
    bool mqttPassword = false;              // [MQTT] Password is set, Host or not
    LetturaStorico history;

    // The profile with that number, when the load read it.
    const LoadedProfile* profile(std::int16_t number) const;
    // Reads what `output` holds of the settings, as LettoreIni does; for
    // as long as this value lives.
    LettoreIni outputReader() const;
};

// Reads the section Serial_<number>.
LetturaProfilo LoadProfile(const Impostazioni& impostazioni, std::int16_t number);

// The whole load. Settings without a list ("Firt" or "Last" unusable) give
// the title and the reason alone.
LoadedSettings LoadSettings(const Impostazioni& impostazioni, const std::string& hostName);

}  // namespace tarvel
