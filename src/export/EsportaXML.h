#pragma once
// The XML output written after every acquisition cycle from its answer lines.

#include <functional>
#include <map>
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
    OutputFiles& files;
    Clock& clock;
    std::string cartellaProgramma;
};

// The output's own settings: [Export] Kill and Out, [XML] Encoding, and the
// Out of each serial profile that the answers name. Read afresh for every
// output, as the menus and the editor may change them while acquiring.
struct OutputSettings {
    bool kill = false;
    std::string declaration;  // the XML declaration, with its encoding
    std::string generalFile;  // NoName.xml when not set; in the program folder unless absolute
    // By profile answer line ("Serial_1"): its section's Out, as written.
    std::map<std::string, std::string> profileFiles;
};

OutputSettings ReadOutputSettings(const std::vector<std::string>& risposte,
                                  const LettoreIni& leggiIni, const std::string& cartellaProgramma);

// Writes the output file or files for the answer lines.
EsitoEsportazione EsportaXML(const std::vector<std::string>& risposte,
                             const OutputSettings& settings, ContestoEsportazione& ctx);

// The device each answer line belongs to, counted from 1 over every output
// file of the cycle as the XML groups them: a next-device line starts
// another device, and so does a profile line that starts another output
// file (when the profiles write files of their own). The publishing and the
// history take their devices from here. (In the single file the XML also
// opens a new Dispositivo element at a profile line after the first line;
// that one starts no device here, so lists that write one file keep the
// devices they always had.)
std::vector<int> DispositiviRisposte(const std::vector<std::string>& risposte,
                                     const LettoreIni& leggiIni);

// Deletes the file if it exists, then pauses 100 ms and lets events run.
void CancellaFile(const std::string& path, ContestoEsportazione& ctx);

}  // namespace tarvel
