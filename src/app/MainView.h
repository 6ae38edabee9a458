#pragma once
// What the main window shows, kept by the program's façade, and the view
// that is told when it changes. The desktop window and the headless runner
// each implement the view; every notification has an empty default.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/CycleObserver.h"
#include "acquisition/Lamp.h"
#include "app/AnswerLines.h"
#include "platform/Clock.h"

namespace tarvel {

// Lines that every copy of the state shares (the window is sent a copy with
// each notification): a change makes a new list, a copy costs a pointer.
using SharedLines = std::shared_ptr<const std::vector<std::string>>;

inline SharedLines NoLines() { return std::make_shared<const std::vector<std::string>>(); }

struct MainState {
    std::string caption = "Tarvel";  // window caption
    SharedLines requests = NoLines();  // request lines (Lst_Chiamate)
    AnswerLines answers;               // answer lines of the cycle (Lst_Risposte)
    int selection = -1;                 // selected request line, -1 for none
    Chiamata request;                  // the five detail fields
    std::string result;              // LabRisultato
    bool automaticAcquisition = false;        // "Automatica"
    bool startMinimised = false;     // "Startup ridotto ad icon"
    bool killFileOut = false;           // "Cancella i file di exported first di aggiornare"
    Millis interval{1000};            // interval of the acquisition timer
    Lamp lamp = Lamp::Off;
    bool acquisizioneAttiva = false;  // AcquisizioneAttiva
    bool avvioInCorso = false;        // AvvioInCorso
    bool listsEnabled = true;
    bool cycleRunning = false;
    std::array<std::string, 6> statusBar;  // the six panels
    std::string monitorCaption = "Monitor RS232";
    bool historyOn = false;  // [History] File set: "TrendWindow" enabled
};

class MainView {
  public:
    virtual ~MainView() = default;
    virtual void captionChanged() {}
    virtual void requestsChanged() {}
    virtual void answersChanged() {}
    virtual void selectionChanged() {}
    virtual void detailsChanged() {}  // the five fields or the result
    virtual void optionsChanged() {}   // the three check marks
    virtual void lampChanged() {}
    virtual void acquisitionChanged() {}  // menus and lists enabled or not
    virtual void statusBarChanged() {}
    virtual void monitorCaptionChanged() {}
    virtual void hideSplash() {}
    // The start-in-tray option was switched: hide into the tray or show.
    virtual void riduciInTray(bool /*minimise*/) {}
    // Settings were reloaded: show the notice for two seconds.
    virtual void settingsReloaded() {}
    virtual void cycleFinished(const CycleReport& /*cycleReport*/) {}
    // Whether the view follows each line as it runs: its selection, its
    // fields, its answer and the answer list. A view of whole cycles says
    // no, and nothing of a line is copied or formatted for it.
    [[gnu::hot]] virtual bool followsLines() const { return true; }
};

}  // namespace tarvel
