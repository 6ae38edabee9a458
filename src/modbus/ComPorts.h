#pragma once
// Which device a COM number names: key "COM" + n of section "Ports" in the
// settings file, or the port's default when the key is absent or empty.

#include <functional>
#include <string>

#include "settings/ProfileStore.h"

namespace tarvel {

// The store must outlive the resolver; the fallback gives the default.
std::function<std::string(int com)> ComDeviceFromSettings(
    ProfileStore& store, std::string settingsFile, std::function<std::string(int)> fallback);

}  // namespace tarvel
