#include "acquisition/Cycle.h"

namespace tarvel {

Cycle::Cycle(Clock& clock, SerialLine& linea, const std::vector<RequestLine>& righe,
             CycleObserver& observer, Output output, IniReader leggiIni)
    : clock_(clock),
      linea_(linea),
      righe_(righe),
      observer_(observer),
      output_(std::move(output)),
      leggiIni_(std::move(leggiIni)),
      esecuzione_(linea, clock, observer, attiva_),
      tmrLettura_(clock.createTimer()) {
    tmrLettura_->setInterval(Millis(1000));
    tmrLettura_->onTimeout([this] { TmrLettura_Timer(); });
}

Cycle::~Cycle() = default;

void Cycle::impostaIntervallo(Millis intervallo) { tmrLettura_->setInterval(intervallo); }

void Cycle::AggiornaMenu() {
    if (!attiva_) observer_.lampChanged(Lamp::Off);
    observer_.stateChanged();
}

void Cycle::AbilitaListe(bool abilita) {
    listeAbilitate_ = abilita;
    observer_.stateChanged();
}

void Cycle::MenuAvvio_Click() {
    linea_.mbus().Riprendi();
    // Starting while acquisition is on would nest a cycle inside the
    // running one: the command does nothing then.
    if (attiva_) return;
    observer_.answersCleared();
    observer_.lineSelected(-1);
    attiva_ = true;
    AggiornaMenu();
    TmrLettura_Timer();
}

void Cycle::MenuFerma_Click() {
    attiva_ = false;
    tmrLettura_->setEnabled(false);
    AggiornaMenu();
}

void Cycle::InterrompiAttesa() {
    linea_.mbus().Interrompi();
    FermaCiclo();
}

void Cycle::FermaSubito() {
    linea_.mbus().Interrompi();
    MenuFerma_Click();
}

// A serial profile that cannot be applied stops the acquisition.
Risposta Cycle::execute(std::size_t indice, bool alone) {
    Risposta risposta =
        alone ? esecuzione_.Esegui(righe_[indice]) : esecuzione_.Esegui(righe_, indice);
    if (risposta.tipo == LineKind::Serial && linea_.refused()) MenuFerma_Click();
    return risposta;
}

void Cycle::Cmd_Leggi_Click(int indice) {
    if (indice < 0 || static_cast<std::size_t>(indice) >= righe_.size())
        esecuzione_.Esegui(RequestLine{});
    else
        execute(static_cast<std::size_t>(indice), true);
}

void Cycle::begin() {
    tmrLettura_->setEnabled(false);
    inCorso_ = true;
    observer_.stateChanged();
    AbilitaListe(false);
    observer_.lampChanged(Lamp::Green);
    observer_.answersCleared();
    esecuzione_.NuovoCiclo();
    linea_.mbus().NuovoCiclo();
    observer_.cycleStarted();
}

void Cycle::TmrLettura_Timer() {
    if (inCorso_) return;
    const TimePoint inizio = clock_.now();
    begin();
    std::vector<Risposta> risposte;
    for (std::size_t i = 0; i < righe_.size(); ++i) {
        observer_.lineSelected(static_cast<int>(i));
        if (!attiva_) break;
        risposte.push_back(execute(i, false));
        observer_.answerAdded(TestoRisposta(risposte.back()));
        if (!attiva_) break;
        if (i + 1 < righe_.size()) clock_.sleep(Millis(linea_.profiloInUso().pausaMs));
    }
    finish(inizio, std::move(risposte));
}

// The output's settings are read at every output, not at the load: a
// change from the menus or the editor counts from the next output.
void Cycle::finish(TimePoint inizio, std::vector<Risposta> risposte) {
    const OutputSettings settings = ReadOutputSettings(risposte, leggiIni_, output_.programFolder);
    ExportContext ctx{output_.files, clock_, output_.programFolder};
    ExportResult uscita = EsportaXML(risposte, settings, ctx);
    AbilitaListe(true);
    observer_.lineSelected(-1);
    observer_.lampChanged(attiva_ ? Lamp::Red : Lamp::Off);
    if (attiva_) tmrLettura_->setEnabled(true);
    inCorso_ = false;
    observer_.stateChanged();
    observer_.cycleEnded(report(risposte, std::move(uscita), inizio));
}

CycleReport Cycle::report(const std::vector<Risposta>& risposte, ExportResult uscita,
                            TimePoint inizio) {
    CycleReport rapporto;
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
    return rapporto;
}

}  // namespace tarvel
