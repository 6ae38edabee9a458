#pragma once
// Why a settings file cannot be used, and the cause in Italian for the
// messages that come with "Impostazioni errate nel file Tarvel.INI".

#include <cstdint>
#include <string>

namespace tarvel {

enum class CausaImpostazioni : std::uint8_t {
    Nessuna,
    FileMancante,     // nothing at the path
    Cartella,         // the path names a folder
    Illeggibile,      // there, but it cannot be read (motivo: the system's reason)
    Utf16,            // a UTF-16 text: no key can be read from it
    ChiaveMancante,   // a key that must be there is absent or empty
    ValoreNonValido,  // a key whose value is out of its range
};

struct ErroreImpostazioni {
    CausaImpostazioni causa = CausaImpostazioni::Nessuna;
    std::string percorso;  // the settings file's full path
    std::string sezione;   // the key at fault, when one is
    std::string chiave;
    std::string valore;    // its value as written
    std::string motivo;    // the system's reason, when it gave one
};

// One line naming the file, the key when there is one, and the cause.
std::string DescriviErroreImpostazioni(const ErroreImpostazioni& errore);

}  // namespace tarvel
