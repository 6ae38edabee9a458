#include "tray/TrayText.h"

#include "about/Version.h"
#include "Product.h"

namespace tarvel {

std::string TrayTipText(const ProgramIdentity& identity) {
    return std::string(ProductName) + " " + VersionNumber(identity) + "\n" +
           CopyrightHolder(identity.copyright());
}

std::string OpenTrayText() { return std::string("Apri ") + ProductName; }

}  // namespace tarvel
