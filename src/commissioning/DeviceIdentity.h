#pragma once
// The answer to Read Device Identification (function 43, MEI type 14): the
// objects it carries and where the next answer goes on.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/SerialPort.h"

namespace tarvel {

struct DeviceIdAnswer {
    std::map<std::uint8_t, std::string> objects;  // 0 vendor, 1 product code, 2 revision
    bool moreFollows = false;
    std::uint8_t nextObject = 0;
};

// `mei`: the answer from its MEI type to its last object. Nothing when the
// objects do not fill it exactly. Bytes outside printable ASCII read as
// blanks, and blanks at the ends go.
std::optional<DeviceIdAnswer> ParseDeviceId(const Bytes& mei);

}  // namespace tarvel
