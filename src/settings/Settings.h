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
        bool automaticAcquisition = false;     // "Automatica"
        bool startMinimised = false;  // "Startup ridotto ad icon"
        bool killFileOut = false;        // "Cancella i file di exported first di aggiornare"
    };

    Settings(ProfileStore& store, Dialogs& dialogs, std::string programFolder);

    const std::string& programFolder() const { return folder_; }
    std::string IniPath() const;
    std::string LeggiIni(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
    bool ScriviIni(const std::string& section, const std::string& key,
                   const std::string& value);
    ProfileStore& store() const { return store_; }

    const Options& options() const { return options_; }
    // The three check marks from the file.
    void LeggiAcquisizioneAutomatica();
    void LeggiAvvioRidotto();
    void LeggiCancellaFileUscita();
    void SalvaAcquisizioneAutomatica();
    void SalvaAvvioRidotto();
    void SalvaCancellaFileUscita();
    // Switches one check mark and writes it; gives the new state.
    bool ToggleAutomaticAcquisition();
    bool ToggleStartMinimised();
    bool ToggleDeleteOutputFiles();

    // The input-box options; each true when a text was written. An encoding
    // that is no encoding name is refused with a message that names it.
    bool MenuNomeFileOut_Click();
    bool MenuTitoloGenerale_Click();
    bool MenuEncodingXML_Click();

  private:
    // What is wrong with an answer, for its message; nothing when it is good.
    using TextCheck = std::optional<std::string> (*)(std::string_view);
    // Asks, and writes the answer unless problem refuses it (with a message).
    bool askText(const char* section, const char* key, const char* firstRow,
                     const char* hint, const char* title, bool atSignResets,
                     TextCheck problem = nullptr);

    ProfileStore& store_;
    Dialogs& dialogs_;
    std::string folder_;
    Options options_;
};

}  // namespace tarvel
