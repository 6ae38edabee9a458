#pragma once
// The program's life around the main window: the start-up, the first
// automatic start, the reload notice, the close request and the exit
// routine. Plain C++: the windows are reached through StartupWindows, time through
// the Clock, so every path runs with fakes. The steps of the start-up that
// need no window are shared with the headless runner.

#include <memory>

#include "app/Autostart.h"
#include "app/Program.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"

namespace tarvel {

// The mark that only one instance of the program runs.
class ProgramInstance {
  public:
    virtual ~ProgramInstance() = default;
    // Takes the mark for this instance; false when another instance holds it.
    virtual bool acquire() = 0;
};

// What the start-up and the exit ask of the windows.
class StartupWindows {
  public:
    virtual ~StartupWindows() = default;
    // The monitor window loaded, hidden, not logging, "HEX" selected.
    virtual void PreparaMonitor() = 0;
    // The tray menu built and the tray icon added.
    virtual void PreparaTray() = 0;
    virtual void RimuoviIconaTray() = 0;
    // True: the main window goes into the tray; false: it is shown.
    virtual void RiduciInTray(bool minimise) = 0;
    virtual bool monitorVisible() const = 0;
    // Shows the monitor when hidden, hides it when shown.
    virtual void MenuMonitor_Click() = 0;
    virtual void showReloadNotice(bool visibleNow) = 0;
    // Ends the program at once: no further event runs, nothing is saved.
    virtual void quit(int code) = 0;
};

// How the start-up steps that need no window ended.
enum class StartupResult { Ready, BadSettings, PortNotSet };

// Marks the start-up as running, loads the settings, sets up serial profile
// 0 and updates the menus. The start-up stays marked as running: the caller
// ends it once its own steps are done. With `wholeSections`, a section the
// load refused (Program::refusedSections) makes the settings unusable,
// unless it only stops the web page; without, the program runs without
// that section.
StartupResult PrepareAcquisition(Program& program, bool wholeSections = false);

// Exit codes: 0 for a confirmed exit and a second instance, 1 for a start-up
// that failed.
inline constexpr int ExitNormal = 0;
inline constexpr int ExitStartupFailed = 1;

class Startup {
  public:
    static constexpr Millis FirstStartInterval{2000};
    static constexpr Millis ReloadNoticeDuration{2000};

    // Without an instance mark every start runs; without autostart the
    // check mark is not read.
    Startup(Program& program, Clock& clock, Dialogs& dialogs, StartupWindows& windowSet,
          ProgramInstance* programInstance, Autostart* autostart);

    // The load handler of the main window: the whole start-up.
    void Form_Load();
    void DisattivaTimer();
    void Tmr_PrimaVolta_Timer();
    void Tmr_RimuoviMessaggi_Timer();
    // Shows the reload notice and hides it again after two seconds.
    void ShowReloadNotice();
    // "Ricarica settings": a failed reload asks whether to end.
    void MenuRicarica_Click();
    void MenuFine_Click();
    void ConfermaUscita();
    // A close request of the main window; the window never closes.
    void Form_QueryUnload();

    bool finished() const { return finished_; }
    bool firstStartPending() const { return tmrPrimaVolta_->enabled(); }
    bool noticeShown() const { return tmrRimuoviMessaggi_->enabled(); }

  private:
    void quit(int code);

    Program& program_;
    Dialogs& dialogs_;
    StartupWindows& windows_;
    ProgramInstance* instance_;
    Autostart* autostart_;
    std::unique_ptr<Timer> tmrPrimaVolta_;
    std::unique_ptr<Timer> tmrRimuoviMessaggi_;
    bool finished_ = false;
};

}  // namespace tarvel
