#include "about/Version.h"

#include "settings/Number.h"

namespace tarvel {

std::string VersionNumber(const ProgramIdentity& identity) {
    return std::to_string(identity.versionMajor()) + "." + std::to_string(identity.versionMinor()) +
           std::to_string(identity.versionRevision());
}

std::string VersionText(const ProgramIdentity& identity) {
    return "Versione " + VersionNumber(identity);
}

std::string CopyrightHolder(const std::string& copyright) {
    const std::size_t dash = copyright.find('-');
    if (dash == std::string::npos) return {};
    return std::string(Trim(std::string_view(copyright).substr(0, dash)));
}

}  // namespace tarvel
