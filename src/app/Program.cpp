#include "app/Program.h"

#include <algorithm>

#include "acquisition/RequestList.h"
#include "publish/Json.h"
#include "settings/KeyRules.h"

namespace tarvel {

Program::Program(Platform platform)
    : p_(platform),
      settings_(platform.ini, platform.dialogs, platform.identity.programFolder()),
      mbus_(platform.port, platform.clock),
      linea_(mbus_, platform.clock, platform.dialogs, lettoreIni(), *this),
      cycle_(platform.clock, linea_, lines_, *this,
             {platform.files, settings_.programFolder()}, lettoreIni()),
      history_(platform.history, platform.wallClock, platform.clock, platform.dialogs) {
}

Program::~Program() = default;

void Program::notify(void (MainView::*evento)()) {
    if (view_) (view_->*evento)();
}

// --- Settings ---------------------------------------------------------------

std::string Program::LeggiIni(const std::string& section, const std::string& key,
                                const std::string& predefinito) const {
    return settings_.LeggiIni(section, key, predefinito);
}

bool Program::ScriviIni(const std::string& section, const std::string& key,
                          const std::string& value) {
    return settings_.ScriviIni(section, key, value);
}

IniReader Program::lettoreIni() const {
    return [this](const std::string& s, const std::string& k, const std::string& d) {
        return LeggiIni(s, k, d);
    };
}

void Program::updateOptions() {
    const Settings::Options& o = settings_.options();
    status_.automaticAcquisition = o.automaticAcquisition;
    status_.startMinimised = o.startMinimised;
    status_.killFileOut = o.killFileOut;
    notify(&MainView::optionsChanged);
}

bool Program::CaricaImpostazioni() {
    PredefinitiModbus();
    if (!CaricaParametri()) {
        p_.dialogs.messageBox(ProductName,
                              std::string("Impostazioni errate nel file ") + IniFileName,
                              Icon::Critical, Buttons::Ok, Answer::Ok,
                              DescribeSettingsError(settingsError_));
        return false;
    }
    settings_.LeggiAcquisizioneAutomatica();
    settings_.LeggiAvvioRidotto();
    settings_.LeggiCancellaFileUscita();
    refusedSections_.clear();
    ConfigureHistory();
    ConfigurePublisher();
    // The output itself never takes such a value (EsportaXML).
    if (const auto& p = caricate_.encodingProblem)
        refuseSection("XML", {*p}, "le uscite dichiarano l'encoding UTF-8");
    updateOptions();
    // The devices' health counts from the settings in use.
    mbus_.ResetHealth();
    return true;
}

bool Program::MenuRicarica_Click() {
    if (!CaricaImpostazioni()) return false;
    if (view_) view_->settingsReloaded();
    return true;
}

void Program::MenuAcquisisciAuto_Click() {
    const bool armed = settings_.ToggleAutomaticAcquisition();
    updateOptions();
    if (armed) MenuAvvio_Click();
}

void Program::MenuMinimizzaPartenza_Click() {
    const bool riduci = settings_.ToggleStartMinimised();
    updateOptions();
    if (view_) view_->riduciInTray(riduci);
}

void Program::MenuKillfileOut_Click() {
    settings_.ToggleDeleteOutputFiles();
    updateOptions();
}

void Program::MenuTitoloGenerale_Click() {
    if (settings_.MenuTitoloGenerale_Click()) CaricaParametri();
}

// --- Request list -------------------------------------------------------------

bool Program::CaricaParametri() {
    LoadedSettings lette = LoadSettings(settings_, p_.identity.hostName());
    status_.caption = CaptionForTitle(lette.title);
    linea_.setCaption(status_.caption);
    notify(&MainView::captionChanged);
    settingsError_ = lette.list.error;
    if (!lette.list.list) return false;
    caricate_ = std::move(lette);
    const RequestList& list = *caricate_.list.list;

    status_.interval = list.interval;
    cycle_.setInterval(list.interval);
    lines_ = list.lines;
    status_.requests.clear();
    for (const RequestLine& line : lines_) status_.requests.push_back(line.text);
    status_.answers.clear();
    AzzeraDettagli();
    notify(&MainView::requestsChanged);
    notify(&MainView::answersChanged);
    return true;
}

std::vector<std::string> Program::ReadNames() const {
    std::vector<std::string> nomi;
    for (const RequestLine& line : lines_) {
        const std::string& name = line.shownFields.Descrizione;
        if (line.kind == LineKind::Read &&
            std::find(nomi.begin(), nomi.end(), name) == nomi.end())
            nomi.push_back(name);
    }
    return nomi;
}

std::vector<int> Program::DevicesOfList() const {
    return DevicesOfLines(lines_, caricate_.outputReader());
}

void Program::SelectRequest(int index) {
    if (index < -1 || index >= static_cast<int>(lines_.size())) return;
    status_.selection = index;
    notify(&MainView::selectionChanged);
    if (index >= 0) Lst_Chiamate_Click();
}

void Program::Lst_Chiamate_Click() {
    if (status_.selection < 0 || status_.selection >= static_cast<int>(lines_.size())) return;
    status_.request = lines_[static_cast<std::size_t>(status_.selection)].fields;
    status_.result.clear();
    notify(&MainView::detailsChanged);
}

void Program::AzzeraDettagli() {
    if (!status_.requests.empty()) {
        status_.selection = -1;
        notify(&MainView::selectionChanged);
    }
    status_.request = Chiamata{};
    status_.result.clear();
    notify(&MainView::detailsChanged);
}

// --- What the acquisition shows -----------------------------------------------

void Program::lineShown(const std::string& monitorCaption,
                          const std::array<std::string, 6>& panels) {
    status_.monitorCaption = monitorCaption;
    notify(&MainView::monitorCaptionChanged);
    status_.statusBar = panels;
    notify(&MainView::statusBarChanged);
}

void Program::lineSelected(int index) {
    if (index < 0)
        AzzeraDettagli();
    else
        SelectRequest(index);
}

void Program::fieldsShown(const Chiamata& fields) {
    status_.request = fields;
    notify(&MainView::detailsChanged);
}

void Program::resultShown(const std::string& result) {
    status_.result = result;
    notify(&MainView::detailsChanged);
}

void Program::lampChanged(Lamp lamp) {
    status_.lamp = lamp;
    notify(&MainView::lampChanged);
}

void Program::cycleStarted() {
    if (p_.wallClock) cycleStart_ = p_.wallClock->now();
    history_.CycleStart();
}

void Program::answersCleared() {
    status_.answers.clear();
    notify(&MainView::answersChanged);
}

void Program::answerAdded(const std::string& answer) {
    status_.answers.push_back(answer);
    notify(&MainView::answersChanged);
}

void Program::stateChanged() {
    status_.acquisizioneAttiva = cycle_.acquisizioneAttiva();
    status_.cycleRunning = cycle_.running();
    status_.listsEnabled = cycle_.listsEnabled();
    notify(&MainView::acquisitionChanged);
}

// The history and the broker get the cycle after the output, from the same
// answers.
void Program::cycleEnded(const CycleReport& rapporto) {
    history_.RecordCycle(rapporto.number, rapporto.letture);
    PublishCycle(rapporto.number, rapporto.letture);
    if (view_) view_->cycleFinished(rapporto);
}

void Program::refuseSection(const std::string& section, std::vector<std::string> problems,
                               const std::string& effetto) {
    std::string dettagli;
    for (const std::string& p : problems) dettagli += (dettagli.empty() ? "" : "\n") + p;
    refusedSections_.push_back({section, std::move(problems)});
    p_.dialogs.messageBox(
        ProductName,
        "Sezione [" + section + "] del file " + IniFileName + " non valida: " + effetto + ".",
        Icon::Exclamation, Buttons::Ok, Answer::Ok, dettagli);
}

// --- History ------------------------------------------------------------------

void Program::ConfigureHistory() {
    HistorySettingsRead reading = caricate_.history;
    if (!reading.problems.empty()) {
        reading.settings = {};
        refuseSection("History", std::move(reading.problems), "storico non attivo");
    }
    history_.Configure(reading.settings, settings_.programFolder());
    status_.historyOn = history_.enabled();
}

// --- Publishing ---------------------------------------------------------------

void Program::ConfigurePublisher() {
    std::vector<std::string> problems = caricate_.mqttProblems;
    MqttSettings nuove = caricate_.mqtt;
    if (!problems.empty()) {
        nuove = {};
        refuseSection("MQTT", std::move(problems), "pubblicazione MQTT non attiva");
    }
    if (!p_.mqtt || !p_.journal || !p_.wallClock) {
        mqtt_ = std::move(nuove);
        return;
    }
    if (publisher_ && nuove == mqtt_) {
        if (mqtt_.discovery)
            publisher_->PublishStatus(DiscoveryMessages(mqtt_, lines_, DevicesOfList()));
        return;
    }
    if (publisher_) publisher_->Stop(0);
    publisher_.reset();
    mqtt_ = std::move(nuove);
    publishingNotice_.clear();
    droppedInMemorySeen_ = 0;
    if (mqtt_.host.empty()) return;
    publisher_ = std::make_unique<Publisher>(*p_.journal, *p_.mqtt, p_.clock);
    std::string error;
    if (!publisher_->Start(mqtt_, error)) {
        publisher_.reset();
        publishingNotice_ = error;
        p_.dialogs.messageBox(ProductName, "Pubblicazione MQTT non avviata.", Icon::Exclamation,
                              Buttons::Ok, Answer::Ok, error);
        return;
    }
    if (mqtt_.discovery)
        publisher_->PublishStatus(DiscoveryMessages(mqtt_, lines_, DevicesOfList()));
    reportPublishing();  // a journal that could not be opened as it was
}

void Program::PublishCycle(long number, const std::vector<Reading>& letture) {
    if (!publisher_) return;
    std::string error;
    publisher_->Enqueue(CycleMessages(mqtt_, UtcText(cycleStart_), number, letture), error);
    publisher_->PublishStatus(
        StatusMessages(mqtt_, mbus_.health(), p_.clock.now(), p_.wallClock->now()));
    reportPublishing();
}

// A trouble of the publishing is told once, until it changes; acquisition
// goes on meanwhile.
void Program::reportPublishing() {
    const PublisherStatus s = publisher_->status();
    // The journal at its cap, or memory full while the journal cannot take
    // the cycles: told when it begins to drop, with the count.
    const bool scarta = s.scartati > droppedSeen_;
    const bool scartaInMemoria = s.droppedInMemory > droppedInMemorySeen_;
    droppedSeen_ = s.scartati;
    droppedInMemorySeen_ = s.droppedInMemory;
    std::string guaio;
    if (scartaInMemoria)
        guaio = "giornale: " + s.journalError + "; in memoria " +
                std::to_string(Publisher::MaxInMemory) +
                " messaggi al più: i più vecchi vengono scartati";
    else if (!s.journalError.empty())
        guaio = "giornale: " + s.journalError;
    else if (scarta)
        guaio = "giornale pieno (JournalMB " + std::to_string(mqtt_.journalMB) +
                "): i messaggi più vecchi vengono scartati";
    else if (!s.connection.error.empty())
        guaio = "broker: " + s.connection.error;
    if (guaio == publishingNotice_) return;
    publishingNotice_ = guaio;
    if (guaio.empty()) return;
    p_.dialogs.messageBox(
        ProductName, "Problema nella pubblicazione MQTT.", Icon::Exclamation, Buttons::Ok,
        Answer::Ok,
        mqtt_.host + ":" + std::to_string(mqtt_.port) + ": " + guaio +
            (scartaInMemoria ? " (" + std::to_string(s.droppedInMemory) + " finora)"
             : scarta        ? " (" + std::to_string(s.scartati) + " finora)"
                             : ""));
}

void Program::StopPublishing(int attesaMs) {
    if (publisher_) publisher_->Stop(attesaMs);
    publisher_.reset();
}

}  // namespace tarvel
