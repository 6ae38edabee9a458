// Executing the request shown in the detail fields into its answer line.

#include <algorithm>

#include "acquisition/Programma.h"
#include "acquisition/TestoValore.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

constexpr double NonLetto = -99999;

// Removes every c from text and trims it; false when there was none.
bool togliMarcatore(std::string& text, char c) {
    if (text.find(c) == std::string::npos) return false;
    text.erase(std::remove(text.begin(), text.end(), c), text.end());
    text = std::string(Trim(text));
    return true;
}

}  // namespace

void Programma::impostaDettagli(const Chiamata& chiamata) {
    stato_.chiamata = chiamata;
    notifica(&MainView::dettagliCambiati);
}

void Programma::impostaRisultato(const std::string& risultato) {
    stato_.risultato = risultato;
    notifica(&MainView::dettagliCambiati);
    p_.clock.processEvents();
}

std::string Programma::eseguiLettura(Chiamata& c, double& valore) {
    bool senzaSegno = togliMarcatore(c.Registro, '&');
    impostaDettagli(c);
    if (NumeroIniziale(c.Nodo) == 0) return c.Registro;  // a constant

    int parole = 1;
    bool bassoSuccessivo = false;
    if (togliMarcatore(c.Registro, '+')) {
        parole = 2;
        bassoSuccessivo = true;
    } else if (togliMarcatore(c.Registro, '-')) {
        parole = 2;
    }
    impostaDettagli(c);

    auto funzione = ArrotondaInt16(NumeroIniziale(c.Codice));
    auto registro = ArrotondaInt16(NumeroIniziale(c.Registro));
    auto nodo = ArrotondaInt16(NumeroIniziale(c.Nodo));
    auto decimali = ArrotondaInt16(NumeroIniziale(c.Decimali));
    if (funzione && registro && nodo && decimali) {
        valore = parole == 1
                     ? mbus_.LeggiValore16(*funzione, *registro, *nodo, *decimali, senzaSegno)
                     : mbus_.LeggiValore32(*funzione, *registro, *nodo, *decimali, bassoSuccessivo,
                                           senzaSegno);
    }
    if (valore == ValoreFallito || valore == NonLetto) ++lettureFalliteCiclo_;
    return TestoValore(valore);
}

void Programma::Cmd_Leggi_Click() {
    double valore = NonLetto;
    impostaRisultato("");
    Chiamata c = stato_.chiamata;
    std::string risposta;
    if (c.Nodo == "*") {
        auto profilo = ArrotondaInt16(NumeroIniziale(c.Codice));
        bool ok = profilo ? ImpostaPortaSeriale(*profilo) : erroreImpostazionePorta();
        if (!ok) MenuFerma_Click();
        risposta = "Serial_" + (ok ? c.Codice : std::string("_0"));
    } else if (c.Nodo == "#") {
        if (stato_.acquisizioneAttiva) ImpostaLampada("GIALLO");
        impostaRisultato("#Sleep " + c.Codice);
        // A negative wait counts as none.
        double attesa = NumeroIniziale(c.Codice);
        auto ms = ArrotondaInt32(std::max(attesa, 0.0)).value_or(0);
        p_.clock.sleep(Millis(ms));
        if (stato_.acquisizioneAttiva) ImpostaLampada("VERDE");
        risposta = "#Sleep " + c.Codice;
    } else if (c.Nodo == "%") {
        risposta = "%Next device";
    } else {
        if (stato_.tipoChiamata == TipoRiga::Vuota) {
            risposta = "#Empty line";
        } else if (stato_.tipoChiamata == TipoRiga::NonValida) {
            risposta = "#Invalid line";
        } else {
            std::string testo = eseguiLettura(c, valore);
            risposta = "<" + c.Descrizione + ">" + testo + "</" + c.Descrizione + ">";
        }
    }
    impostaRisultato(risposta);
}

}  // namespace tarvel
