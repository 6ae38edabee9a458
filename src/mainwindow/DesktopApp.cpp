#include "mainwindow/DesktopApp.h"

#include <QPushButton>

#include "about/AboutForm.h"
#include "about/SplashForm.h"
#include "mainwindow/AcquisitionHost.h"
#include "mainwindow/MainForm.h"
#include "monitor/MonitorForm.h"
#include "tray/TrayIcona.h"

namespace tarvel {
namespace {

// The core's platform with the boxes shown by the window's thread.
Platform WithDialogs(const Platform& p, Dialogs& dialogs) {
    return {p.ini,  p.clock,   dialogs,   p.identity,  p.port,    p.files,
            p.mqtt, p.journal, p.history, p.wallClock, p.workers, p.web};
}

// The start-up's requests to the windows, from the core's thread: each runs
// on the window's thread, in order.
class QueuedStartupWindows : public StartupWindows {
  public:
    QueuedStartupWindows(AcquisitionHost& host, StartupWindows& windowSet) : host_(host), f_(windowSet) {}
    void PreparaMonitor() override {
        host_.toWindow([this] { f_.PreparaMonitor(); });
    }
    void PreparaTray() override {
        host_.toWindow([this] { f_.PreparaTray(); });
    }
    void RimuoviIconaTray() override {
        host_.toWindow([this] { f_.RimuoviIconaTray(); });
    }
    void RiduciInTray(bool minimise) override {
        host_.toWindow([this, minimise] { f_.RiduciInTray(minimise); });
    }
    bool monitorVisible() const override {
        bool visibleNow = false;
        host_.onWindow([&] { visibleNow = f_.monitorVisible(); });
        return visibleNow;
    }
    void MenuMonitor_Click() override {
        host_.toWindow([this] { f_.MenuMonitor_Click(); });
    }
    void showReloadNotice(bool visibleNow) override {
        host_.toWindow([this, visibleNow] { f_.showReloadNotice(visibleNow); });
    }
    void quit(int code) override {
        host_.toWindow([this, code] { f_.quit(code); });
    }

  private:
    AcquisitionHost& host_;
    StartupWindows& f_;
};

// The core's notifications, from its thread: the main window is sent a copy
// of the state with each one.
class QueuedView : public MainView {
  public:
    QueuedView(AcquisitionHost& host, Program& program, MainForm& form)
        : host_(host), p_(program), form_(form) {}
    void captionChanged() override { forward(&MainView::captionChanged); }
    // A new list brings the names of its reads.
    void requestsChanged() override {
        sendHealth();
        forward(&MainView::requestsChanged);
    }
    void answersChanged() override { forward(&MainView::answersChanged); }
    void selectionChanged() override { forward(&MainView::selectionChanged); }
    void detailsChanged() override { forward(&MainView::detailsChanged); }
    void optionsChanged() override { forward(&MainView::optionsChanged); }
    void lampChanged() override { forward(&MainView::lampChanged); }
    void acquisitionChanged() override { forward(&MainView::acquisitionChanged); }
    void statusBarChanged() override { forward(&MainView::statusBarChanged); }
    void monitorCaptionChanged() override { forward(&MainView::monitorCaptionChanged); }
    void hideSplash() override { forward(&MainView::hideSplash); }
    void riduciInTray(bool minimise) override {
        host_.toWindow([f = &form_, s = p_.status(), minimise] {
            f->showWindow(s);
            f->riduciInTray(minimise);
        });
    }
    void settingsReloaded() override {
        sendHealth();
        forward(&MainView::settingsReloaded);
    }
    void cycleFinished(const CycleReport& cycleReport) override {
        sendHealth();
        host_.toWindow([f = &form_, s = p_.status(), cycleReport] {
            f->showWindow(s);
            f->cycleFinished(cycleReport);
        });
    }

  private:
    void forward(void (MainView::*ev)()) {
        host_.toWindow([f = &form_, s = p_.status(), ev] {
            f->showWindow(s);
            (f->*ev)();
        });
    }
    void sendHealth() {
        host_.toWindow([f = &form_, health = p_.mbus().health(), names = p_.ReadNames()] {
            f->showHealth(health, names);
        });
    }

