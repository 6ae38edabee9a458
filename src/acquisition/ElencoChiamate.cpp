#include "acquisition/ElencoChiamate.h"

#include <cmath>

#include "Prodotto.h"
#include "settings/Impostazioni.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

// "Firt" and "Last": the absolute value of the leading number as a 16-bit
// integer; 0 when empty or out of range.
int numeroRiga(const std::string& testo) {
    if (testo.empty()) return 0;
    return ArrotondaInt16(std::fabs(NumeroIniziale(testo))).value_or(0);
}

// The key of line n: at least three digits, with leading zeros.
std::string chiaveRiga(int n) {
    std::string key = std::to_string(n);
    if (key.size() < 3) key.insert(0, 3 - key.size(), '0');
    return key;
}

}  // namespace

std::string DidascaliaPerTitolo(const std::string& titolo) {
    return std::string(NomeProdotto) + (titolo.empty() ? "" : " [" + titolo + "]");
}

std::optional<ElencoChiamate> LeggiElencoChiamate(const Impostazioni& imp, std::string& titolo) {
    // One load reads one version of the file.
    HeldVersion versione(imp.store());
    titolo = imp.LeggiIni("General", "Title", "");
    const int prima = numeroRiga(imp.LeggiIni("Parameters", "Firt", "0"));
    const int ultima = numeroRiga(imp.LeggiIni("Parameters", "Last", "0"));
    if (prima == 0 || ultima == 0) return std::nullopt;

    ElencoChiamate elenco;
    auto intervallo = ArrotondaInt32(NumeroIniziale(imp.LeggiIni("Parameters", "Interval", "0")));
    elenco.intervallo =
        Millis(intervallo && *intervallo >= 1 && *intervallo <= 60000 ? *intervallo : 1000);
    for (int n = prima; n <= ultima; ++n) {
        std::string riga(Trim(imp.LeggiIni("Parameters", chiaveRiga(n), "")));
        if (Maiuscolo(riga.substr(0, 3)) != "REM") elenco.righe.push_back(CaricaRiga(riga));
    }
    return elenco;
}

}  // namespace tarvel
