#pragma once
// What the main window shows, kept by the program's façade, and the view
// that is told when it changes. The desktop window and the headless runner
// each implement the view; every notification has an empty default.

#include <array>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/CycleObserver.h"
#include "acquisition/Lamp.h"
#include "platform/Clock.h"

namespace tarvel {

struct MainState {
    std::string didascalia = "Tarvel";  // window caption
    std::vector<std::string> chiamate;  // request lines (Lst_Chiamate)
    std::vector<std::string> risposte;  // answer lines of the cycle (Lst_Risposte)
    int selezione = -1;                 // selected request line, -1 for none
    Chiamata chiamata;                  // the five detail fields
    std::string risultato;              // LabRisultato
    bool acquisisciAuto = false;        // "Automatica"
    bool minimizzaPartenza = false;     // "Startup ridotto ad icona"
    bool killFileOut = false;           // "Cancella i file di uscita prima di aggiornare"
    Millis intervallo{1000};            // interval of the acquisition timer
    Lamp lampada = Lamp::Off;
    bool acquisizioneAttiva = false;  // AcquisizioneAttiva
    bool avvioInCorso = false;        // AvvioInCorso
    bool listeAbilitate = true;
    bool cicloInCorso = false;
    std::array<std::string, 6> statusBar;  // the six panels
    std::string didascaliaMonitor = "Monitor RS232";
    bool storicoAttivo = false;  // [History] File set: "TrendWindow" enabled
};

class MainView {
  public:
    virtual ~MainView() = default;
    virtual void didascaliaCambiata() {}
    virtual void chiamateCambiate() {}
    virtual void risposteCambiate() {}
    virtual void selezioneCambiata() {}
    virtual void dettagliCambiati() {}  // the five fields or the result
    virtual void opzioniCambiate() {}   // the three check marks
    virtual void lampadaCambiata() {}
    virtual void acquisizioneCambiata() {}  // menus and lists enabled or not
    virtual void statusBarCambiata() {}
    virtual void didascaliaMonitorCambiata() {}
    virtual void nascondiSplash() {}
    // The start-in-tray option was switched: hide into the tray or show.
    virtual void riduciInTray(bool /*riduci*/) {}
    // Settings were reloaded: show the notice for two seconds.
    virtual void impostazioniRicaricate() {}
    virtual void cicloTerminato(const CycleReport& /*rapporto*/) {}
};

}  // namespace tarvel
