#include "acquisition/Ciclo.h"

namespace tarvel {

Ciclo::Ciclo(Clock& clock, Passi& passi, LettoreIni leggiIni)
    : clock_(clock),
      passi_(passi),
      leggiIni_(std::move(leggiIni)),
      tmrLettura_(clock.createTimer()) {
    tmrLettura_->setInterval(Millis(1000));
    tmrLettura_->onTimeout([this] { TmrLettura_Timer(); });
}

Ciclo::~Ciclo() = default;

void Ciclo::impostaIntervallo(Millis intervallo) { tmrLettura_->setInterval(intervallo); }

void Ciclo::AggiornaMenu() {
    if (!attiva_) passi_.impostaLampada(Lampada::Spenta);
    passi_.statoCambiato();
}

void Ciclo::MenuAvvio_Click() {
    // Starting while acquisition is on would nest a cycle inside the
    // running one: the command does nothing then.
    if (attiva_) return;
    passi_.svuotaRisposte();
    passi_.azzeraDettagli();
    attiva_ = true;
    AggiornaMenu();
    TmrLettura_Timer();
}

void Ciclo::MenuFerma_Click() {
    attiva_ = false;
    tmrLettura_->setEnabled(false);
    AggiornaMenu();
}

void Ciclo::TmrLettura_Timer() {
    if (inCorso_) return;
    tmrLettura_->setEnabled(false);
    const TimePoint inizio = clock_.now();
    inCorso_ = true;
    passi_.statoCambiato();
    passi_.abilitaListe(false);
    passi_.impostaLampada(Lampada::Verde);
    passi_.svuotaRisposte();
    passi_.inizioCiclo();

    std::vector<Risposta> risposte;
    for (int i = 0; i < passi_.numeroRighe(); ++i) {
        passi_.selezionaRiga(i);
        if (!attiva_) break;
        risposte.push_back(passi_.eseguiRiga());
        passi_.aggiungiRisposta(TestoRisposta(risposte.back()));
        if (!attiva_) break;
        if (i < passi_.numeroRighe() - 1) clock_.sleep(passi_.pausaTraRighe());
    }
    finisci(inizio, std::move(risposte));
}

void Ciclo::finisci(TimePoint inizio, std::vector<Risposta> risposte) {
    EsitoEsportazione uscita = passi_.esporta(risposte);
    passi_.abilitaListe(true);
    passi_.azzeraDettagli();
    passi_.impostaLampada(attiva_ ? Lampada::Rossa : Lampada::Spenta);
    if (attiva_) tmrLettura_->setEnabled(true);
    inCorso_ = false;
    passi_.statoCambiato();

    RapportoCiclo rapporto;
    rapporto.numero = ++cicli_;
    rapporto.righeEseguite = static_cast<int>(risposte.size());
    rapporto.letture = LettureCiclo(risposte, leggiIni_);
    for (const Reading& r : rapporto.letture) {
        rapporto.lettureFallite += r.failed() ? 1 : 0;
        rapporto.senzaValore += r.withoutValue() ? 1 : 0;
    }
    rapporto.fileScritti = std::move(uscita.scritti);
    rapporto.erroriUscita = std::move(uscita.errori);
    rapporto.durata = std::chrono::duration_cast<Millis>(clock_.now() - inizio);
    passi_.cicloTerminato(rapporto);
}

}  // namespace tarvel
