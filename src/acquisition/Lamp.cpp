#include "acquisition/Lamp.h"

#include <string>

#include "settings/Number.h"

namespace tarvel {

Lamp LampadaDaColore(std::string_view colore) {
    const std::string c = Maiuscolo(Trim(colore));
    return c == "VERDE"    ? Lamp::Green
           : c == "GIALLO" ? Lamp::Yellow
           : c == "ROSSO"  ? Lamp::Red
                           : Lamp::Off;
}

}  // namespace tarvel
