#include "settings/SettingsError.h"

namespace tarvel {

std::string DescribeSettingsError(const SettingsError& e) {
    const std::string& file = e.path;
    const std::string key = file + ": [" + e.section + "] " + e.key;
    switch (e.cause) {
        case SettingsErrorCause::None:
            break;
        case SettingsErrorCause::FileMissing:
            return "il file " + file + " non esiste";
        case SettingsErrorCause::Folder:
            return file + " è una cartella, non un file";
        case SettingsErrorCause::Unreadable:
            return "impossibile leggere il file " + file +
                   (e.reason.empty() ? std::string() : " (" + e.reason + ")");
        case SettingsErrorCause::Utf16:
            return "il file " + file + " è in UTF-16: salvarlo come UTF-8 o ANSI";
        case SettingsErrorCause::MissingKey:
            return key + ": chiave mancante o vuota, nessun intervallo di richieste";
        case SettingsErrorCause::InvalidValue:
            if (!e.reason.empty())
                return key + ": valore non valido \"" + e.value + "\" (" + e.reason + ")";
            return key + ": valore non valido \"" + e.value +
                   "\", nessun intervallo di richieste (numero di riga da 1 a 32767)";
    }
    return {};
}

}  // namespace tarvel
