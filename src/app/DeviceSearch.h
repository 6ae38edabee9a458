#pragma once
// The scan of the program's own line (profile Serial_0, as --scan uses it)
// and the chosen lines appended to the request list in the settings file.
// Both run where the program's logic runs, never on a window's thread.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "commissioning/Scan.h"

namespace tarvel {

class Program;

// A device as the search window shows it: a copy, free of the scan's
// templates.
struct FoundDevice {
    int node = 0;
    std::string comment;             // DeviceComment
    std::vector<std::string> lines;  // DeviceLines
};

struct DeviceSearch {
    std::vector<FoundDevice> devices;
    bool stopped = false;
    // Why no scan ran (the profile could not be applied); empty otherwise.
    std::string error;
};

// Applies profile 0, asks nodes first to last and applies the profile the
// line had before again. `stop` ends the scan after the running request.
DeviceSearch SearchDevices(Program& program, int first, int last, const std::atomic<bool>& stop,
                           const Scanner::Observer& progress, const std::string& templateFolder);

// The lines as new numbered keys after "Last" of "Parameters", "Last" moved
// to the new end, then the list loaded again. "NEXT" goes between two
// devices and before the first one when the list does not end with it.
// Each value is written alone by the settings writer; the rest of the
// file stays as it was.
struct ListAppend {
    bool ok = false;
    int firstKey = 0, lastKey = 0;  // the line numbers written
    std::string message;            // Italian, for the window
};
ListAppend AppendToRequestList(Program& program,
                               const std::vector<std::vector<std::string>>& linesByDevice);

}  // namespace tarvel
