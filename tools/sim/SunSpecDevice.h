#pragma once
// Simulated SunSpec devices and device identification answers.
//
// "sunspec inverter" puts into the node's holding registers from 40000 the
// marker "SunS", the common model 1 (length 65), the three-phase inverter
// model 103 at 40069 and the nameplate model 120 at 40121, then the end
// marker; "sunspec meter" the marker, model 1 and the wye meter model 203
// at 40069. Points the device does not implement hold their type's "not
// implemented" pattern. The values are listed in --help.
//
// "ident VENDOR | PRODUCT | REVISION" makes the node answer Read Device
// Identification (function 43, MEI type 14) with those basic objects; a
// node without it answers that function with exception 1.

#include <cstdint>
#include <string>
#include <vector>

#include "PlantMap.h"

namespace tarvel::sim {

using Bytes = std::vector<std::uint8_t>;

// Adds the device's registers to `node`; false for an unknown kind.
bool AddSunSpecDevice(const std::string& kind, NodeMap& node);

// The PDU of the answer to a Read Device Identification request PDU
// (43, 14, read code, object id), from its function code on; an empty
// answer stands for exception `code`.
Bytes DeviceIdAnswer(const std::vector<std::string>& identity, const Bytes& requestPdu,
                     std::uint8_t& code);

}  // namespace tarvel::sim
