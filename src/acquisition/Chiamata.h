#pragma once
// A request line of the list and the record it is cut into.

#include <string>
#include <string_view>

namespace tarvel {

// The five fields of the request being executed, as the detail fields show
// them. All text: the numbers are taken when the request is executed.
struct Chiamata {
    std::string Nodo;
    std::string Codice;
    std::string Registro;
    std::string Decimali;
    std::string Descrizione;
    bool operator==(const Chiamata&) const = default;
};

enum class TipoRiga { Lettura, Costante, Seriale, Attesa, Prossimo, Vuota, NonValida };

// Cuts a request line into its record. A read line that lacks one of its
// separators (three commas, then a semicolon) is cut as far as it goes, the
// rest of the fields stay empty.
Chiamata TagliaRiga(std::string_view riga);

// What executing the record does. Blank lines and read lines that miss a
// separator are not executed as reads.
TipoRiga TipoDiRiga(std::string_view riga);
const char* NomeTipoRiga(TipoRiga tipo);

}  // namespace tarvel
