#include "about/Version.h"

#include "settings/Number.h"

namespace tarvel {

std::string NumeroVersione(const ProgramIdentity& identity) {
    return std::to_string(identity.versionMajor()) + "." + std::to_string(identity.versionMinor()) +
           std::to_string(identity.versionRevision());
}

std::string TestoVersione(const ProgramIdentity& identity) {
    return "Versione " + NumeroVersione(identity);
}

std::string Titolare(const std::string& copyright) {
    const std::size_t trattino = copyright.find('-');
    if (trattino == std::string::npos) return {};
    return std::string(Trim(std::string_view(copyright).substr(0, trattino)));
}

}  // namespace tarvel
