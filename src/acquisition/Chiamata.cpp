#include "acquisition/Chiamata.h"

#include "settings/Numero.h"

namespace tarvel {
namespace {

bool startsWithWord(std::string_view line, std::string_view word) {
    return line.size() >= word.size() && Maiuscolo(line.substr(0, word.size())) == word;
}

// The text after the last occurrence of separator, trimmed; the whole line
// when the separator is absent.
std::string afterLast(std::string_view line, char separator) {
    auto pos = line.rfind(separator);
    if (pos == std::string_view::npos) return std::string(line);
    return std::string(Trim(line.substr(pos + 1)));
}

struct Cut {
    Chiamata record;
    bool complete = false;
};

Cut cutReadLine(std::string_view line) {
    Cut cut;
    Chiamata& c = cut.record;
    struct Step {
        char separator;
        std::string* field;
    };
    const Step steps[] = {{',', &c.Nodo}, {',', &c.Codice}, {',', &c.Registro}, {';', &c.Decimali}};
    std::string_view rest = line;
    for (const Step& step : steps) {
        auto pos = rest.find(step.separator);
        if (pos == std::string_view::npos) {
            // The field that lacks its separator keeps what is left; the
            // fields after it stay empty.
            *step.field = std::string(rest);
            return cut;
        }
        *step.field = std::string(rest.substr(0, pos));
        rest = Trim(rest.substr(pos + 1));
    }
    c.Descrizione = std::string(rest);
    cut.complete = true;
    return cut;
}

}  // namespace

Chiamata TagliaRiga(std::string_view riga) {
    std::string_view line = Trim(riga);
    if (startsWithWord(line, "SERIAL"))
        return {"*", afterLast(line, '_'), "*", "*", "Serial settings"};
    if (startsWithWord(line, "SLEEP")) return {"#", afterLast(line, ' '), "*", "*", "Wait"};
    if (startsWithWord(line, "NEXT")) return {"%", "*", "*", "*", "Next device"};
    return cutReadLine(line).record;
}

TipoRiga TipoDiRiga(std::string_view riga) {
    std::string_view line = Trim(riga);
    if (line.empty()) return TipoRiga::Vuota;
    Chiamata c = TagliaRiga(line);
    if (c.Nodo == "*") return TipoRiga::Seriale;
    if (c.Nodo == "#") return TipoRiga::Attesa;
    if (c.Nodo == "%") return TipoRiga::Prossimo;
    if (!cutReadLine(line).complete) return TipoRiga::NonValida;
    return NumeroIniziale(c.Nodo) == 0 ? TipoRiga::Costante : TipoRiga::Lettura;
}

const char* NomeTipoRiga(TipoRiga tipo) {
    switch (tipo) {
        case TipoRiga::Lettura:
            return "read";
        case TipoRiga::Costante:
            return "constant";
        case TipoRiga::Seriale:
            return "serial";
        case TipoRiga::Attesa:
            return "wait";
        case TipoRiga::Prossimo:
            return "next";
        case TipoRiga::Vuota:
            return "empty";
        case TipoRiga::NonValida:
            return "invalid";
    }
    return "invalid";
}

}  // namespace tarvel
