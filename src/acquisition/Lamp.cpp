#include "acquisition/Lamp.h"

#include <string>

#include "settings/Number.h"

namespace tarvel {

Lamp LampFromColour(std::string_view colour) {
    const std::string c = ToUpper(Trim(colour));
    return c == "VERDE"    ? Lamp::Green
           : c == "GIALLO" ? Lamp::Yellow
           : c == "ROSSO"  ? Lamp::Red
                           : Lamp::Off;
}

}  // namespace tarvel
