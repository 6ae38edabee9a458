#pragma once
// The request list: the lines of section "Parameters" from "Firt" to
// "Last", each cut once into its line value, and the cycle interval.

#include <optional>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"
#include "platform/Clock.h"
#include "settings/SettingsError.h"

namespace tarvel {

class Settings;

struct RequestList {
    std::vector<RequestLine> lines;  // REM lines left out
    Millis interval{1000};  // "Parameters"/"Interval", 1 to 60000
    // "Parameters"/"Parallel" = 1: the parts of the list on different ports
    // are polled at the same time.
    bool parallel = false;
    int first = 0;            // "Firt" and "Last" as line numbers
    int last = 0;
};

// "Firt" and "Last": the absolute value of the leading number as a 16-bit
// integer; 0 when empty or out of range.
int ListLineNumber(const std::string& text);
// The key of line n: at least three digits, with leading zeros.
std::string ListLineKey(int n);

// The caption of the main window for a title: "Tarvel [title]".
std::string CaptionForTitle(const std::string& title);

// The list, or why there is none.
struct RequestListRead {
    std::optional<RequestList> list;
    SettingsError error;
};

// Reads the list (within the one load, LoadSettings); no list when
// "Firt" or "Last" gives no line number. The title is read either way.
RequestListRead ReadRequestList(const Settings& settings, std::string& title);

// Of the keys of "Parameters", those that look like request lines (digits
// only) but that the list does not read: outside "Firt" to "Last", or
// spelled otherwise than the list reads them (line 5 is "005"). One warning
// text each, naming the key.
std::vector<std::string> UnreadLines(const std::vector<std::string>& keyList,
                                       const RequestList& list);

}  // namespace tarvel
