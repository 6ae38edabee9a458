#include "settings/SettingsError.h"

namespace tarvel {

std::string DescriviErroreImpostazioni(const SettingsError& e) {
    const std::string& file = e.percorso;
    const std::string chiave = file + ": [" + e.sezione + "] " + e.chiave;
    switch (e.causa) {
        case SettingsErrorCause::None:
            break;
        case SettingsErrorCause::FileMissing:
            return "il file " + file + " non esiste";
        case SettingsErrorCause::Folder:
            return file + " è una cartella, non un file";
        case SettingsErrorCause::Unreadable:
            return "impossibile leggere il file " + file +
                   (e.motivo.empty() ? std::string() : " (" + e.motivo + ")");
        case SettingsErrorCause::Utf16:
            return "il file " + file + " è in UTF-16: salvarlo come UTF-8 o ANSI";
        case SettingsErrorCause::MissingKey:
            return chiave + ": chiave mancante o vuota, nessun intervallo di richieste";
        case SettingsErrorCause::InvalidValue:
            return chiave + ": valore non valido \"" + e.valore +
                   "\", nessun intervallo di richieste (numero di riga da 1 a 32767)";
    }
    return {};
}

}  // namespace tarvel
