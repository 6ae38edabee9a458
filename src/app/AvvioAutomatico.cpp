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

bool AvvioAutomatico::CreaCollegamento(const std::string& nome, const std::string& cartella,
                                       const std::string& file) {
    return shell_.createDesktopShortcut(nome, cartella + file, cartella);
}

bool AvvioAutomatico::EliminaCollegamento(const std::string& nome) {
    return shell_.deleteDesktopShortcut(nome);
}

void AvvioAutomatico::MenuCreaCollegamento_Click() {
    // The executable's folder: an installed program keeps its settings
    // elsewhere (the program folder), but the shortcut starts the executable.
    const std::string eseguibile = identity_.executablePath();
    const std::string cartella = eseguibile.substr(0, eseguibile.rfind('/') + 1);
    CreaCollegamento(NomeProdotto, cartella, identity_.executableName());
}

void AvvioAutomatico::MenuEliminaCollegamento_Click() { EliminaCollegamento(NomeProdotto); }

void AvvioAutomatico::impostaSpunta(bool spunta) {
    spunta_ = spunta;
    if (spuntaCambiata_) spuntaCambiata_();
}

}  // namespace tarvel
