#include "settings/Settings.h"

#include "settings/KeyRules.h"

namespace tarvel {
namespace {
const char* const SiNo[] = {"0", "1"};
const char* const SuggerimentoChiocciola =
    "Inserire il carattere @ per lasciare indefinito questo campo";
}  // namespace

Settings::Settings(ProfileStore& store, Dialogs& dialogs, std::string cartellaProgramma)
    : store_(store), dialogs_(dialogs), cartella_(std::move(cartellaProgramma)) {}

std::string Settings::PercorsoIni() const { return cartella_ + "/" + NomeFileIni; }

std::string Settings::LeggiIni(const std::string& sezione, const std::string& chiave,
                                   const std::string& predefinito) const {
    return store_.read(PercorsoIni(), sezione, chiave, predefinito);
}

bool Settings::ScriviIni(const std::string& sezione, const std::string& chiave,
                             const std::string& valore) {
    return store_.write(PercorsoIni(), sezione, chiave, valore);
}

void Settings::LeggiAcquisizioneAutomatica() {
    opzioni_.acquisisciAuto = LeggiIni("Start", "Auto", "0") == "1";
}
void Settings::LeggiAvvioRidotto() {
    opzioni_.minimizzaPartenza = LeggiIni("Start", "Min", "0") == "1";
}
void Settings::LeggiCancellaFileUscita() {
    opzioni_.killFileOut = LeggiIni("Export", "Kill", "0") == "1";
}

void Settings::SalvaAcquisizioneAutomatica() {
    ScriviIni("Start", "Auto", SiNo[opzioni_.acquisisciAuto]);
}
void Settings::SalvaAvvioRidotto() {
    ScriviIni("Start", "Min", SiNo[opzioni_.minimizzaPartenza]);
}
void Settings::SalvaCancellaFileUscita() {
    ScriviIni("Export", "Kill", SiNo[opzioni_.killFileOut]);
}

bool Settings::CommutaAcquisizioneAutomatica() {
    opzioni_.acquisisciAuto = !opzioni_.acquisisciAuto;
    SalvaAcquisizioneAutomatica();
    return opzioni_.acquisisciAuto;
}
bool Settings::CommutaAvvioRidotto() {
    opzioni_.minimizzaPartenza = !opzioni_.minimizzaPartenza;
    SalvaAvvioRidotto();
    return opzioni_.minimizzaPartenza;
}
bool Settings::CommutaCancellaFileUscita() {
    opzioni_.killFileOut = !opzioni_.killFileOut;
    SalvaCancellaFileUscita();
    return opzioni_.killFileOut;
}

bool Settings::chiediTesto(const char* sezione, const char* chiave, const char* primaRiga,
                               const char* suggerimento, const char* titolo, bool chiocciolaAzzera,
                               TextCheck problema) {
    std::string attuale = LeggiIni(sezione, chiave, "");
    // The first line, one empty line, then the hint.
    std::string prompt = std::string(primaRiga) + "\n\n" + suggerimento;
    std::string risposta = dialogs_.inputBox(prompt, titolo, attuale);
    if (risposta.empty()) return false;
    if (chiocciolaAzzera && risposta == "@") risposta.clear();
    if (const auto p = problema ? problema(risposta) : std::nullopt) {
        dialogs_.messageBox(NomeProdotto, std::string("Valore non accettato: ") + titolo + ".",
                            Icon::Exclamation, Buttons::Ok, Answer::Ok, *p);
        return false;
    }
    ScriviIni(sezione, chiave, risposta);
    return true;
}

bool Settings::MenuNomeFileOut_Click() {
    return chiediTesto("Export", "Out", "File di uscita generale:", SuggerimentoChiocciola,
                       "Definizione file di uscita", true);
}

bool Settings::MenuTitoloGenerale_Click() {
    return chiediTesto("General", "Title", "Titolo generale:", SuggerimentoChiocciola,
                       "Definizione titolo generale", true);
}

bool Settings::MenuEncodingXML_Click() {
    return chiediTesto("XML", "Encoding", "Encoding XML:", "Valore predefinito: UTF-8",
                       "Definizione encoding XML", false, EncodingProblem);
}

}  // namespace tarvel
