#include "tray/TrayText.h"

#include "about/Version.h"
#include "Product.h"

namespace tarvel {

std::string TestoSuggerimentoTray(const ProgramIdentity& identity) {
    return std::string(NomeProdotto) + " " + NumeroVersione(identity) + "\n" +
           Titolare(identity.copyright());
}

std::string TestoApriTray() { return std::string("Apri ") + NomeProdotto; }

}  // namespace tarvel
