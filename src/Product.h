#pragma once
// The product's identity: its name, its version, and the name of its
// settings file. The build takes the version from here.

#include <string>

namespace tarvel {

inline constexpr const char* NomeProdotto = "Tarvel";
inline constexpr const char* NomeFileIni = "Tarvel.INI";

inline constexpr int VersioneMaggiore = 1;
inline constexpr int VersioneMinore = 0;
inline constexpr int VersioneRevisione = 0;

// "1.0.0": the version as the package and --version give it.
inline std::string VersioneProdotto() {
    return std::to_string(VersioneMaggiore) + "." + std::to_string(VersioneMinore) + "." +
           std::to_string(VersioneRevisione);
}

}  // namespace tarvel
