#pragma once
// The status lamp of the main window.

#include <cstdint>
#include <string_view>

namespace tarvel {

enum class Lampada : std::uint8_t { Spenta, Verde, Giallo, Rossa };

// The lamp a colour text names ("VERDE", "GIALLO", "ROSSO", any case and
// blanks); any other text switches it off.
Lampada LampadaDaColore(std::string_view colore);

}  // namespace tarvel
