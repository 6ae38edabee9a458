#pragma once
// The program's façade: the handlers the windows and the headless runner
// call, each forwarding to the subsystem that does the work (settings,
// request list, serial line, execution, cycle, output), with the state the
// main window shows. Views learn of changes through MainView.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Product.h"
#include "acquisition/Chiamata.h"
#include "acquisition/Cycle.h"
#include "acquisition/CycleObserver.h"
#include "acquisition/SerialLine.h"
#include "app/LoadedSettings.h"
#include "app/MainView.h"
#include "export/EsportaXML.h"
#include "history/History.h"
#include "modbus/MBus.h"
#include "modbus/SerialProfile.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/HistoryStore.h"
#include "platform/OutputFiles.h"
#include "platform/PortWorkers.h"
#include "platform/ProgramIdentity.h"
#include "platform/SerialPort.h"
#include "platform/WebServer.h"
#include "platform/WallClock.h"
#include "publish/Publisher.h"
#include "publish/PublishingNotice.h"
#include "settings/Settings.h"
#include "settings/ProfileStore.h"
#include "web/WebFeed.h"
#include "web/WebSite.h"

namespace tarvel {

// The platform services the logic reaches the outside world through.
struct Platform {
    ProfileStore& ini;
    Clock& clock;
    Dialogs& dialogs;
    ProgramIdentity& identity;
    SerialPort& port;
    OutputFiles& files;
    // Publishing to a broker: without these nothing is published, whatever
    // the settings say.
    MqttClient* mqtt = nullptr;
    Journal* journal = nullptr;
    // The history database and the calendar time it is written with;
    // without them there is no history, whatever the settings say.
    HistoryStore* history = nullptr;
    const WallClock* wallClock = nullptr;
    // Ports polled at the same time ([Parameters] Parallel=1); without
    // them the list runs in turn, whatever the settings say.
    PortWorkers* workers = nullptr;
    // The web page, the API and the metrics ([Web]): without a server
    // nothing listens, whatever the settings say.
    WebServer* web = nullptr;
};

class Program : private CycleObserver {
  public:
    explicit Program(Platform platform);
    ~Program() override;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void setView(MainView* view) { view_ = view; }
    const MainState& status() const { return status_; }
    MBus& mbus() { return mbus_; }
    Settings& settings() { return settings_; }
    // The request list as loaded, one line value each.
    const std::vector<RequestLine>& lines() const { return lines_; }
    // What the last good load read: the list, the profiles it uses, the
    // sections with their problems.
    const LoadedSettings& loadedSettings() const { return loaded_; }

