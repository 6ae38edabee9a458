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
        setChecked(true);
        return;
    }
    dialogs_.messageBox(ProductName,
                        "Attenzione: Il programma non può essere inserito nella tray bar.",
                        Icon::Exclamation, Buttons::Ok, Answer::Ok, {});
}

void Autostart::DisattivaAutoAvvio() {
    if (!AutoAvvioAttivo()) return;
    shell_.removeAutostart(identity_.executableName());
    if (!AutoAvvioAttivo()) {
        setChecked(false);
        return;
    }
    dialogs_.messageBox(ProductName,
                        "Attenzione: Il programma è già stato inserito nella tray bar.",
                        Icon::Critical, Buttons::Ok, Answer::Ok, {});
}

void Autostart::MenuAvvioAuto_Click(bool avvioInCorso) {
    if (avvioInCorso) return;
    if (checked_)
        DisattivaAutoAvvio();
    else
        AttivaAutoAvvio();
}

void Autostart::ReadAutostart() { setChecked(AutoAvvioAttivo()); }

bool Autostart::CreaCollegamento(const std::string& name, const std::string& exePath,
                                       const std::string& folder) {
    return shell_.createDesktopShortcut(name, exePath, folder);
}

bool Autostart::EliminaCollegamento(const std::string& name) {
    return shell_.deleteDesktopShortcut(name);
}

void Autostart::MenuCreaCollegamento_Click() {
    // The executable, started in the program folder: for an installed
    // program the two differ (its settings are the user's own).
    CreaCollegamento(ProductName, identity_.executablePath(), identity_.programFolder() + "/");
}

void Autostart::MenuEliminaCollegamento_Click() { EliminaCollegamento(ProductName); }

void Autostart::setChecked(bool checked) {
    checked_ = checked;
    if (checkChanged_) checkChanged_();
}

}  // namespace tarvel
