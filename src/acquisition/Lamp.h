#pragma once
// The status lamp of the main window.

#include <cstdint>
#include <string_view>

namespace tarvel {

enum class Lamp : std::uint8_t { Off, Green, Yellow, Red };

// The lamp a colour text names ("VERDE", "GIALLO", "ROSSO", any case and
// blanks); any other text switches it off.
Lamp LampFromColour(std::string_view colour);

}  // namespace tarvel
