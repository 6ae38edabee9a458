#include "app/DeviceSearch.h"

#include "acquisition/RequestList.h"
#include "app/Program.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

// The profile number of a section name "Serial_N"; 0 when it has none.
std::int16_t profileOf(const std::string& section) {
    const auto underscore = section.rfind('_');
    if (underscore == std::string::npos) return 0;
    return RoundToInt16(LeadingNumber(section.substr(underscore + 1))).value_or(0);
}

FoundDevice copyOf(const ScannedDevice& d) {
    FoundDevice found{d.node, DeviceComment(d), DeviceLines(d)};
    const std::string prefix = "nodo " + std::to_string(d.node) + ": ";
    if (found.comment.starts_with(prefix)) found.comment.erase(0, prefix.size());
    return found;
}

bool isNext(std::string_view line) { return ToUpper(Trim(line).substr(0, 4)) == "NEXT"; }

// The last line of the list that the list reads (REM lines are not).
std::string lastListLine(const Program& program, int first, int last) {
    for (int n = last; n >= first; --n) {
        std::string line(Trim(program.LeggiIni("Parameters", ListLineKey(n), "")));
        if (ToUpper(std::string_view(line).substr(0, 3)) != "REM") return line;
    }
    return "NEXT";  // an empty list needs no separator
}

// The lines to write: NEXT between devices, and before the first one when
// the list does not end with it.
std::vector<std::string> withSeparators(const std::vector<std::vector<std::string>>& byDevice,
                                        bool separateFromList) {
    std::vector<std::string> lines;
    bool separate = separateFromList;
    for (const auto& device : byDevice) {
        if (device.empty()) continue;
        if (separate) lines.push_back("NEXT");
        lines.insert(lines.end(), device.begin(), device.end());
        separate = true;
    }
    return lines;
}

ListAppend refused(std::string message) { return {false, 0, 0, std::move(message)}; }

}  // namespace

DeviceSearch SearchDevices(Program& program, int first, int last, const std::atomic<bool>& stop,
                           const Scanner::Observer& progress, const std::string& templateFolder) {
    DeviceSearch search;
    std::vector<std::string> errors;
    const std::vector<DeviceTemplate> templates = LoadTemplates(templateFolder, errors);
    const std::int16_t before = profileOf(program.profileSection());
    if (!program.ImpostaPortaSeriale(0)) {
        search.error = "Profilo Serial_0 non applicabile: ricerca non eseguita";
        return search;
    }
    Scanner scanner(program.mbus(), stop, progress, &templates);
    for (const ScannedDevice& d : scanner.Run(first, last)) search.devices.push_back(copyOf(d));
    search.stopped = stop;
    if (before != 0) program.ImpostaPortaSeriale(before);
    return search;
}

ListAppend AppendToRequestList(Program& program,
                               const std::vector<std::vector<std::string>>& linesByDevice) {
    const std::string firstText = program.LeggiIni("Parameters", "Firt", "");
    const std::string lastText = program.LeggiIni("Parameters", "Last", "");
    const int first = ListLineNumber(firstText), last = ListLineNumber(lastText);
    if (first == 0 || last == 0 || first > last)
        return refused("Elenco non valido: [Parameters] Firt=" + firstText + ", Last=" + lastText);
    const std::vector<std::string> lines =
        withSeparators(linesByDevice, !isNext(lastListLine(program, first, last)));
    if (lines.empty()) return refused("Nessuna riga scelta");
    const int newLast = last + static_cast<int>(lines.size());
    if (newLast > 32767) return refused("Troppe righe: Last sarebbe " + std::to_string(newLast));
    const auto keys = program.settings().store().keys(program.IniPath(), "Parameters");
    for (int n = last + 1; n <= newLast; ++n)
        for (const std::string& key : keys)
            if (key == ListLineKey(n))
                return refused("La chiave " + key + " esiste già oltre Last (" + key + "=" +
                               program.LeggiIni("Parameters", key, "") +
                               "): nulla è stato scritto");
    for (int n = last + 1; n <= newLast; ++n)
        if (!program.ScriviIni("Parameters", ListLineKey(n), lines[std::size_t(n - last - 1)]))
            return refused("Scrittura di " + ListLineKey(n) +
                           " non riuscita: l'elenco resta com'era");
    if (!program.ScriviIni("Parameters", "Last", std::to_string(newLast)))
        return refused("Scrittura di Last non riuscita: l'elenco resta com'era");
    program.CaricaParametri();
    return {true, last + 1, newLast,
            "Aggiunte " + std::to_string(lines.size()) + " righe all'elenco (" +
                ListLineKey(last + 1) + "-" + ListLineKey(newLast) + ")"};
}

}  // namespace tarvel
