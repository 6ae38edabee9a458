#pragma once
// The texts of the tray icon and its menu.

#include <string>

#include "platform/ProgramIdentity.h"

namespace tarvel {

// Two lines: the product name and the version number ("Tarvel 1.00"), then
// the copyright holder. A copyright without "-" gives an empty second line.
std::string TrayTipText(const ProgramIdentity& identity);

// "Apri " followed by the product name.
std::string OpenTrayText();
inline constexpr const char* QuitTrayText = "Fine programma";

}  // namespace tarvel
