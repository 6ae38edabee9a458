#pragma once
// The product's identity: its name, its version, and the name of its
// settings file. The build takes the version from here.

#include <string>

namespace tarvel {

inline constexpr const char* ProductName = "Tarvel";
inline constexpr const char* IniFileName = "Tarvel.INI";

inline constexpr int VersionMajor = 1;
inline constexpr int VersionMinor = 0;
inline constexpr int VersionRevision = 0;

// "1.0.0": the version as the package and --version give it.
inline std::string ProductVersion() {
    return std::to_string(VersionMajor) + "." + std::to_string(VersionMinor) + "." +
           std::to_string(VersionRevision);
}

}  // namespace tarvel
