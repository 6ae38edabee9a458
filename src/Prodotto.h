#pragma once
// The product's identity: its name, and the name of its settings file.

namespace tarvel {

inline constexpr const char* NomeProdotto = "Tarvel";
inline constexpr const char* NomeFileIni = "Tarvel.INI";

}  // namespace tarvel