    AcquisitionHost& host_;
    Program& p_;
    MainForm& form_;
};

}  // namespace

DesktopApp::DesktopApp(Platform platform, DesktopShell& shell, ProgramInstance& programInstance,
                           std::function<void(int)> quit, WorkerThread* worker,
                           std::function<void()> interrupt)
    : quit_(std::move(quit)),
      shell_(shell),
      dialogs_(platform.dialogs),
      host_(std::make_unique<AcquisitionHost>(worker, platform.dialogs, std::move(interrupt))),
      windows_(std::make_unique<QueuedStartupWindows>(*host_, *this)),
      autostart_(std::make_unique<Autostart>(shell, host_->dialogs(), platform.identity)) {
    // The core's timers belong to its thread: it is made there.
    host_->call([&] {
        program_ = std::make_unique<Program>(WithDialogs(platform, host_->dialogs()));
        startup_ = std::make_unique<Startup>(*program_, platform.clock, host_->dialogs(),
                                         *windows_, &programInstance, autostart_.get());
        iniPath_ = program_->IniPath();
    });
    mainForm_ = std::make_unique<MainForm>(*program_, platform.clock, host_.get());
    monitor_ = std::make_unique<MonitorForm>(program_->mbus(), platform.clock, host_.get());
    about_ = std::make_unique<AboutForm>(platform.identity, shell);
    splash_ = std::make_unique<SplashForm>(platform.identity, platform.clock);
    tray_ = std::make_unique<TrayIcona>(platform.identity);
    mainView_ = std::make_unique<QueuedView>(*host_, *program_, *mainForm_);
    host_->call([this] { program_->setView(mainView_.get()); });
    connectMainForm();
    connectOthers();
}

// The core ends first; it then goes from this thread.
DesktopApp::~DesktopApp() {
    endCore();
    program_->setView(nullptr);
    program_->mbus().onMonitorChanged(nullptr);
    startup_.reset();
    program_.reset();
}

void DesktopApp::connectMainForm() {
    MainForm* m = mainForm_.get();
    // The editor runs on its own; a failure to start it shows nothing.
    connect(m, &MainForm::iniEditRequested, this,
            [this] { shell_.openInEditor(iniPath_); });
    connect(m, &MainForm::reloadRequested, this,
            [this] { host_->post([this] { startup_->MenuRicarica_Click(); }); });
    connect(m, &MainForm::quitRequested, this, [this] { ConfermaUscita(); });
    connect(m, &MainForm::closeRequested, this, [this] { Form_QueryUnload(); });
    connect(m, &MainForm::monitorRequested, this, [this] { MenuMonitor_Click(); });
    connect(m, &MainForm::aboutRequested, this, [this] { MenuAbout_Click(); });
    connect(m, &MainForm::autostartRequested, this,
            [this] { autostart_->MenuAvvioAuto_Click(mainForm_->status().avvioInCorso); });
    connect(m, &MainForm::createShortcutRequested, this,
            [this] { autostart_->MenuCreaCollegamento_Click(); });
    connect(m, &MainForm::deleteShortcutRequested, this,
            [this] { autostart_->MenuEliminaCollegamento_Click(); });
    connect(m, &MainForm::minimiseRequested, this, [this](bool minimise) { RiduciInTray(minimise); });
    connect(m, &MainForm::splashToHide, this, [this] { splash_->hide(); });
    connect(m, &MainForm::monitorCaptionDue, this,
            [this] { monitor_->setCaption(mainForm_->status().monitorCaption); });
}

void DesktopApp::connectOthers() {
    // Read by the start-up on the core's thread.
    autostart_->onCheckChanged([this] {
        host_->toWindow([this] { mainForm_->setAutostartChecked(autostart_->checked()); });
    });
    connect(splash_.get(), &SplashForm::closing, this, [this] { closeSplash(); });
    connect(about_.get(), &AboutForm::closed, this, [this] { closeAbout(); });
    connect(tray_.get(), &TrayIcona::openRequested, this, [this] { RiduciInTray(false); });
    connect(tray_.get(), &TrayIcona::quitRequested, this, [this] { ConfermaUscita(); });
    connect(tray_.get(), &TrayIcona::activated, this, [this] {
        if (mainForm_->isVisible()) mainForm_->activateWindow();
    });
}

void DesktopApp::start() { splash_->Form_Load(); }

void DesktopApp::closeSplash() {
    host_->post([this] { startup_->Form_Load(); });
}

// As Startup::ConfermaUscita, on the window's thread.
void DesktopApp::ConfermaUscita() {
    if (mainForm_->status().avvioInCorso) {
        host_->post([this] { startup_->ConfermaUscita(); });
        return;
    }
    const Answer answer = dialogs_.messageBox(ProductName, "Uscire dal programma ?",
                                                Icon::Question, Buttons::YesNo, Answer::No, {});
    if (answer != Answer::Yes) return;
    RimuoviIconaTray();
    host_->stop();
    host_->call([this] { program_->ClosePort(); });
    quit(ExitNormal);
}

// As Startup::Form_QueryUnload, on the window's thread.
void DesktopApp::Form_QueryUnload() {
    if (mainForm_->status().acquisizioneAttiva) {
        if (monitorVisible()) MenuMonitor_Click();
        RiduciInTray(true);
        return;
    }
    ConfermaUscita();
}

void DesktopApp::MenuAbout_Click() {
    mainForm_->setEnabled(false);
    about_->show();
    about_->raise();
    about_->activateWindow();
    about_->update();
    about_->findChild<QPushButton*>(QStringLiteral("cmdOK"))->setFocus();
}

void DesktopApp::closeAbout() {
    mainForm_->setEnabled(true);
    mainForm_->activateWindow();
    mainForm_->update();
}

void DesktopApp::PreparaMonitor() { monitor_->PreparaMonitor(); }
void DesktopApp::PreparaTray() { tray_->PreparaTray(); }
void DesktopApp::RimuoviIconaTray() { tray_->RimuoviIconaTray(); }
void DesktopApp::RiduciInTray(bool minimise) { tray_->RiduciInTray(mainForm_.get(), minimise); }
bool DesktopApp::monitorVisible() const { return monitor_->isVisible(); }
void DesktopApp::MenuMonitor_Click() { monitor_->MenuMonitor_Click(); }
void DesktopApp::showReloadNotice(bool visibleNow) {
    mainForm_->showReloadNotice(visibleNow);
}

// The core ends first: what ends the program then reads the core from this
// thread.
void DesktopApp::quit(int code) {
    endCore();
    if (quit_) quit_(code);
}

// The web server's threads read the core's snapshots and the history: they
// are joined before anything of the core goes, and before an end that
// leaves at once (std::_Exit) closes the clients' connections unanswered.
void DesktopApp::endCore() {
    host_->stop();
    program_->StopWeb();
}

}  // namespace tarvel
