#pragma once
// The commissioning commands of the logger without windows: the scan of a
// line, the device templates and the decoder of four registers. Each runs
// once on profile Serial_0 (or on no line at all) and returns the exit code.

#include <cstdint>
#include <string>

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "settings/IniFileStore.h"

namespace tarvel {

struct LineAccess {
    IniFileStore& ini;
    std::string iniPath;
    Clock& clock;
    Dialogs& dialogs;
    bool monitor = false;  // every frame on standard error
    bool stats = false;    // each node's counters on standard error at the end
};

// --scan: the fragment on stdout, a line per node on stderr.
int ScanLine(const LineAccess& line, int first, int last, const std::string& templateFolder);
// --decode: the readings of four registers on stdout.
int DecodeLine(const LineAccess& line, int node, int function, int address);
// --templates and --template NAME --node N.
int ListTemplates(const std::string& templateFolder);
int PrintTemplate(const std::string& templateFolder, const std::string& name, int node);

}  // namespace tarvel
