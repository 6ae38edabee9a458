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
      serialLine_(mbus_, platform.clock, platform.dialogs, iniReader(), *this),
      cycle_(platform.clock, serialLine_, lines_, *this,
             {platform.files, settings_.programFolder()}, iniReader()),
      history_(platform.history, platform.wallClock, platform.clock, platform.dialogs),
      webSite_(webFeed_, [this](const std::string& name, std::chrono::seconds span) {
          return WebTrend(name, span);
      }) {}

// The server calls into the site and the feed: it ends first.
Program::~Program() { StopWeb(); }

void Program::notify(void (MainView::*ev)()) {
    if (view_) (view_->*ev)();
}

// --- Settings ---------------------------------------------------------------

std::string Program::LeggiIni(const std::string& section, const std::string& key,
                                const std::string& fallback) const {
    return settings_.LeggiIni(section, key, fallback);
}

bool Program::ScriviIni(const std::string& section, const std::string& key,
                          const std::string& value) {
    return settings_.ScriviIni(section, key, value);
}

IniReader Program::iniReader() const {
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
    ConfigureWeb();
    // The output itself never takes such a value (EsportaXML).
    if (const auto& p = loaded_.encodingProblem)
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
    const bool minimise = settings_.ToggleStartMinimised();
    updateOptions();
    if (view_) view_->riduciInTray(minimise);
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
    LoadedSettings readCount = LoadSettings(settings_, p_.identity.hostName());
    status_.caption = CaptionForTitle(readCount.title);
    serialLine_.setCaption(status_.caption);
    notify(&MainView::captionChanged);
    settingsError_ = readCount.list.error;
    if (!readCount.list.list) return false;
    loaded_ = std::move(readCount);
    const RequestList& list = *loaded_.list.list;

    status_.interval = list.interval;
    cycle_.setInterval(list.interval);
    cycle_.setPortWorkers(list.parallel ? p_.workers : nullptr);
    lines_ = list.lines;
    cycle_.ListLoaded();
    auto requests = std::make_shared<std::vector<std::string>>();
    for (const RequestLine& line : lines_) requests->push_back(line.text);
    status_.requests = std::move(requests);
    status_.answers = {};
    AzzeraDettagli();
    notify(&MainView::requestsChanged);
    notify(&MainView::answersChanged);
    return true;
}

