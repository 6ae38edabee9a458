#include "acquisition/Lampada.h"

#include <string>

#include "settings/Numero.h"

namespace tarvel {

Lampada LampadaDaColore(std::string_view colore) {
    const std::string c = Maiuscolo(Trim(colore));
    return c == "VERDE"    ? Lampada::Verde
           : c == "GIALLO" ? Lampada::Giallo
           : c == "ROSSO"  ? Lampada::Rossa
                           : Lampada::Spenta;
}

}  // namespace tarvel
