// Request lines: any text is cut into fields taken from the line itself (or
// the fixed words of the control lines), the kind of line agrees with the
// first field, and the line's check runs on whatever was cut.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "acquisition/Chiamata.h"
#include "acquisition/Verifica.h"
#include "settings/Numero.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

bool isFixedWord(const std::string& field) {
    for (const char* word : {"*", "#", "%", "Serial settings", "Wait", "Next device"}) {
        if (field == word) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const tarvel::Chiamata record = tarvel::TagliaRiga(line);
    const tarvel::TipoRiga kind = tarvel::TipoDiRiga(line);
    require(tarvel::NomeTipoRiga(kind) != nullptr);

    for (const std::string* field :
         {&record.Nodo, &record.Codice, &record.Registro, &record.Decimali, &record.Descrizione}) {
        if (isFixedWord(*field)) continue;
        require(field->size() <= line.size());
        require(line.find(*field) != std::string_view::npos);
    }

    using tarvel::TipoRiga;
    require((kind == TipoRiga::Vuota) == tarvel::Trim(line).empty());
    require((kind == TipoRiga::Seriale) == (record.Nodo == "*"));
    require((kind == TipoRiga::Attesa) == (record.Nodo == "#"));
    require((kind == TipoRiga::Prossimo) == (record.Nodo == "%"));
    // The check of a line as the load keeps it: control lines have nothing
    // to find, a line cut short has that one problem.
    const std::vector<std::string> problems = tarvel::ProblemiRiga(tarvel::CaricaRiga(line));
    if (kind != TipoRiga::Lettura && kind != TipoRiga::Costante)
        require(problems.size() == (kind == TipoRiga::NonValida ? 1u : 0u));
    return 0;
}
