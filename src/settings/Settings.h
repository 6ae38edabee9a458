#pragma once
// The settings file: the only access to it, and the options that the menus
// change (three check marks, three texts asked in an input box). Every
// change is written the moment it is made.

#include <optional>
#include <string>
#include <string_view>

#include "Product.h"
#include "platform/Dialogs.h"
#include "settings/ProfileStore.h"

namespace tarvel {

class Settings {
  public:
    struct Options {
        bool acquisisciAuto = false;     // "Automatica"
        bool minimizzaPartenza = false;  // "Startup ridotto ad icona"
        bool killFileOut = false;        // "Cancella i file di uscita prima di aggiornare"
    };

    Settings(ProfileStore& store, Dialogs& dialogs, std::string cartellaProgramma);

    const std::string& cartellaProgramma() const { return cartella_; }
    std::string PercorsoIni() const;
    std::string LeggiIni(const std::string& sezione, const std::string& chiave,
                         const std::string& predefinito) const;
    bool ScriviIni(const std::string& sezione, const std::string& chiave,
                   const std::string& valore);
    ProfileStore& store() const { return store_; }

    const Options& opzioni() const { return opzioni_; }
    // The three check marks from the file.
    void LeggiAcquisizioneAutomatica();
    void LeggiAvvioRidotto();
    void LeggiCancellaFileUscita();
    void SalvaAcquisizioneAutomatica();
    void SalvaAvvioRidotto();
    void SalvaCancellaFileUscita();
    // Switches one check mark and writes it; gives the new state.
    bool CommutaAcquisizioneAutomatica();
    bool CommutaAvvioRidotto();
    bool CommutaCancellaFileUscita();

    // The input-box options; each true when a text was written. An encoding
    // that is no encoding name is refused with a message that names it.
    bool MenuNomeFileOut_Click();
    bool MenuTitoloGenerale_Click();
    bool MenuEncodingXML_Click();

  private:
    // What is wrong with an answer, for its message; nothing when it is good.
    using TextCheck = std::optional<std::string> (*)(std::string_view);
    // Asks, and writes the answer unless problema refuses it (with a message).
    bool chiediTesto(const char* sezione, const char* chiave, const char* primaRiga,
                     const char* suggerimento, const char* titolo, bool chiocciolaAzzera,
                     TextCheck problema = nullptr);

    ProfileStore& store_;
    Dialogs& dialogs_;
    std::string cartella_;
    Options opzioni_;
};

}  // namespace tarvel
