// The settings file: access, loading and reloading, and the options the
// menus change.

#include "acquisition/Programma.h"

namespace tarvel {
namespace {
const char* const SiNo[] = {"0", "1"};
}

std::string Programma::PercorsoIni() const {
    return p_.identity.programFolder() + "/" + NomeFileIni;
}

std::string Programma::LeggiIni(const std::string& sezione, const std::string& chiave,
                                const std::string& predefinito) {
    return p_.ini.read(PercorsoIni(), sezione, chiave, predefinito);
}

bool Programma::ScriviIni(const std::string& sezione, const std::string& chiave,
                          const std::string& valore) {
    return p_.ini.write(PercorsoIni(), sezione, chiave, valore);
}

void Programma::ModificaIni() {
    // The editor runs on its own; a failure to start it shows nothing.
    p_.shell.openInEditor(PercorsoIni());
}

void Programma::PredefinitiModbus() {
    mbus_.Retry = 1;
    mbus_.TimeOutMs = 800;
}

bool Programma::CaricaImpostazioni() {
    PredefinitiModbus();
    if (!CaricaParametri()) {
        p_.dialogs.messageBox(NomeProdotto,
                              std::string("Impostazioni errate nel file ") + NomeFileIni,
                              Icon::Critical, Buttons::Ok, Answer::Ok);
        return false;
    }
    LeggiAcquisizioneAutomatica();
    LeggiAvvioRidotto();
    LeggiCancellaFileUscita();
    return true;
}

bool Programma::MenuRicarica_Click() {
    if (!CaricaImpostazioni()) return false;
    if (view_) view_->impostazioniRicaricate();
    return true;
}

void Programma::LeggiAcquisizioneAutomatica() {
    stato_.acquisisciAuto = LeggiIni("Start", "Auto", "0") == "1";
    notifica(&MainView::opzioniCambiate);
}

void Programma::SalvaAcquisizioneAutomatica() {
    ScriviIni("Start", "Auto", SiNo[stato_.acquisisciAuto]);
}

void Programma::LeggiAvvioRidotto() {
    stato_.minimizzaPartenza = LeggiIni("Start", "Min", "0") == "1";
    notifica(&MainView::opzioniCambiate);
}

void Programma::SalvaAvvioRidotto() { ScriviIni("Start", "Min", SiNo[stato_.minimizzaPartenza]); }

void Programma::LeggiCancellaFileUscita() {
    stato_.killFileOut = LeggiIni("Export", "Kill", "0") == "1";
    notifica(&MainView::opzioniCambiate);
}

void Programma::SalvaCancellaFileUscita() { ScriviIni("Export", "Kill", SiNo[stato_.killFileOut]); }

// --- Option menus ------------------------------------------------------------

void Programma::MenuAcquisisciAuto_Click() {
    stato_.acquisisciAuto = !stato_.acquisisciAuto;
    SalvaAcquisizioneAutomatica();
    notifica(&MainView::opzioniCambiate);
    if (stato_.acquisisciAuto) MenuAvvio_Click();
}

void Programma::MenuMinimizzaPartenza_Click() {
    stato_.minimizzaPartenza = !stato_.minimizzaPartenza;
    SalvaAvvioRidotto();
    notifica(&MainView::opzioniCambiate);
    if (view_) view_->riduciInTray(stato_.minimizzaPartenza);
}

void Programma::MenuKillfileOut_Click() {
    stato_.killFileOut = !stato_.killFileOut;
    SalvaCancellaFileUscita();
    notifica(&MainView::opzioniCambiate);
}

bool Programma::chiediTesto(const char* sezione, const char* chiave, const char* primaRiga,
                            const char* suggerimento, const char* titolo, bool chiocciolaAzzera) {
    std::string attuale = LeggiIni(sezione, chiave, "");
    // The first line, one empty line, then the hint.
    std::string prompt = std::string(primaRiga) + "\n\n" + suggerimento;
    std::string risposta = p_.dialogs.inputBox(prompt, titolo, attuale);
    if (risposta.empty()) return false;
    if (chiocciolaAzzera && risposta == "@") risposta.clear();
    ScriviIni(sezione, chiave, risposta);
    return true;
}

void Programma::MenuNomeFileOut_Click() {
    chiediTesto("Export", "Out", "File di uscita generale:",
                "Inserire il carattere @ per lasciare indefinito questo campo",
                "Definizione file di uscita", true);
}

void Programma::MenuTitoloGenerale_Click() {
    if (chiediTesto("General", "Title", "Titolo generale:",
                    "Inserire il carattere @ per lasciare indefinito questo campo",
                    "Definizione titolo generale", true))
        CaricaParametri();
}

void Programma::MenuEncodingXML_Click() {
    chiediTesto("XML", "Encoding", "Encoding XML:", "Valore predefinito: UTF-8",
                "Definizione encoding XML", false);
}

}  // namespace tarvel
