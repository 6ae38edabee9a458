#pragma once
// The desktop program put together: the core, the four windows, the tray
// icon and the program's life. It answers the start-up's requests to the
// windows and wires each window's commands to their handlers. Given a worker
// thread, the core and the start-up's timers live on it (AcquisitionHost):
// the windows post commands and are sent copies of what they show. Without
// one (tests on virtual time) everything runs on the caller's thread.

#include <QObject>
#include <functional>
#include <memory>

#include "app/Program.h"
#include "app/Startup.h"
#include "app/Autostart.h"

namespace tarvel {

class AcquisitionHost;
class WorkerThread;
class AboutForm;
class MainForm;
class MonitorForm;
class SplashForm;
class TrayIcona;

class DesktopApp : public QObject, public StartupWindows {
    Q_OBJECT

  public:
    // quit ends the process at once with the given code.
    // `interrupt` ends the core's running wait at once (the end of the
    // program), from the window's thread.
    DesktopApp(Platform platform, DesktopShell& shell, ProgramInstance& programInstance,
                 std::function<void(int)> quit, WorkerThread* worker = nullptr,
                 std::function<void()> interrupt = {});
    ~DesktopApp() override;

    // Shows the splash; the start-up runs when the splash closes.
    void start();
    // Disables the main window and shows the About window.
    void MenuAbout_Click();

    void PreparaMonitor() override;
    void PreparaTray() override;
    void RimuoviIconaTray() override;
    void RiduciInTray(bool minimise) override;
    bool monitorVisible() const override;
    void MenuMonitor_Click() override;
    void showReloadNotice(bool visibleNow) override;
    void quit(int code) override;

    // The exit question and the close request, asked by the window's thread
    // from the state it was sent, so that they answer during a wait of the
    // core; a confirmed exit ends the core's running wait at once.
    void ConfermaUscita();
    void Form_QueryUnload();

    // The core: on its own thread, or after the end of the program.
    Program& program() { return *program_; }
    AcquisitionHost& host() { return *host_; }
    Startup& startup() { return *startup_; }
    Autostart& autostart() { return *autostart_; }
    MainForm& mainForm() { return *mainForm_; }
    MonitorForm& monitor() { return *monitor_; }
    AboutForm& about() { return *about_; }
    SplashForm& splash() { return *splash_; }
    TrayIcona& tray() { return *tray_; }

  private:
    // The core's thread joined and the web server stopped: what the end
    // does first, whichever way the program ends.
    void endCore();
    void connectMainForm();
    void connectOthers();
    void closeSplash();
    void closeAbout();

    std::function<void(int)> quit_;
    DesktopShell& shell_;
    Dialogs& dialogs_;
    std::unique_ptr<AcquisitionHost> host_;
    std::unique_ptr<StartupWindows> windows_;  // the start-up's requests, to this thread
    std::unique_ptr<MainView> mainView_;     // the core's notifications, to the main window
    std::string iniPath_;
    std::unique_ptr<Program> program_;
    std::unique_ptr<Autostart> autostart_;
    std::unique_ptr<MainForm> mainForm_;
    std::unique_ptr<MonitorForm> monitor_;
    std::unique_ptr<AboutForm> about_;
    std::unique_ptr<SplashForm> splash_;
    std::unique_ptr<TrayIcona> tray_;
    std::unique_ptr<Startup> startup_;
};

}  // namespace tarvel
