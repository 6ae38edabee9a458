#pragma once
// The XML output written after every acquisition cycle from its answer lines.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "acquisition/Reading.h"
#include "platform/Clock.h"
#include "platform/OutputFiles.h"

namespace tarvel {

// Reads one setting: section, key, default.
using IniReader =
    std::function<std::string(const std::string&, const std::string&, const std::string&)>;

struct ExportResult {
    std::vector<std::string> written;  // files written whole
    std::vector<std::string> errors;   // "path: reason" for each file that failed
};

struct ExportContext {
    OutputFiles& files;
    Clock& clock;
    std::string programFolder;
};

// A reading's element: "<name>value</name>"; empty for a read that failed
// or gave no value, -99999 for a read that was never made.
std::string XmlElement(const Reading& reading);
// The same at the end of `out`.
void AppendXmlElement(const Reading& reading, std::string& out);
// The answer line of an executed line: a reading's element, or the text of
// any other line.
std::string AnswerText(const Risposta& answer);

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

OutputSettings ReadOutputSettings(const std::vector<Risposta>& answers,
                                  const IniReader& readIni, const std::string& programFolder);

// Writes the output file or files for the lines of a cycle.
ExportResult EsportaXML(const std::vector<Risposta>& answers, const OutputSettings& settings,
                             ExportContext& ctx);

// The device each executed line belongs to, counted from 1 over every output
// file of the cycle as the XML groups them: a next-device line starts
// another device, and so does a profile line that starts another output
// file (when the profiles write files of their own). The publishing and the
// history take their devices from here. (In the single file the XML also
// opens a new Dispositivo element at a profile line after the first line;
// that one starts no device here, so lists that write one file keep the
// devices they always had.)
std::vector<int> DevicesOfAnswers(const std::vector<Risposta>& answers,
                                  const OutputSettings& output);
// The readings of a cycle's lines, each with its device and the profile
// in force.
std::vector<Reading> CycleReadings(const std::vector<Risposta>& answers,
                                   const OutputSettings& output);
// What each request line gives when it runs, as far as the output tells
// the answers apart: for the output's settings of a list before any cycle.
std::vector<Risposta> AnswersOfLines(const std::vector<RequestLine>& lines);
// The device of each request line, as a cycle over the whole list would
// give it: for the topics and discovery configs that name the devices
// before any cycle ran.
std::vector<int> DevicesOfLines(const std::vector<RequestLine>& lines,
                                const OutputSettings& output);

// Deletes the file if it exists, then pauses 100 ms and lets events run.
void CancellaFile(const std::string& path, ExportContext& ctx);

}  // namespace tarvel
