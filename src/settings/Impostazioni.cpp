#include "settings/Impostazioni.h"

#include "settings/KeyRules.h"

namespace tarvel {
namespace {
const char* const SiNo[] = {"0", "1"};
const char* const SuggerimentoChiocciola =
    "Inserire il carattere @ per lasciare indefinito questo campo";
}  // namespace

Impostazioni::Impostazioni(ProfileStore& store, Dialogs& dialogs, std::string cartellaProgramma)
    : store_(store), dialogs_(dialogs), cartella_(std::move(cartellaProgramma)) {}

std::string Impostazioni::PercorsoIni() const { return cartella_ + "/" + NomeFileIni; }

std::string Impostazioni::LeggiIni(const std::string& sezione, const std::string& chiave,
                                   const std::string& predefinito) const {
    return store_.read(PercorsoIni(), sezione, chiave, predefinito);
}

bool Impostazioni::ScriviIni(const std::string& sezione, const std::string& chiave,
                             const std::string& valore) {
    return store_.write(PercorsoIni(), sezione, chiave, valore);
}

void Impostazioni::LeggiAcquisizioneAutomatica() {
    opzioni_.acquisisciAuto = LeggiIni("Start", "Auto", "0") == "1";
}
void Impostazioni::LeggiAvvioRidotto() {
    opzioni_.minimizzaPartenza = LeggiIni("Start", "Min", "0") == "1";
}
void Impostazioni::LeggiCancellaFileUscita() {
    opzioni_.killFileOut = LeggiIni("Export", "Kill", "0") == "1";
}

void Impostazioni::SalvaAcquisizioneAutomatica() {
    ScriviIni("Start", "Auto", SiNo[opzioni_.acquisisciAuto]);
}
void Impostazioni::SalvaAvvioRidotto() {
    ScriviIni("Start", "Min", SiNo[opzioni_.minimizzaPartenza]);
}
void Impostazioni::SalvaCancellaFileUscita() {
    ScriviIni("Export", "Kill", SiNo[opzioni_.killFileOut]);
}

bool Impostazioni::CommutaAcquisizioneAutomatica() {
    opzioni_.acquisisciAuto = !opzioni_.acquisisciAuto;
    SalvaAcquisizioneAutomatica();
    return opzioni_.acquisisciAuto;
}
bool Impostazioni::CommutaAvvioRidotto() {
    opzioni_.minimizzaPartenza = !opzioni_.minimizzaPartenza;
    SalvaAvvioRidotto();
    return opzioni_.minimizzaPartenza;
}
bool Impostazioni::CommutaCancellaFileUscita() {
    opzioni_.killFileOut = !opzioni_.killFileOut;
    SalvaCancellaFileUscita();
    return opzioni_.killFileOut;
}

bool Impostazioni::chiediTesto(const char* sezione, const char* chiave, const char* primaRiga,
                               const char* suggerimento, const char* titolo, bool chiocciolaAzzera,
                               ControlloTesto problema) {
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

bool Impostazioni::MenuNomeFileOut_Click() {
    return chiediTesto("Export", "Out", "File di uscita generale:", SuggerimentoChiocciola,
                       "Definizione file di uscita", true);
}

bool Impostazioni::MenuTitoloGenerale_Click() {
    return chiediTesto("General", "Title", "Titolo generale:", SuggerimentoChiocciola,
                       "Definizione titolo generale", true);
}

bool Impostazioni::MenuEncodingXML_Click() {
    return chiediTesto("XML", "Encoding", "Encoding XML:", "Valore predefinito: UTF-8",
                       "Definizione encoding XML", false, EncodingProblem);
}

}  // namespace tarvel
