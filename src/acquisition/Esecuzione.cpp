#include "acquisition/Esecuzione.h"

#include "acquisition/TestoValore.h"

namespace tarvel {
namespace {

// What a read line's element holds when the read was never made.
const char* const NonLetto = "-99999";

std::string elemento(const std::string& nome, const std::string& testo) {
    return "<" + nome + ">" + testo + "</" + nome + ">";
}

}  // namespace

Esecuzione::Esecuzione(MBus& mbus, Clock& clock, Contesto& contesto)
    : mbus_(mbus), clock_(clock), contesto_(contesto) {}

void Esecuzione::mostraRisultato(const std::string& risultato) {
    contesto_.mostraRisultato(risultato);
    clock_.processEvents();
}

Risposta Esecuzione::Esegui(const Riga& riga) {
    mostraRisultato("");
    Risposta risposta;
    switch (riga.tipo) {
        case TipoRiga::Seriale: {
            const bool ok = contesto_.applicaProfilo(riga.profilo);
            if (!ok) contesto_.MenuFerma_Click();
            risposta.testo = "Serial_" + (ok ? riga.campi.Codice : std::string("_0"));
            break;
        }
        case TipoRiga::Attesa:
            risposta.testo = eseguiAttesa(riga);
            break;
        case TipoRiga::Prossimo:
            risposta.testo = "%Next device";
            break;
        case TipoRiga::Vuota:
            risposta.testo = "#Empty line";
            break;
        case TipoRiga::NonValida:
            risposta.testo = "#Invalid line";
            break;
        case TipoRiga::Lettura:
        case TipoRiga::Costante:
            risposta = eseguiLettura(riga);
            break;
    }
    mostraRisultato(risposta.testo);
    return risposta;
}

std::string Esecuzione::eseguiAttesa(const Riga& riga) {
    std::string testo = "#Sleep " + riga.campi.Codice;
    if (contesto_.acquisizioneAttiva()) contesto_.ImpostaLampada(Lampada::Giallo);
    mostraRisultato(testo);
    clock_.sleep(riga.attesa);
    if (contesto_.acquisizioneAttiva()) contesto_.ImpostaLampada(Lampada::Verde);
    return testo;
}

Risposta Esecuzione::eseguiLettura(const Riga& riga) {
    const Chiamata& c = riga.campiEseguiti;
    contesto_.mostraCampi(c);
    if (riga.tipo == TipoRiga::Costante) return {elemento(c.Descrizione, c.Registro), false};
    if (!riga.lettura) return {elemento(c.Descrizione, NonLetto), true};
    const ParametriLettura& p = *riga.lettura;
    int& fallite = falliteDiFila_[static_cast<std::uint8_t>(p.nodo)];
    const int salta = contesto_.saltaDopo();
    if (salta > 0 && fallite >= salta) {
        mbus_.RegistraSaltata();
        return {elemento(c.Descrizione, ""), true};
    }
    std::optional<double> valore =
        p.trentaDueBit ? mbus_.LeggiValore32(p.funzione, p.registro, p.nodo, p.decimali,
                                             p.bassoSuccessivo, p.senzaSegno)
                       : mbus_.LeggiValore16(p.funzione, p.registro, p.nodo, p.decimali,
                                             p.senzaSegno);
    fallite = valore ? 0 : fallite + 1;
    return {elemento(c.Descrizione, valore ? TestoValore(*valore) : std::string()), !valore};
}

}  // namespace tarvel
