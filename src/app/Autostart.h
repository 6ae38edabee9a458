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
    void LeggiAvvioAutomatico();

    // The shortcut called nome starts the executable (a full path) in the
    // working folder cartella.
    bool CreaCollegamento(const std::string& nome, const std::string& eseguibile,
                          const std::string& cartella);
    bool EliminaCollegamento(const std::string& nome);
    void MenuCreaCollegamento_Click();
    void MenuEliminaCollegamento_Click();

    bool spunta() const { return spunta_; }
    // Called after every change of the check mark.
    void onSpuntaCambiata(std::function<void()> handler) { spuntaCambiata_ = std::move(handler); }

  private:
    void impostaSpunta(bool spunta);

    DesktopShell& shell_;
    Dialogs& dialogs_;
    const ProgramIdentity& identity_;
    bool spunta_ = false;
    std::function<void()> spuntaCambiata_;
};

}  // namespace tarvel
