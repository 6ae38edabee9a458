#pragma once
// The version texts the splash, the About box and the tray tip show.

#include <string>

#include "platform/ProgramIdentity.h"

namespace tarvel {

// Major, ".", minor and revision with no separator between the last two:
// version 1.0.0 gives "1.00", version 2.1.15 gives "2.115".
std::string VersionNumber(const ProgramIdentity& identity);

// "Versione " and the version number.
std::string VersionText(const ProgramIdentity& identity);

// The copyright holder: the text before the first "-", without blanks at
// either end; empty when the text has no "-".
std::string CopyrightHolder(const std::string& copyright);

}  // namespace tarvel
