#pragma once
// Start at log-on and the desktop shortcut: the commands of the "&Options"
// menu, on the desktop shell's entries. The check mark of "Startup
// Automatico" changes only after the entry was read back.

#include <functional>
#include <string>

#include "platform/DesktopShell.h"
#include "platform/Dialogs.h"
#include "platform/ProgramIdentity.h"

namespace tarvel {

class Autostart {
  public:
    Autostart(DesktopShell& shell, Dialogs& dialogs, const ProgramIdentity& identity);

    // True when the entry named after the executable starts something.
    bool AutoAvvioAttivo();
    void AttivaAutoAvvio();
    void DisattivaAutoAvvio();
    // Does nothing while the start-up runs; otherwise switches the entry.
    void MenuAvvioAuto_Click(bool avvioInCorso);
    // Sets the check mark from the entry, at start-up.
    void ReadAutostart();

    // The shortcut called name starts the executable (a full path) in the
    // working folder folder.
    bool CreaCollegamento(const std::string& name, const std::string& exePath,
                          const std::string& folder);
    bool EliminaCollegamento(const std::string& name);
    void MenuCreaCollegamento_Click();
    void MenuEliminaCollegamento_Click();

    bool checked() const { return checked_; }
    // Called after every change of the check mark.
    void onCheckChanged(std::function<void()> handler) { checkChanged_ = std::move(handler); }

  private:
    void setChecked(bool checked);

    DesktopShell& shell_;
    Dialogs& dialogs_;
    const ProgramIdentity& identity_;
    bool checked_ = false;
    std::function<void()> checkChanged_;
};

}  // namespace tarvel
