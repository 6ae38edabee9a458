#include "acquisition/RequestList.h"

#include <cmath>

#include "Product.h"
#include "acquisition/ListCheck.h"
#include "settings/Settings.h"
#include "settings/Number.h"

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

// Why "Firt" or "Last" gives no line number: the file gives no key at
// all, or the key is absent, or its value is out of range.
SettingsError senzaIntervallo(const Settings& imp, const char* chiave,
                                   const std::string& valore) {
    SettingsError e = imp.store().problemaFile(imp.PercorsoIni());
    if (e.causa != SettingsErrorCause::None) return e;
    e.percorso = imp.PercorsoIni();
    e.sezione = "Parameters";
    e.chiave = chiave;
    e.valore = valore;
    e.causa = Trim(valore).empty() ? SettingsErrorCause::MissingKey
                                   : SettingsErrorCause::InvalidValue;
    return e;
}

}  // namespace

std::string DidascaliaPerTitolo(const std::string& titolo) {
    return std::string(NomeProdotto) + (titolo.empty() ? "" : " [" + titolo + "]");
}

RequestListRead LeggiElencoChiamate(const Settings& imp, std::string& titolo) {
    titolo = imp.LeggiIni("General", "Title", "");
    const std::string primaTesto = imp.LeggiIni("Parameters", "Firt", "");
    const std::string ultimaTesto = imp.LeggiIni("Parameters", "Last", "");
    const int prima = numeroRiga(primaTesto);
    const int ultima = numeroRiga(ultimaTesto);
    if (prima == 0) return {std::nullopt, senzaIntervallo(imp, "Firt", primaTesto)};
    if (ultima == 0) return {std::nullopt, senzaIntervallo(imp, "Last", ultimaTesto)};

    RequestList elenco;
    elenco.prima = prima;
    elenco.ultima = ultima;
    auto intervallo = ArrotondaInt32(NumeroIniziale(imp.LeggiIni("Parameters", "Interval", "0")));
    elenco.intervallo =
        Millis(intervallo && *intervallo >= 1 && *intervallo <= 60000 ? *intervallo : 1000);
    for (int n = prima; n <= ultima; ++n) {
        std::string riga(Trim(imp.LeggiIni("Parameters", chiaveRiga(n), "")));
        if (Maiuscolo(riga.substr(0, 3)) == "REM") continue;
        elenco.righe.push_back(CaricaRiga(riga));
        elenco.righe.back().problemi = ProblemiRiga(elenco.righe.back());
    }
    return {std::move(elenco), {}};
}

std::vector<std::string> RigheNonLette(const std::vector<std::string>& chiavi,
                                       const RequestList& elenco) {
    const int prima = elenco.prima;
    const int ultima = elenco.ultima;
    std::vector<std::string> avvisi;
    for (const std::string& chiave : chiavi) {
        if (chiave.empty() || chiave.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string inizio = "[Parameters] " + chiave + ": ";
        const std::optional<std::int16_t> n = ArrotondaInt16(NumeroIniziale(chiave));
        if (!n || *n < prima || *n > ultima)
            avvisi.push_back(inizio + "riga fuori da Firt-Last (" + std::to_string(prima) + "-" +
                             std::to_string(ultima) + "): non viene eseguita");
        else if (chiaveRiga(*n) != chiave)
            avvisi.push_back(inizio + "la riga " + std::to_string(*n) + " si scrive " +
                             chiaveRiga(*n) + ": non viene eseguita");
    }
    return avvisi;
}

}  // namespace tarvel
