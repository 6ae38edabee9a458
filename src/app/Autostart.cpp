#include "app/Autostart.h"

#include "Product.h"

namespace tarvel {

Autostart::Autostart(DesktopShell& shell, Dialogs& dialogs,
                                 const ProgramIdentity& identity)
    : shell_(shell), dialogs_(dialogs), identity_(identity) {}

bool Autostart::AutoAvvioAttivo() {
    return !shell_.autostartCommand(identity_.executableName()).empty();
}

void Autostart::AttivaAutoAvvio() {
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

void Autostart::DisattivaAutoAvvio() {
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

void Autostart::MenuAvvioAuto_Click(bool avvioInCorso) {
    if (avvioInCorso) return;
    if (spunta_)
        DisattivaAutoAvvio();
    else
        AttivaAutoAvvio();
}

void Autostart::LeggiAvvioAutomatico() { impostaSpunta(AutoAvvioAttivo()); }

bool Autostart::CreaCollegamento(const std::string& nome, const std::string& eseguibile,
                                       const std::string& cartella) {
    return shell_.createDesktopShortcut(nome, eseguibile, cartella);
}

bool Autostart::EliminaCollegamento(const std::string& nome) {
    return shell_.deleteDesktopShortcut(nome);
}

void Autostart::MenuCreaCollegamento_Click() {
    // The executable, started in the program folder: for an installed
    // program the two differ (its settings are the user's own).
    CreaCollegamento(NomeProdotto, identity_.executablePath(), identity_.programFolder() + "/");
}

void Autostart::MenuEliminaCollegamento_Click() { EliminaCollegamento(NomeProdotto); }

void Autostart::impostaSpunta(bool spunta) {
    spunta_ = spunta;
    if (spuntaCambiata_) spuntaCambiata_();
}

}  // namespace tarvel
