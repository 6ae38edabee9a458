#pragma once
// The XML output written after every acquisition cycle from its answer lines.

#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/OutputFiles.h"

namespace tarvel {

// Reads one setting: section, key, default.
using LettoreIni =
    std::function<std::string(const std::string&, const std::string&, const std::string&)>;

struct EsitoEsportazione {
    std::vector<std::string> scritti;  // files written whole
    std::vector<std::string> errori;   // "path: reason" for each file that failed
};

struct ContestoEsportazione {
    LettoreIni leggiIni;
    OutputFiles& files;
    Clock& clock;
    std::string cartellaProgramma;
};

// Writes the output file or files for the answer lines.
EsitoEsportazione EsportaXML(const std::vector<std::string>& risposte, ContestoEsportazione& ctx);

// Deletes the file if it exists, then pauses 100 ms and lets events run.
void CancellaFile(const std::string& path, ContestoEsportazione& ctx);

}  // namespace tarvel