    // Settings file.
    std::string IniPath() const { return settings_.IniPath(); }
    std::string LeggiIni(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
    bool ScriviIni(const std::string& section, const std::string& key,
                   const std::string& value);
    bool CaricaImpostazioni();
    void PredefinitiModbus() { serialLine_.PredefinitiModbus(); }
    // True when the settings were reloaded; false means they are unusable
    // and the caller asks whether to end the program.
    bool MenuRicarica_Click();

    // Option menus.
    void MenuAcquisisciAuto_Click();
    void MenuMinimizzaPartenza_Click();
    void MenuKillfileOut_Click();
    void MenuNomeFileOut_Click() { settings_.MenuNomeFileOut_Click(); }
    void MenuTitoloGenerale_Click();
    void MenuEncodingXML_Click() { settings_.MenuEncodingXML_Click(); }

    // Publishing ([MQTT]): nothing when the section has no Host.
    const Publisher* publisher() const { return publisher_.get(); }
    const MqttSettings& mqttSettings() const { return mqtt_; }
    // A clean end of the publishing: what waits goes to a reachable broker
    // for at most `waitMs`, the rest stays in the journal.
    void StopPublishing(int waitMs);

    // A section of the settings that the last load refused: a key with a
    // bad value turns the whole section off ([MQTT], [History]; [XML] keeps
    // the default encoding). One line for each such key, naming it and its
    // value.
    struct RefusedSection {
        std::string section;
        std::vector<std::string> problems;
        // A run without windows refuses to start; false for [Web], whose
        // page is only not served.
        bool stopsRun = true;
    };
    const std::vector<RefusedSection>& refusedSections() const { return refusedSections_; }

    // The web page ([Web]): the settings in force and whether it is served.
    const WebSettings& webSettings() const { return web_; }
    bool webServing() const { return webServing_; }
    // What the page shows, swapped in at the end of every cycle.
    const WebFeed& webFeed() const { return webFeed_; }
    // The server stopped, its connections closed and its threads joined:
    // after it nothing calls into the program from the web. The end of the
    // program calls it while the program is whole; so does the destructor.
    void StopWeb();

    // The history database ([History]): written after every cycle.
    const History& historyLog() const { return history_; }
    // The names of the read lines, each once, in the order of the list.
    std::vector<std::string> ReadNames() const;
    // The device of each request line, as the output files group them.
    std::vector<int> DevicesOfList() const;

    // Request list: the whole load of the settings (LoadSettings), then
    // the list applied. False, with the list kept, when it has none.
    bool CaricaParametri();
    // Selects a request line (or none with -1) and cuts it into the detail
    // fields, as a click on the line does.
    void SelectRequest(int index);
    void Lst_Chiamate_Click();
    void AzzeraDettagli();

    // Serial line: applies profile n, or shows the message and gives false.
    bool ImpostaPortaSeriale(std::int16_t profile) { return serialLine_.ImpostaPortaSeriale(profile); }
    // Why the last profile failed (cause None after a success).
    const ProfileError& profileError() const { return serialLine_.error(); }
    // The section of the last profile tried ("Serial_0").
    const std::string& profileSection() const { return serialLine_.section(); }
    // Why the last load found the settings unusable (cause None after a
    // good load).
    const SettingsError& settingsError() const { return settingsError_; }
    // Closes the port (and those polled in parallel), for the end of the
    // program.
    void ClosePort() { cycle_.ClosePorts(); }

    // Request execution and the acquisition cycle.
    void Cmd_Leggi_Click() { cycle_.Cmd_Leggi_Click(status_.selection); }
    void MenuAvvio_Click() { cycle_.MenuAvvio_Click(); }
    void MenuFerma_Click() { cycle_.MenuFerma_Click(); }
    // From any thread, ahead of MenuFerma_Click on the cycle's own: the
    // running cycle ends at its next stop test.
    void StopCycle() { cycle_.StopCycle(); }
    // From any thread, at the end of the program (Cycle::InterruptWait).
    void InterruptWait() { cycle_.InterruptWait(); }
    // A stop that does not wait for the running request (Cycle::StopNow).
    void StopNow() { cycle_.StopNow(); }
    void TmrLettura_Timer() { cycle_.TmrLettura_Timer(); }
    void ImpostaLampada(const std::string& colour) { lampChanged(LampFromColour(colour)); }
    void AggiornaMenu() { cycle_.AggiornaMenu(); }
    void AbilitaListe(bool enabled) { cycle_.AbilitaListe(enabled); }

    // Marks the start-up as running or finished; a view that keeps a copy of
    // the state learns of it with the menus.
    void setAvvioInCorso(bool running) {
        status_.avvioInCorso = running;
        notify(&MainView::acquisitionChanged);
    }

  private:
    void notify(void (MainView::*ev)());
    // A view follows the lines as they run (the headless runner does not).
    bool linesFollowed() const;
    void updateOptions();
    // LeggiIni as a value, for the parts that read the settings.
    IniReader iniReader() const;

    // What the acquisition shows, kept in the state and told to the view.
    void lampChanged(Lamp lamp) override;
    void lineSelected(int index) override;
    void fieldsShown(const Chiamata& fields) override;
    void resultShown(const Risposta& result) override;
    void answersCleared() override;
    void answerAdded(const Risposta& answer) override;
    void stateChanged() override;
    void cycleStarted() override;
    void cycleEnded(const CycleReport& cycleReport) override;
    void lineShown(const std::string& monitorCaption,
                   const std::array<std::string, 6>& panels) override;
    void lineRefused() override { notify(&MainView::hideSplash); }

    // [History]: configured, or off when the section is refused.
    void ConfigureHistory();
    // Shows why the section is refused and what is off meanwhile.
    void refuseSection(const std::string& section, std::vector<std::string> problems,
                        const std::string& effect, bool stopsRun = true);
    // [MQTT]: started, or started again when the section changed; off
    // when the section is refused.
    void ConfigurePublisher();
    void PublishCycle(long number, const std::vector<Reading>& readings);
    // [Web]: served, served again when the section changed, or stopped.
    void ConfigureWeb();
    std::vector<HistoryPoint> WebTrend(const std::string& name, std::chrono::seconds span) const;
    void FeedWeb(const CycleReport& cycleReport);
    void reportPublishing();

    Platform p_;
    Settings settings_;
    MBus mbus_;
    SerialLine serialLine_;
    std::vector<RequestLine> lines_;
    Cycle cycle_;
    History history_;
    LoadedSettings loaded_;
    SettingsError settingsError_;
    MainState status_;
    MainView* view_ = nullptr;
    std::unique_ptr<Publisher> publisher_;
    MqttSettings mqtt_;
    std::vector<RefusedSection> refusedSections_;
    WallTime cycleStart_{};
    // The last trouble of the publishing told to the user.
    PublishingNotice publishingNotice_;
    WebSettings web_;
    bool webServing_ = false;
    WebFeed webFeed_;
    WebSite webSite_;
};

}  // namespace tarvel
