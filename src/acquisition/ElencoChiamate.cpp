#include "acquisition/ElencoChiamate.h"

#include <cmath>

#include "Prodotto.h"
#include "acquisition/Verifica.h"
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

// Why "Firt" or "Last" gives no line number: the file gives no key at
// all, or the key is absent, or its value is out of range.
ErroreImpostazioni senzaIntervallo(const Impostazioni& imp, const char* chiave,
                                   const std::string& valore) {
    ErroreImpostazioni e = imp.store().problemaFile(imp.PercorsoIni());
    if (e.causa != CausaImpostazioni::Nessuna) return e;
    e.percorso = imp.PercorsoIni();
    e.sezione = "Parameters";
    e.chiave = chiave;
    e.valore = valore;
    e.causa = Trim(valore).empty() ? CausaImpostazioni::ChiaveMancante
                                   : CausaImpostazioni::ValoreNonValido;
    return e;
}

}  // namespace

std::string DidascaliaPerTitolo(const std::string& titolo) {
    return std::string(NomeProdotto) + (titolo.empty() ? "" : " [" + titolo + "]");
}

LetturaElenco LeggiElencoChiamate(const Impostazioni& imp, std::string& titolo) {
    titolo = imp.LeggiIni("General", "Title", "");
    const std::string primaTesto = imp.LeggiIni("Parameters", "Firt", "");
    const std::string ultimaTesto = imp.LeggiIni("Parameters", "Last", "");
    const int prima = numeroRiga(primaTesto);
    const int ultima = numeroRiga(ultimaTesto);
    if (prima == 0) return {std::nullopt, senzaIntervallo(imp, "Firt", primaTesto)};
    if (ultima == 0) return {std::nullopt, senzaIntervallo(imp, "Last", ultimaTesto)};

    ElencoChiamate elenco;
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
                                       const ElencoChiamate& elenco) {
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
