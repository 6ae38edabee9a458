#include "app/Program.h"

#include <algorithm>

#include "acquisition/RequestList.h"
#include "publish/Json.h"
#include "settings/KeyRules.h"

namespace tarvel {

Program::Program(Platform piattaforma)
    : p_(piattaforma),
      impostazioni_(piattaforma.ini, piattaforma.dialogs, piattaforma.identity.programFolder()),
      mbus_(piattaforma.port, piattaforma.clock),
      linea_(mbus_, piattaforma.clock, piattaforma.dialogs, lettoreIni(), *this),
      ciclo_(piattaforma.clock, linea_, righe_, *this,
             {piattaforma.files, impostazioni_.cartellaProgramma()}, lettoreIni()),
      storico_(piattaforma.history, piattaforma.wallClock, piattaforma.clock, piattaforma.dialogs) {
}

Program::~Program() = default;

void Program::notifica(void (MainView::*evento)()) {
    if (view_) (view_->*evento)();
}

// --- Settings ---------------------------------------------------------------

std::string Program::LeggiIni(const std::string& sezione, const std::string& chiave,
                                const std::string& predefinito) const {
    return impostazioni_.LeggiIni(sezione, chiave, predefinito);
}

bool Program::ScriviIni(const std::string& sezione, const std::string& chiave,
                          const std::string& valore) {
    return impostazioni_.ScriviIni(sezione, chiave, valore);
}

IniReader Program::lettoreIni() const {
    return [this](const std::string& s, const std::string& k, const std::string& d) {
        return LeggiIni(s, k, d);
    };
}

void Program::aggiornaOpzioni() {
    const Settings::Options& o = impostazioni_.opzioni();
    stato_.acquisisciAuto = o.acquisisciAuto;
    stato_.minimizzaPartenza = o.minimizzaPartenza;
    stato_.killFileOut = o.killFileOut;
    notifica(&MainView::opzioniCambiate);
}

bool Program::CaricaImpostazioni() {
    PredefinitiModbus();
    if (!CaricaParametri()) {
        p_.dialogs.messageBox(NomeProdotto,
                              std::string("Impostazioni errate nel file ") + NomeFileIni,
                              Icon::Critical, Buttons::Ok, Answer::Ok,
                              DescriviErroreImpostazioni(erroreImpostazioni_));
        return false;
    }
    impostazioni_.LeggiAcquisizioneAutomatica();
    impostazioni_.LeggiAvvioRidotto();
    impostazioni_.LeggiCancellaFileUscita();
    sezioniRifiutate_.clear();
    ConfiguraStorico();
    ConfiguraPubblicazione();
    // The output itself never takes such a value (EsportaXML).
    if (const auto& p = caricate_.encodingProblem)
        rifiutaSezione("XML", {*p}, "le uscite dichiarano l'encoding UTF-8");
    aggiornaOpzioni();
    // The devices' health counts from the settings in use.
    mbus_.AzzeraSalute();
    return true;
}

bool Program::MenuRicarica_Click() {
    if (!CaricaImpostazioni()) return false;
    if (view_) view_->impostazioniRicaricate();
    return true;
}

void Program::MenuAcquisisciAuto_Click() {
    const bool attiva = impostazioni_.CommutaAcquisizioneAutomatica();
    aggiornaOpzioni();
    if (attiva) MenuAvvio_Click();
}

void Program::MenuMinimizzaPartenza_Click() {
    const bool riduci = impostazioni_.CommutaAvvioRidotto();
    aggiornaOpzioni();
    if (view_) view_->riduciInTray(riduci);
}

void Program::MenuKillfileOut_Click() {
    impostazioni_.CommutaCancellaFileUscita();
    aggiornaOpzioni();
}

void Program::MenuTitoloGenerale_Click() {
    if (impostazioni_.MenuTitoloGenerale_Click()) CaricaParametri();
}

// --- Request list -------------------------------------------------------------

bool Program::CaricaParametri() {
    LoadedSettings lette = LoadSettings(impostazioni_, p_.identity.hostName());
    stato_.didascalia = DidascaliaPerTitolo(lette.title);
    linea_.setCaption(stato_.didascalia);
    notifica(&MainView::didascaliaCambiata);
    erroreImpostazioni_ = lette.list.errore;
    if (!lette.list.elenco) return false;
    caricate_ = std::move(lette);
    const RequestList& elenco = *caricate_.list.elenco;

    stato_.intervallo = elenco.intervallo;
    ciclo_.impostaIntervallo(elenco.intervallo);
    righe_ = elenco.righe;
    stato_.chiamate.clear();
    for (const RequestLine& riga : righe_) stato_.chiamate.push_back(riga.testo);
    stato_.risposte.clear();
    AzzeraDettagli();
    notifica(&MainView::chiamateCambiate);
    notifica(&MainView::risposteCambiate);
    return true;
}

std::vector<std::string> Program::NomiLetture() const {
    std::vector<std::string> nomi;
    for (const RequestLine& riga : righe_) {
        const std::string& nome = riga.campiEseguiti.Descrizione;
        if (riga.tipo == LineKind::Read &&
            std::find(nomi.begin(), nomi.end(), nome) == nomi.end())
            nomi.push_back(nome);
    }
    return nomi;
}

std::vector<int> Program::DispositiviElenco() const {
    return DispositiviRighe(righe_, caricate_.outputReader());
}

void Program::SelezionaChiamata(int indice) {
    if (indice < -1 || indice >= static_cast<int>(righe_.size())) return;
    stato_.selezione = indice;
    notifica(&MainView::selezioneCambiata);
    if (indice >= 0) Lst_Chiamate_Click();
}

void Program::Lst_Chiamate_Click() {
    if (stato_.selezione < 0 || stato_.selezione >= static_cast<int>(righe_.size())) return;
    stato_.chiamata = righe_[static_cast<std::size_t>(stato_.selezione)].campi;
    stato_.risultato.clear();
    notifica(&MainView::dettagliCambiati);
}

void Program::AzzeraDettagli() {
    if (!stato_.chiamate.empty()) {
        stato_.selezione = -1;
        notifica(&MainView::selezioneCambiata);
    }
    stato_.chiamata = Chiamata{};
    stato_.risultato.clear();
    notifica(&MainView::dettagliCambiati);
}

// --- What the acquisition shows -----------------------------------------------

void Program::lineShown(const std::string& monitorCaption,
                          const std::array<std::string, 6>& panels) {
    stato_.didascaliaMonitor = monitorCaption;
    notifica(&MainView::didascaliaMonitorCambiata);
    stato_.statusBar = panels;
    notifica(&MainView::statusBarCambiata);
}

void Program::lineSelected(int indice) {
    if (indice < 0)
        AzzeraDettagli();
    else
        SelezionaChiamata(indice);
}

void Program::fieldsShown(const Chiamata& campi) {
    stato_.chiamata = campi;
    notifica(&MainView::dettagliCambiati);
}

void Program::resultShown(const std::string& risultato) {
    stato_.risultato = risultato;
    notifica(&MainView::dettagliCambiati);
}

void Program::lampChanged(Lamp lampada) {
    stato_.lampada = lampada;
    notifica(&MainView::lampadaCambiata);
}

void Program::cycleStarted() {
    if (p_.wallClock) inizioCiclo_ = p_.wallClock->now();
    storico_.InizioCiclo();
}

void Program::answersCleared() {
    stato_.risposte.clear();
    notifica(&MainView::risposteCambiate);
}

void Program::answerAdded(const std::string& risposta) {
    stato_.risposte.push_back(risposta);
    notifica(&MainView::risposteCambiate);
}

void Program::stateChanged() {
    stato_.acquisizioneAttiva = ciclo_.acquisizioneAttiva();
    stato_.cicloInCorso = ciclo_.inCorso();
    stato_.listeAbilitate = ciclo_.listsEnabled();
    notifica(&MainView::acquisizioneCambiata);
}

// The history and the broker get the cycle after the output, from the same
// answers.
void Program::cycleEnded(const CycleReport& rapporto) {
    storico_.RegistraCiclo(rapporto.numero, rapporto.letture);
    PubblicaCiclo(rapporto.numero, rapporto.letture);
    if (view_) view_->cicloTerminato(rapporto);
}

void Program::rifiutaSezione(const std::string& sezione, std::vector<std::string> problemi,
                               const std::string& effetto) {
    std::string dettagli;
    for (const std::string& p : problemi) dettagli += (dettagli.empty() ? "" : "\n") + p;
    sezioniRifiutate_.push_back({sezione, std::move(problemi)});
    p_.dialogs.messageBox(
        NomeProdotto,
        "Sezione [" + sezione + "] del file " + NomeFileIni + " non valida: " + effetto + ".",
        Icon::Exclamation, Buttons::Ok, Answer::Ok, dettagli);
}

// --- History ------------------------------------------------------------------

void Program::ConfiguraStorico() {
    HistorySettingsRead lettura = caricate_.history;
    if (!lettura.problemi.empty()) {
        lettura.impostazioni = {};
        rifiutaSezione("History", std::move(lettura.problemi), "storico non attivo");
    }
    storico_.Configura(lettura.impostazioni, impostazioni_.cartellaProgramma());
    stato_.storicoAttivo = storico_.attivo();
}

// --- Publishing ---------------------------------------------------------------

void Program::ConfiguraPubblicazione() {
    std::vector<std::string> problemi = caricate_.mqttProblems;
    MqttSettings nuove = caricate_.mqtt;
    if (!problemi.empty()) {
        nuove = {};
        rifiutaSezione("MQTT", std::move(problemi), "pubblicazione MQTT non attiva");
    }
    if (!p_.mqtt || !p_.journal || !p_.wallClock) {
        mqtt_ = std::move(nuove);
        return;
    }
    if (pubblicazione_ && nuove == mqtt_) {
        if (mqtt_.discovery)
            pubblicazione_->PubblicaStato(MessaggiScoperta(mqtt_, righe_, DispositiviElenco()));
        return;
    }
    if (pubblicazione_) pubblicazione_->Ferma(0);
    pubblicazione_.reset();
    mqtt_ = std::move(nuove);
    avvisoPubblicazione_.clear();
    scartatiInMemoriaVisti_ = 0;
    if (mqtt_.host.empty()) return;
    pubblicazione_ = std::make_unique<Publisher>(*p_.journal, *p_.mqtt, p_.clock);
    std::string errore;
    if (!pubblicazione_->Avvia(mqtt_, errore)) {
        pubblicazione_.reset();
        avvisoPubblicazione_ = errore;
        p_.dialogs.messageBox(NomeProdotto, "Pubblicazione MQTT non avviata.", Icon::Exclamation,
                              Buttons::Ok, Answer::Ok, errore);
        return;
    }
    if (mqtt_.discovery)
        pubblicazione_->PubblicaStato(MessaggiScoperta(mqtt_, righe_, DispositiviElenco()));
    avvisaPubblicazione();  // a journal that could not be opened as it was
}

void Program::PubblicaCiclo(long numero, const std::vector<Reading>& letture) {
    if (!pubblicazione_) return;
    std::string errore;
    pubblicazione_->Accoda(MessaggiCiclo(mqtt_, TestoUTC(inizioCiclo_), numero, letture), errore);
    pubblicazione_->PubblicaStato(
        MessaggiStato(mqtt_, mbus_.salute(), p_.clock.now(), p_.wallClock->now()));
    avvisaPubblicazione();
}

// A trouble of the publishing is told once, until it changes; acquisition
// goes on meanwhile.
void Program::avvisaPubblicazione() {
    const PublisherStatus s = pubblicazione_->stato();
    // The journal at its cap, or memory full while the journal cannot take
    // the cycles: told when it begins to drop, with the count.
    const bool scarta = s.scartati > scartatiVisti_;
    const bool scartaInMemoria = s.scartatiInMemoria > scartatiInMemoriaVisti_;
    scartatiVisti_ = s.scartati;
    scartatiInMemoriaVisti_ = s.scartatiInMemoria;
    std::string guaio;
    if (scartaInMemoria)
        guaio = "giornale: " + s.erroreGiornale + "; in memoria " +
                std::to_string(Publisher::MassimoInMemoria) +
                " messaggi al più: i più vecchi vengono scartati";
    else if (!s.erroreGiornale.empty())
        guaio = "giornale: " + s.erroreGiornale;
    else if (scarta)
        guaio = "giornale pieno (JournalMB " + std::to_string(mqtt_.journalMB) +
                "): i messaggi più vecchi vengono scartati";
    else if (!s.connessione.error.empty())
        guaio = "broker: " + s.connessione.error;
    if (guaio == avvisoPubblicazione_) return;
    avvisoPubblicazione_ = guaio;
    if (guaio.empty()) return;
    p_.dialogs.messageBox(
        NomeProdotto, "Problema nella pubblicazione MQTT.", Icon::Exclamation, Buttons::Ok,
        Answer::Ok,
        mqtt_.host + ":" + std::to_string(mqtt_.port) + ": " + guaio +
            (scartaInMemoria ? " (" + std::to_string(s.scartatiInMemoria) + " finora)"
             : scarta        ? " (" + std::to_string(s.scartati) + " finora)"
                             : ""));
}

void Program::FinePubblicazione(int attesaMs) {
    if (pubblicazione_) pubblicazione_->Ferma(attesaMs);
    pubblicazione_.reset();
}

}  // namespace tarvel
