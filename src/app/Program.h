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
#include "platform/ProgramIdentity.h"
#include "platform/SerialPort.h"
#include "platform/WallClock.h"
#include "publish/Publisher.h"
#include "settings/Settings.h"
#include "settings/ProfileStore.h"

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
};

class Program : private CycleObserver {
  public:
    explicit Program(Platform piattaforma);
    ~Program() override;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void setView(MainView* view) { view_ = view; }
    const MainState& stato() const { return stato_; }
    MBus& mbus() { return mbus_; }
    Settings& impostazioni() { return impostazioni_; }
    // The request list as loaded, one line value each.
    const std::vector<RequestLine>& righe() const { return righe_; }
    // What the last good load read: the list, the profiles it uses, the
    // sections with their problems.
    const LoadedSettings& impostazioniCaricate() const { return caricate_; }

    // Settings file.
    std::string PercorsoIni() const { return impostazioni_.PercorsoIni(); }
    std::string LeggiIni(const std::string& sezione, const std::string& chiave,
                         const std::string& predefinito) const;
    bool ScriviIni(const std::string& sezione, const std::string& chiave,
                   const std::string& valore);
    bool CaricaImpostazioni();
    void PredefinitiModbus() { linea_.PredefinitiModbus(); }
    // True when the settings were reloaded; false means they are unusable
    // and the caller asks whether to end the program.
    bool MenuRicarica_Click();

    // Option menus.
    void MenuAcquisisciAuto_Click();
    void MenuMinimizzaPartenza_Click();
    void MenuKillfileOut_Click();
    void MenuNomeFileOut_Click() { impostazioni_.MenuNomeFileOut_Click(); }
    void MenuTitoloGenerale_Click();
    void MenuEncodingXML_Click() { impostazioni_.MenuEncodingXML_Click(); }

    // Publishing ([MQTT]): nothing when the section has no Host.
    const Publisher* pubblicazione() const { return pubblicazione_.get(); }
    const MqttSettings& impostazioniMqtt() const { return mqtt_; }
    // A clean end of the publishing: what waits goes to a reachable broker
    // for at most `attesaMs`, the rest stays in the journal.
    void FinePubblicazione(int attesaMs);

    // A section of the settings that the last load refused: a key with a
    // bad value turns the whole section off ([MQTT], [History]; [XML] keeps
    // the default encoding). One line for each such key, naming it and its
    // value.
    struct RefusedSection {
        std::string sezione;
        std::vector<std::string> problemi;
    };
    const std::vector<RefusedSection>& sezioniRifiutate() const { return sezioniRifiutate_; }

    // The history database ([History]): written after every cycle.
    const History& storico() const { return storico_; }
    // The names of the read lines, each once, in the order of the list.
    std::vector<std::string> NomiLetture() const;
    // The device of each request line, as the output files group them.
    std::vector<int> DispositiviElenco() const;

    // Request list: the whole load of the settings (LoadSettings), then
    // the list applied. False, with the list kept, when it has none.
    bool CaricaParametri();
    // Selects a request line (or none with -1) and cuts it into the detail
    // fields, as a click on the line does.
    void SelezionaChiamata(int indice);
    void Lst_Chiamate_Click();
    void AzzeraDettagli();

    // Serial line: applies profile n, or shows the message and gives false.
    bool ImpostaPortaSeriale(std::int16_t profilo) { return linea_.ImpostaPortaSeriale(profilo); }
    // Why the last profile failed (causa None after a success).
    const ProfileError& erroreProfilo() const { return linea_.error(); }
    // The section of the last profile tried ("Serial_0").
    const std::string& sezioneProfilo() const { return linea_.section(); }
    // Why the last load found the settings unusable (causa None after a
    // good load).
    const SettingsError& erroreImpostazioni() const { return erroreImpostazioni_; }
    // Closes the port, for the end of the program.
    void ChiudiPorta() { linea_.close(); }

    // Request execution and the acquisition cycle.
    void Cmd_Leggi_Click() { ciclo_.Cmd_Leggi_Click(stato_.selezione); }
    void MenuAvvio_Click() { ciclo_.MenuAvvio_Click(); }
    void MenuFerma_Click() { ciclo_.MenuFerma_Click(); }
    // From any thread, ahead of MenuFerma_Click on the cycle's own: the
    // running cycle ends at its next stop test.
    void FermaCiclo() { ciclo_.FermaCiclo(); }
    // From any thread, at the end of the program (Cycle::InterrompiAttesa).
    void InterrompiAttesa() { ciclo_.InterrompiAttesa(); }
    // A stop that does not wait for the running request (Cycle::FermaSubito).
    void FermaSubito() { ciclo_.FermaSubito(); }
    void TmrLettura_Timer() { ciclo_.TmrLettura_Timer(); }
    void ImpostaLampada(const std::string& colore) { lampChanged(LampadaDaColore(colore)); }
    void AggiornaMenu() { ciclo_.AggiornaMenu(); }
    void AbilitaListe(bool abilita) { ciclo_.AbilitaListe(abilita); }

    // Marks the start-up as running or finished; a view that keeps a copy of
    // the state learns of it with the menus.
    void setAvvioInCorso(bool inCorso) {
        stato_.avvioInCorso = inCorso;
        notifica(&MainView::acquisizioneCambiata);
    }

  private:
    void notifica(void (MainView::*evento)());
    void aggiornaOpzioni();
    // LeggiIni as a value, for the parts that read the settings.
    IniReader lettoreIni() const;

    // What the acquisition shows, kept in the state and told to the view.
    void lampChanged(Lamp lampada) override;
    void lineSelected(int indice) override;
    void fieldsShown(const Chiamata& campi) override;
    void resultShown(const std::string& risultato) override;
    void answersCleared() override;
    void answerAdded(const std::string& risposta) override;
    void stateChanged() override;
    void cycleStarted() override;
    void cycleEnded(const CycleReport& rapporto) override;
    void lineShown(const std::string& monitorCaption,
                   const std::array<std::string, 6>& panels) override;
    void lineRefused() override { notifica(&MainView::nascondiSplash); }

    // [History]: configured, or off when the section is refused.
    void ConfiguraStorico();
    // Shows why the section is refused and what is off meanwhile.
    void rifiutaSezione(const std::string& sezione, std::vector<std::string> problemi,
                        const std::string& effetto);
    // [MQTT]: started, or started again when the section changed; off
    // when the section is refused.
    void ConfiguraPubblicazione();
    void PubblicaCiclo(long numero, const std::vector<Reading>& letture);
    void avvisaPubblicazione();

    Platform p_;
    Settings impostazioni_;
    MBus mbus_;
    SerialLine linea_;
    std::vector<RequestLine> righe_;
    Cycle ciclo_;
    History storico_;
    LoadedSettings caricate_;
    SettingsError erroreImpostazioni_;
    MainState stato_;
    MainView* view_ = nullptr;
    std::unique_ptr<Publisher> pubblicazione_;
    MqttSettings mqtt_;
    std::vector<RefusedSection> sezioniRifiutate_;
    WallTime inizioCiclo_{};
    // The last trouble of the publishing told to the user.
    std::string avvisoPubblicazione_;
    std::int64_t scartatiVisti_ = 0;
    std::int64_t scartatiInMemoriaVisti_ = 0;
};

}  // namespace tarvel
