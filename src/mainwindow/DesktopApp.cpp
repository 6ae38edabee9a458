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
Platform ConDialoghi(const Platform& p, Dialogs& dialogs) {
    return {p.ini,   p.clock, dialogs,   p.identity, p.port,
            p.files, p.mqtt,  p.journal, p.history,  p.wallClock};
}

// The start-up's requests to the windows, from the core's thread: each runs
// on the window's thread, in order.
class QueuedStartupWindows : public StartupWindows {
  public:
    QueuedStartupWindows(AcquisitionHost& host, StartupWindows& finestre) : host_(host), f_(finestre) {}
    void PreparaMonitor() override {
        host_.toWindow([this] { f_.PreparaMonitor(); });
    }
    void PreparaTray() override {
        host_.toWindow([this] { f_.PreparaTray(); });
    }
    void RimuoviIconaTray() override {
        host_.toWindow([this] { f_.RimuoviIconaTray(); });
    }
    void RiduciInTray(bool riduci) override {
        host_.toWindow([this, riduci] { f_.RiduciInTray(riduci); });
    }
    bool monitorVisible() const override {
        bool visibile = false;
        host_.onWindow([&] { visibile = f_.monitorVisible(); });
        return visibile;
    }
    void MenuMonitor_Click() override {
        host_.toWindow([this] { f_.MenuMonitor_Click(); });
    }
    void showReloadNotice(bool visibile) override {
        host_.toWindow([this, visibile] { f_.showReloadNotice(visibile); });
    }
    void quit(int codice) override {
        host_.toWindow([this, codice] { f_.quit(codice); });
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
    void captionChanged() override { invia(&MainView::captionChanged); }
    // A new list brings the names of its reads.
    void requestsChanged() override {
        inviaSalute();
        invia(&MainView::requestsChanged);
    }
    void answersChanged() override { invia(&MainView::answersChanged); }
    void selectionChanged() override { invia(&MainView::selectionChanged); }
    void detailsChanged() override { invia(&MainView::detailsChanged); }
    void optionsChanged() override { invia(&MainView::optionsChanged); }
    void lampChanged() override { invia(&MainView::lampChanged); }
    void acquisitionChanged() override { invia(&MainView::acquisitionChanged); }
    void statusBarChanged() override { invia(&MainView::statusBarChanged); }
    void monitorCaptionChanged() override { invia(&MainView::monitorCaptionChanged); }
    void hideSplash() override { invia(&MainView::hideSplash); }
    void riduciInTray(bool riduci) override {
        host_.toWindow([f = &form_, s = p_.status(), riduci] {
            f->showWindow(s);
            f->riduciInTray(riduci);
        });
    }
    void settingsReloaded() override {
        inviaSalute();
        invia(&MainView::settingsReloaded);
    }
    void cycleFinished(const CycleReport& rapporto) override {
        inviaSalute();
        host_.toWindow([f = &form_, s = p_.status(), rapporto] {
            f->showWindow(s);
            f->cycleFinished(rapporto);
        });
    }

  private:
    void invia(void (MainView::*evento)()) {
        host_.toWindow([f = &form_, s = p_.status(), evento] {
            f->showWindow(s);
            (f->*evento)();
        });
    }
    void inviaSalute() {
        host_.toWindow([f = &form_, health = p_.mbus().health(), nomi = p_.ReadNames()] {
            f->mostraSalute(health, nomi);
        });
    }

    AcquisitionHost& host_;
    Program& p_;
    MainForm& form_;
};

}  // namespace

DesktopApp::DesktopApp(Platform platform, DesktopShell& shell, ProgramInstance& istanza,
                           std::function<void(int)> quit, WorkerThread* worker,
                           std::function<void()> interrompi)
    : quit_(std::move(quit)),
      shell_(shell),
      dialogs_(platform.dialogs),
      host_(std::make_unique<AcquisitionHost>(worker, platform.dialogs, std::move(interrompi))),
      windows_(std::make_unique<QueuedStartupWindows>(*host_, *this)),
      autostart_(std::make_unique<Autostart>(shell, host_->dialogs(), platform.identity)) {
    // The core's timers belong to its thread: it is made there.
    host_->call([&] {
        program_ = std::make_unique<Program>(ConDialoghi(platform, host_->dialogs()));
        startup_ = std::make_unique<Startup>(*program_, platform.clock, host_->dialogs(),
                                         *windows_, &istanza, autostart_.get());
        percorsoIni_ = program_->IniPath();
    });
    mainForm_ = std::make_unique<MainForm>(*program_, platform.clock, host_.get());
    monitor_ = std::make_unique<MonitorForm>(program_->mbus(), platform.clock, host_.get());
    about_ = std::make_unique<AboutForm>(platform.identity, shell);
    splash_ = std::make_unique<SplashForm>(platform.identity, platform.clock);
    tray_ = std::make_unique<TrayIcona>(platform.identity);
    vista_ = std::make_unique<QueuedView>(*host_, *program_, *mainForm_);
    host_->call([this] { program_->setView(vista_.get()); });
    connectMainForm();
    connectOthers();
}

// The core's thread is joined first; the core then goes from this thread.
DesktopApp::~DesktopApp() {
    host_->stop();
    program_->setView(nullptr);
    program_->mbus().onMonitorChanged(nullptr);
    startup_.reset();
    program_.reset();
}

void DesktopApp::connectMainForm() {
    MainForm* m = mainForm_.get();
    // The editor runs on its own; a failure to start it shows nothing.
    connect(m, &MainForm::modificaIniRichiesta, this,
            [this] { shell_.openInEditor(percorsoIni_); });
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
    connect(m, &MainForm::minimiseRequested, this, [this](bool riduci) { RiduciInTray(riduci); });
    connect(m, &MainForm::splashToHide, this, [this] { splash_->hide(); });
    connect(m, &MainForm::monitorCaptionDue, this,
            [this] { monitor_->setCaption(mainForm_->status().monitorCaption); });
}

void DesktopApp::connectOthers() {
    // Read by the start-up on the core's thread.
    autostart_->onCheckChanged([this] {
        host_->toWindow([this] { mainForm_->setAutostartChecked(autostart_->checked()); });
    });
    connect(splash_.get(), &SplashForm::chiusura, this, [this] { closeSplash(); });
    connect(about_.get(), &AboutForm::chiuso, this, [this] { closeAbout(); });
    connect(tray_.get(), &TrayIcona::apriRichiesto, this, [this] { RiduciInTray(false); });
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
void DesktopApp::RiduciInTray(bool riduci) { tray_->RiduciInTray(mainForm_.get(), riduci); }
bool DesktopApp::monitorVisible() const { return monitor_->isVisible(); }
void DesktopApp::MenuMonitor_Click() { monitor_->MenuMonitor_Click(); }
void DesktopApp::showReloadNotice(bool visibile) {
    mainForm_->showReloadNotice(visibile);
}

// The core's thread is joined first: what ends the program then reads the
// core from this thread.
void DesktopApp::quit(int codice) {
    host_->stop();
    if (quit_) quit_(codice);
}

}  // namespace tarvel
