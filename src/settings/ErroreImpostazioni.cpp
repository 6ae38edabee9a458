#include "settings/ErroreImpostazioni.h"

namespace tarvel {

std::string DescriviErroreImpostazioni(const ErroreImpostazioni& e) {
    const std::string& file = e.percorso;
    const std::string chiave = file + ": [" + e.sezione + "] " + e.chiave;
    switch (e.causa) {
        case CausaImpostazioni::Nessuna:
            break;
        case CausaImpostazioni::FileMancante:
            return "il file " + file + " non esiste";
        case CausaImpostazioni::Cartella:
            return file + " è una cartella, non un file";
        case CausaImpostazioni::Illeggibile:
            return "impossibile leggere il file " + file +
                   (e.motivo.empty() ? std::string() : " (" + e.motivo + ")");
        case CausaImpostazioni::Utf16:
            return "il file " + file + " è in UTF-16: salvarlo come UTF-8 o ANSI";
        case CausaImpostazioni::ChiaveMancante:
            return chiave + ": chiave mancante o vuota, nessun intervallo di richieste";
        case CausaImpostazioni::ValoreNonValido:
            return chiave + ": valore non valido \"" + e.valore +
                   "\", nessun intervallo di richieste (numero di riga da 1 a 32767)";
    }
    return {};
}

}  // namespace tarvel
