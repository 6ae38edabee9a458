// The request list: loading it from the settings, and cutting the selected
// line into the detail fields.

#include <cmath>

#include "acquisition/Programma.h"
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

bool Programma::CaricaParametri() {
    // One load reads one version of the file.
    HeldVersion versione(p_.ini);
    std::string titolo = LeggiIni("General", "Title", "");
    stato_.didascalia = std::string(NomeProdotto) + (titolo.empty() ? "" : " [" + titolo + "]");
    notifica(&MainView::didascaliaCambiata);

    int prima = numeroRiga(LeggiIni("Parameters", "Firt", "0"));
    int ultima = numeroRiga(LeggiIni("Parameters", "Last", "0"));
    if (prima == 0 || ultima == 0) return false;

    auto intervallo = ArrotondaInt32(NumeroIniziale(LeggiIni("Parameters", "Interval", "0")));
    stato_.intervallo =
        Millis(intervallo && *intervallo >= 1 && *intervallo <= 60000 ? *intervallo : 1000);
    tmrLettura_->setInterval(stato_.intervallo);

    stato_.chiamate.clear();
    stato_.risposte.clear();
    for (int n = prima; n <= ultima; ++n) {
        std::string riga(Trim(LeggiIni("Parameters", chiaveRiga(n), "")));
        if (Maiuscolo(riga.substr(0, 3)) != "REM") stato_.chiamate.push_back(std::move(riga));
    }
    AzzeraDettagli();
    notifica(&MainView::chiamateCambiate);
    notifica(&MainView::risposteCambiate);
    return true;
}

void Programma::SelezionaChiamata(int indice) {
    if (indice < -1 || indice >= static_cast<int>(stato_.chiamate.size())) return;
    stato_.selezione = indice;
    notifica(&MainView::selezioneCambiata);
    if (indice >= 0) Lst_Chiamate_Click();
}

void Programma::Lst_Chiamate_Click() {
    if (stato_.selezione < 0 || stato_.selezione >= static_cast<int>(stato_.chiamate.size()))
        return;
    const std::string& riga = stato_.chiamate[static_cast<std::size_t>(stato_.selezione)];
    stato_.chiamata = TagliaRiga(riga);
    stato_.tipoChiamata = TipoDiRiga(riga);
    stato_.risultato.clear();
    notifica(&MainView::dettagliCambiati);
}

void Programma::AzzeraDettagli() {
    if (!stato_.chiamate.empty()) {
        stato_.selezione = -1;
        notifica(&MainView::selezioneCambiata);
    }
    stato_.chiamata = Chiamata{};
    stato_.tipoChiamata = TipoRiga::Vuota;
    stato_.risultato.clear();
    notifica(&MainView::dettagliCambiati);
}

}  // namespace tarvel
