#pragma once
// The settings file: the only access to it, and the options that the menus
// change (three check marks, three texts asked in an input box). Every
// change is written the moment it is made.

#include <string>

#include "Prodotto.h"
#include "platform/Dialogs.h"
#include "settings/ProfileStore.h"

namespace tarvel {

class Impostazioni {
  public:
    struct Opzioni {
        bool acquisisciAuto = false;     // "Automatica"
        bool minimizzaPartenza = false;  // "Avvio ridotto ad icona"
        bool killFileOut = false;        // "Cancella i file di uscita prima di aggiornare"
    };

    Impostazioni(ProfileStore& store, Dialogs& dialogs, std::string cartellaProgramma);

    const std::string& cartellaProgramma() const { return cartella_; }
    std::string PercorsoIni() const;
    std::string LeggiIni(const std::string& sezione, const std::string& chiave,
                         const std::string& predefinito) const;
    bool ScriviIni(const std::string& sezione, const std::string& chiave,
                   const std::string& valore);
    ProfileStore& store() const { return store_; }

    const Opzioni& opzioni() const { return opzioni_; }
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

    // The input-box options; each true when a text was written.
    bool MenuNomeFileOut_Click();
    bool MenuTitoloGenerale_Click();
    bool MenuEncodingXML_Click();

  private:
    bool chiediTesto(const char* sezione, const char* chiave, const char* primaRiga,
                     const char* suggerimento, const char* titolo, bool chiocciolaAzzera);

    ProfileStore& store_;
    Dialogs& dialogs_;
    std::string cartella_;
    Opzioni opzioni_;
};

}  // namespace tarvel
