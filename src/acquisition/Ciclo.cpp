// Timed acquisition: start, stop, one cycle over the request list, and the
// status lamp.

#include "acquisition/Programma.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {
constexpr Millis PausaTraRighe{200};
}

void Programma::ImpostaLampada(const std::string& colore) {
    std::string c = Maiuscolo(Trim(colore));
    Lampada lampada = c == "VERDE"    ? Lampada::Verde
                      : c == "GIALLO" ? Lampada::Giallo
                      : c == "ROSSO"  ? Lampada::Rossa
                                      : Lampada::Spenta;
    stato_.lampada = lampada;
    notifica(&MainView::lampadaCambiata);
}

void Programma::AggiornaMenu() {
    if (!stato_.acquisizioneAttiva) ImpostaLampada("");
    notifica(&MainView::acquisizioneCambiata);
}

void Programma::AbilitaListe(bool abilita) {
    stato_.listeAbilitate = abilita;
    notifica(&MainView::acquisizioneCambiata);
}

void Programma::MenuAvvio_Click() {
    // Starting while acquisition is on would nest a cycle inside the
    // running one: the command does nothing then.
    if (stato_.acquisizioneAttiva) return;
    stato_.risposte.clear();
    notifica(&MainView::risposteCambiate);
    AzzeraDettagli();
    stato_.acquisizioneAttiva = true;
    AggiornaMenu();
    TmrLettura_Timer();
}

void Programma::MenuFerma_Click() {
    stato_.acquisizioneAttiva = false;
    tmrLettura_->setEnabled(false);
    AggiornaMenu();
}

void Programma::TmrLettura_Timer() {
    if (stato_.cicloInCorso) return;
    tmrLettura_->setEnabled(false);
    const TimePoint inizio = p_.clock.now();
    stato_.cicloInCorso = true;
    lettureFalliteCiclo_ = 0;
    AbilitaListe(false);
    ImpostaLampada("VERDE");
    stato_.risposte.clear();
    notifica(&MainView::risposteCambiate);

    int eseguite = 0;
    const int righe = static_cast<int>(stato_.chiamate.size());
    for (int i = 0; i < righe; ++i) {
        SelezionaChiamata(i);
        p_.clock.processEvents();
        if (!stato_.acquisizioneAttiva) break;
        Cmd_Leggi_Click();
        ++eseguite;
        p_.clock.processEvents();
        stato_.risposte.push_back(stato_.risultato);
        notifica(&MainView::risposteCambiate);
        p_.clock.processEvents();
        if (!stato_.acquisizioneAttiva) break;
        if (i < static_cast<int>(stato_.chiamate.size()) - 1) p_.clock.sleep(PausaTraRighe);
    }

    EsitoEsportazione uscita = Esporta();
    AbilitaListe(true);
    AzzeraDettagli();
    ImpostaLampada(stato_.acquisizioneAttiva ? "ROSSO" : "");
    if (stato_.acquisizioneAttiva) tmrLettura_->setEnabled(true);
    stato_.cicloInCorso = false;
    notifica(&MainView::acquisizioneCambiata);

    RapportoCiclo rapporto;
    rapporto.numero = ++cicli_;
    rapporto.righeEseguite = eseguite;
    rapporto.lettureFallite = lettureFalliteCiclo_;
    rapporto.fileScritti = std::move(uscita.scritti);
    rapporto.erroriUscita = std::move(uscita.errori);
    rapporto.durata = std::chrono::duration_cast<Millis>(p_.clock.now() - inizio);
    if (view_) view_->cicloTerminato(rapporto);
}

EsitoEsportazione Programma::Esporta() {
    ContestoEsportazione ctx{[this](const std::string& s, const std::string& k,
                                    const std::string& d) { return LeggiIni(s, k, d); },
                             p_.files, p_.clock, p_.identity.programFolder()};
    return EsportaXML(stato_.risposte, ctx);
}

}  // namespace tarvel
