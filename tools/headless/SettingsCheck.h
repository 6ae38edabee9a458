#pragma once
// The settings check of the runner: the settings loaded and every profile
// the list uses set up as a run would, on a port that never opens its
// device, and the problems found printed one record a line.

#include <cstdio>

#include "app/Program.h"

namespace tarvel {

// Exit codes of the check.
inline constexpr int ExitCheckClean = 0;
inline constexpr int ExitCheckWarnings = 1;
inline constexpr int ExitCheckBadSettings = 2;
inline constexpr int ExitCheckBadProfileZero = 3;

// The header line that names the columns of each record; with a unit on
// any line, the line records of the lines with a unit end with it.
inline constexpr const char* CheckHeader =
    "# caption TEXT | interval MS | line INDEX KIND NODE FUNCTION REGISTER DECIMALS "
    "DESCRIPTION | cycle COM BEST_MS WORST_MS BUSY_PERCENT | warning TEXT";
inline constexpr const char* CheckHeaderWithUnits =
    "# caption TEXT | interval MS | line INDEX KIND NODE FUNCTION REGISTER DECIMALS "
    "DESCRIPTION [UNIT] | cycle COM BEST_MS WORST_MS BUSY_PERCENT | warning TEXT";

// Prints the check on out; returns its exit code. The first line names the
// settings file; settings that cannot be used print nothing more: the
// message says why. A section that the load refused is told as the
// warnings of its keys, and the code is that of unusable settings: the
// runner would not start.
int CheckSettings(Program& program, std::FILE* out);

}  // namespace tarvel