std::vector<std::string> Program::ReadNames() const {
    std::vector<std::string> names;
    for (const RequestLine& line : lines_) {
        const std::string& name = line.shownFields.Descrizione;
        if (line.kind == LineKind::Read &&
            std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

std::vector<int> Program::DevicesOfList() const {
    return DevicesOfLines(lines_, loaded_.output);
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
    if (!status_.requests->empty()) {
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

[[gnu::hot]] bool Program::linesFollowed() const { return view_ && view_->followsLines(); }

[[gnu::hot]] void Program::lineSelected(int index) {
    if (!linesFollowed()) return;
    if (index < 0)
        AzzeraDettagli();
    else
        SelectRequest(index);
}

[[gnu::hot]] void Program::fieldsShown(const Chiamata& fields) {
    if (!linesFollowed()) return;
    status_.request = fields;
    notify(&MainView::detailsChanged);
}

[[gnu::hot]] void Program::resultShown(const Risposta& result) {
    if (!linesFollowed()) return;
    status_.result = AnswerText(result);
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
    status_.answers = {};
    notify(&MainView::answersChanged);
}

[[gnu::hot]] void Program::answerAdded(const Risposta& answer) {
    if (!linesFollowed()) return;
    status_.answers = status_.answers.with(AnswerText(answer));
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
void Program::cycleEnded(const CycleReport& cycleReport) {
    history_.RecordCycle(cycleReport.number, cycleReport.readings);
    PublishCycle(cycleReport.number, cycleReport.readings);
    FeedWeb(cycleReport);
    if (view_) view_->cycleFinished(cycleReport);
}

void Program::refuseSection(const std::string& section, std::vector<std::string> problems,
                               const std::string& effect, bool stopsRun) {
    std::string detailText;
    for (const std::string& p : problems) detailText += (detailText.empty() ? "" : "\n") + p;
    refusedSections_.push_back({section, std::move(problems), stopsRun});
    p_.dialogs.messageBox(
        ProductName,
        "Sezione [" + section + "] del file " + IniFileName + " non valida: " + effect + ".",
        Icon::Exclamation, Buttons::Ok, Answer::Ok, detailText);
}

// --- History ------------------------------------------------------------------

void Program::ConfigureHistory() {
    HistorySettingsRead reading = loaded_.history;
    if (!reading.problems.empty()) {
        reading.settings = {};
        refuseSection("History", std::move(reading.problems), "storico non attivo");
    }
    history_.Configure(reading.settings, settings_.programFolder());
    status_.historyOn = history_.enabled();
}

// --- Publishing ---------------------------------------------------------------

void Program::ConfigurePublisher() {
    std::vector<std::string> problems = loaded_.mqttProblems;
    MqttSettings fresh = loaded_.mqtt;
    if (!problems.empty()) {
        fresh = {};
        refuseSection("MQTT", std::move(problems), "pubblicazione MQTT non attiva");
    }
    if (!p_.mqtt || !p_.journal || !p_.wallClock) {
        mqtt_ = std::move(fresh);
        return;
    }
    if (publisher_ && fresh == mqtt_) {
        if (mqtt_.discovery)
            publisher_->PublishStatus(DiscoveryMessages(mqtt_, lines_, DevicesOfList()));
        return;
    }
    if (publisher_) publisher_->Stop(0);
    publisher_.reset();
    mqtt_ = std::move(fresh);
    publishingNotice_.restart();
    if (mqtt_.host.empty()) return;
    publisher_ = std::make_unique<Publisher>(*p_.journal, *p_.mqtt, p_.clock);
    std::string error;
    if (!publisher_->Start(mqtt_, error)) {
        publisher_.reset();
        publishingNotice_.restart(error);
        p_.dialogs.messageBox(ProductName, "Pubblicazione MQTT non avviata.", Icon::Exclamation,
                              Buttons::Ok, Answer::Ok, error);
        return;
    }
    if (mqtt_.discovery)
        publisher_->PublishStatus(DiscoveryMessages(mqtt_, lines_, DevicesOfList()));
    reportPublishing();  // a journal that could not be opened as it was
}

void Program::PublishCycle(long number, const std::vector<Reading>& readings) {
    if (!publisher_) return;
    std::string error;
    publisher_->Enqueue(CycleMessages(mqtt_, UtcText(cycleStart_), number, readings), error);
    publisher_->PublishStatus(
        StatusMessages(mqtt_, mbus_.health(), p_.clock.now(), p_.wallClock->now()));
    reportPublishing();
}

// A trouble of the publishing is told once, until it changes; acquisition
// goes on meanwhile.
void Program::reportPublishing() {
    if (auto text = publishingNotice_.next(publisher_->status(), mqtt_))
        p_.dialogs.messageBox(ProductName, "Problema nella pubblicazione MQTT.",
                              Icon::Exclamation, Buttons::Ok, Answer::Ok, *text);
}

// --- Web page -------------------------------------------------------------------

void Program::ConfigureWeb() {
    WebSettings fresh = loaded_.web;
    if (!loaded_.webProblems.empty()) {
        fresh = {};
        refuseSection("Web", loaded_.webProblems, "pagina web non servita", false);
    }
    if (!p_.web || (fresh == web_ && webServing_ == fresh.on())) {
        web_ = std::move(fresh);
        return;
    }
    StopWeb();
    web_ = std::move(fresh);
    if (!web_.on()) return;
    webSite_.setCredentials(web_.user, web_.password);
    std::string error;
    webServing_ = p_.web->start({web_.bind, web_.port, web_.certFile, web_.keyFile}, webSite_, error);
    // The page's monitor, in hexadecimal whatever the window shows.
    mbus_.KeepHexCopy(webServing_);
    if (!webServing_)
        p_.dialogs.messageBox(ProductName, "Pagina web non avviata.", Icon::Exclamation,
                              Buttons::Ok, Answer::Ok, "[Web] " + error);
}

void Program::StopWeb() {
    if (p_.web) p_.web->stop();
    webServing_ = false;
    mbus_.KeepHexCopy(false);
}

std::vector<HistoryPoint> Program::WebTrend(const std::string& name,
                                            std::chrono::seconds span) const {
    if (!p_.history || !p_.wallClock) return {};
    return History::ReadTrend(*p_.history, name, p_.wallClock->now(), span);
}

void Program::FeedWeb(const CycleReport& cycleReport) {
    if (!webServing_) return;
    const PublisherStatus journal = publisher_ ? publisher_->status() : PublisherStatus{};
    const WallTime wallNow = p_.wallClock ? p_.wallClock->now() : WallTime{};
    const bool historyFailing = history_.enabled() && p_.history && p_.history->state().failing;
    webFeed_.publish({cycleReport, mbus_.health(), mbus_.hexCopy(), p_.clock.now(), wallNow,
                      cycleStart_, publisher_ != nullptr, journal.waiting, journal.droppedCount,
                      history_.enabled(), historyFailing, history_.enabled() ? ReadNames()
                                                                              : std::vector<std::string>{}});
}

void Program::StopPublishing(int waitMs) {
    if (publisher_) publisher_->Stop(waitMs);
    publisher_.reset();
}

}  // namespace tarvel
