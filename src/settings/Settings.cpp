#include "settings/Settings.h"

#include "settings/KeyRules.h"

namespace tarvel {
namespace {
const char* const YesNo[] = {"0", "1"};
const char* const AtSignHint =
    "Inserire il carattere @ per lasciare indefinito questo campo";
}  // namespace

Settings::Settings(ProfileStore& store, Dialogs& dialogs, std::string programFolder)
    : store_(store), dialogs_(dialogs), folder_(std::move(programFolder)) {}

std::string Settings::IniPath() const { return folder_ + "/" + IniFileName; }

std::string Settings::LeggiIni(const std::string& section, const std::string& key,
                                   const std::string& fallback) const {
    return store_.read(IniPath(), section, key, fallback);
}

bool Settings::ScriviIni(const std::string& section, const std::string& key,
                             const std::string& value) {
    return store_.write(IniPath(), section, key, value);
}

void Settings::LeggiAcquisizioneAutomatica() {
    options_.automaticAcquisition = LeggiIni("Start", "Auto", "0") == "1";
}
void Settings::LeggiAvvioRidotto() {
    options_.startMinimised = LeggiIni("Start", "Min", "0") == "1";
}
void Settings::LeggiCancellaFileUscita() {
    options_.killFileOut = LeggiIni("Export", "Kill", "0") == "1";
}

void Settings::SalvaAcquisizioneAutomatica() {
    ScriviIni("Start", "Auto", YesNo[options_.automaticAcquisition]);
}
void Settings::SalvaAvvioRidotto() {
    ScriviIni("Start", "Min", YesNo[options_.startMinimised]);
}
void Settings::SalvaCancellaFileUscita() {
    ScriviIni("Export", "Kill", YesNo[options_.killFileOut]);
}

bool Settings::ToggleAutomaticAcquisition() {
    options_.automaticAcquisition = !options_.automaticAcquisition;
    SalvaAcquisizioneAutomatica();
    return options_.automaticAcquisition;
}
bool Settings::ToggleStartMinimised() {
    options_.startMinimised = !options_.startMinimised;
    SalvaAvvioRidotto();
    return options_.startMinimised;
}
bool Settings::ToggleDeleteOutputFiles() {
    options_.killFileOut = !options_.killFileOut;
    SalvaCancellaFileUscita();
    return options_.killFileOut;
}

bool Settings::askText(const char* section, const char* key, const char* firstRow,
                               const char* hint, const char* title, bool atSignResets,
                               TextCheck problem) {
    std::string current = LeggiIni(section, key, "");
    // The first line, one empty line, then the hint.
    std::string prompt = std::string(firstRow) + "\n\n" + hint;
    std::string answer = dialogs_.inputBox(prompt, title, current);
    if (answer.empty()) return false;
    if (atSignResets && answer == "@") answer.clear();
    if (const auto p = problem ? problem(answer) : std::nullopt) {
        dialogs_.messageBox(ProductName, std::string("Valore non accettato: ") + title + ".",
                            Icon::Exclamation, Buttons::Ok, Answer::Ok, *p);
        return false;
    }
    ScriviIni(section, key, answer);
    return true;
}

bool Settings::MenuNomeFileOut_Click() {
    return askText("Export", "Out", "File di uscita generale:", AtSignHint,
                       "Definizione file di uscita", true);
}

bool Settings::MenuTitoloGenerale_Click() {
    return askText("General", "Title", "Titolo generale:", AtSignHint,
                       "Definizione titolo generale", true);
}

bool Settings::MenuEncodingXML_Click() {
    return askText("XML", "Encoding", "Encoding XML:", "Valore predefinito: UTF-8",
                       "Definizione encoding XML", false, EncodingProblem);
}

}  // namespace tarvel
