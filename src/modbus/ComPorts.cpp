#include "modbus/ComPorts.h"

#include "settings/Number.h"

namespace tarvel {

std::function<std::string(int com)> ComDeviceFromSettings(
    ProfileStore& store, std::string settingsFile, std::function<std::string(int)> fallback) {
    return [&store, file = std::move(settingsFile), fallback = std::move(fallback)](int com) {
        std::string device(Trim(store.read(file, "Ports", "COM" + std::to_string(com), "")));
        return device.empty() ? fallback(com) : device;
    };
}

}  // namespace tarvel
