#include "app/AvvioAutomatico.h"

#include "Prodotto.h"

namespace tarvel {

AvvioAutomatico::AvvioAutomatico(DesktopShell& shell, Dialogs& dialogs,
                                 const ProgramIdentity& identity)
    : shell_(shell), dialogs_(dialogs), identity_(identity) {}

bool AvvioAutomatico::AutoAvvioAttivo() {
    return !shell_.autostartCommand(identity_.executableName()).empty();
}

void AvvioAutomatico::AttivaAutoAvvio() {
    if (AutoAvvioAttivo()) return;
    shell_.writeAutostart(identity_.executableName(), identity_.executablePath());
    if (AutoAvvioAttivo()) {
        impostaSpunta(true);
        return;
    }
    dialogs_.messageBox(NomeProdotto,
                        "Attenzione: Il programma non può essere inserito nella tray bar.",
                        Icon::Exclamation, Buttons::Ok, Answer::Ok, {});
}

void AvvioAutomatico::DisattivaAutoAvvio() {
    if (!AutoAvvioAttivo()) return;
    shell_.removeAutostart(identity_.executableName());
    if (!AutoAvvioAttivo()) {
        impostaSpunta(false);
        return;
    }
    dialogs_.messageBox(NomeProdotto,
                        "Attenzione: Il programma è già stato inserito nella tray bar.",
                        Icon::Critical, Buttons::Ok, Answer::Ok, {});
}

void AvvioAutomatico::MenuAvvioAuto_Click(bool avvioInCorso) {
    if (avvioInCorso) return;
    if (spunta_)
        DisattivaAutoAvvio();
    else
        AttivaAutoAvvio();
}

void AvvioAutomatico::LeggiAvvioAutomatico() { impostaSpunta(AutoAvvioAttivo()); }

bool AvvioAutomatico::CreaCollegamento(const std::string& nome, const std::string& eseguibile,
                                       const std::string& cartella) {
    return shell_.createDesktopShortcut(nome, eseguibile, cartella);
}

bool AvvioAutomatico::EliminaCollegamento(const std::string& nome) {
    return shell_.deleteDesktopShortcut(nome);
}

void AvvioAutomatico::MenuCreaCollegamento_Click() {
    // The executable, started in the program folder: for an installed
    // program the two differ (its settings are the user's own).
    CreaCollegamento(NomeProdotto, identity_.executablePath(), identity_.programFolder() + "/");
}

void AvvioAutomatico::MenuEliminaCollegamento_Click() { EliminaCollegamento(NomeProdotto); }

void AvvioAutomatico::impostaSpunta(bool spunta) {
    spunta_ = spunta;
    if (spuntaCambiata_) spuntaCambiata_();
}

}  // namespace tarvel
