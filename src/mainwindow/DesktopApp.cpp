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
class FinestreInCoda : public StartupWindows {
  public:
    FinestreInCoda(AcquisitionHost& host, StartupWindows& finestre) : host_(host), f_(finestre) {}
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
    bool monitorVisibile() const override {
        bool visibile = false;
        host_.onWindow([&] { visibile = f_.monitorVisibile(); });
        return visibile;
    }
    void MenuMonitor_Click() override {
        host_.toWindow([this] { f_.MenuMonitor_Click(); });
    }
    void mostraAvvisoRicarica(bool visibile) override {
        host_.toWindow([this, visibile] { f_.mostraAvvisoRicarica(visibile); });
    }
    void termina(int codice) override {
        host_.toWindow([this, codice] { f_.termina(codice); });
    }

  private:
    AcquisitionHost& host_;
    StartupWindows& f_;
};

// The core's notifications, from its thread: the main window is sent a copy
// of the state with each one.
class VistaInCoda : public MainView {
  public:
    VistaInCoda(AcquisitionHost& host, Program& programma, MainForm& form)
        : host_(host), p_(programma), form_(form) {}
    void didascaliaCambiata() override { invia(&MainView::didascaliaCambiata); }
    // A new list brings the names of its reads.
    void chiamateCambiate() override {
        inviaSalute();
        invia(&MainView::chiamateCambiate);
    }
    void risposteCambiate() override { invia(&MainView::risposteCambiate); }
    void selezioneCambiata() override { invia(&MainView::selezioneCambiata); }
    void dettagliCambiati() override { invia(&MainView::dettagliCambiati); }
    void opzioniCambiate() override { invia(&MainView::opzioniCambiate); }
    void lampadaCambiata() override { invia(&MainView::lampadaCambiata); }
    void acquisizioneCambiata() override { invia(&MainView::acquisizioneCambiata); }
    void statusBarCambiata() override { invia(&MainView::statusBarCambiata); }
    void didascaliaMonitorCambiata() override { invia(&MainView::didascaliaMonitorCambiata); }
    void nascondiSplash() override { invia(&MainView::nascondiSplash); }
    void riduciInTray(bool riduci) override {
        host_.toWindow([f = &form_, s = p_.stato(), riduci] {
            f->mostra(s);
            f->riduciInTray(riduci);
        });
    }
    void impostazioniRicaricate() override {
        inviaSalute();
        invia(&MainView::impostazioniRicaricate);
    }
    void cicloTerminato(const CycleReport& rapporto) override {
        inviaSalute();
        host_.toWindow([f = &form_, s = p_.stato(), rapporto] {
            f->mostra(s);
            f->cicloTerminato(rapporto);
        });
    }

  private:
    void invia(void (MainView::*evento)()) {
        host_.toWindow([f = &form_, s = p_.stato(), evento] {
            f->mostra(s);
            (f->*evento)();
        });
    }
    void inviaSalute() {
        host_.toWindow([f = &form_, salute = p_.mbus().salute(), nomi = p_.NomiLetture()] {
            f->mostraSalute(salute, nomi);
        });
    }

    AcquisitionHost& host_;
    Program& p_;
    MainForm& form_;
};

}  // namespace

DesktopApp::DesktopApp(Platform piattaforma, DesktopShell& shell, ProgramInstance& istanza,
                           std::function<void(int)> termina, WorkerThread* worker,
                           std::function<void()> interrompi)
    : termina_(std::move(termina)),
      shell_(shell),
      dialogs_(piattaforma.dialogs),
      host_(std::make_unique<AcquisitionHost>(worker, piattaforma.dialogs, std::move(interrompi))),
      finestre_(std::make_unique<FinestreInCoda>(*host_, *this)),
      autoAvvio_(std::make_unique<Autostart>(shell, host_->dialogs(), piattaforma.identity)) {
    // The core's timers belong to its thread: it is made there.
    host_->call([&] {
        programma_ = std::make_unique<Program>(ConDialoghi(piattaforma, host_->dialogs()));
        avvio_ = std::make_unique<Startup>(*programma_, piattaforma.clock, host_->dialogs(),
                                         *finestre_, &istanza, autoAvvio_.get());
        percorsoIni_ = programma_->PercorsoIni();
    });
    mainForm_ = std::make_unique<MainForm>(*programma_, piattaforma.clock, host_.get());
    monitor_ = std::make_unique<MonitorForm>(programma_->mbus(), piattaforma.clock, host_.get());
    about_ = std::make_unique<AboutForm>(piattaforma.identity, shell);
    splash_ = std::make_unique<SplashForm>(piattaforma.identity, piattaforma.clock);
    tray_ = std::make_unique<TrayIcona>(piattaforma.identity);
    vista_ = std::make_unique<VistaInCoda>(*host_, *programma_, *mainForm_);
    host_->call([this] { programma_->setView(vista_.get()); });
    collegaMainForm();
    collegaAltri();
}

// The core's thread is joined first; the core then goes from this thread.
DesktopApp::~DesktopApp() {
    host_->stop();
    programma_->setView(nullptr);
    programma_->mbus().onMonitorChanged(nullptr);
    avvio_.reset();
    programma_.reset();
}

void DesktopApp::collegaMainForm() {
    MainForm* m = mainForm_.get();
    // The editor runs on its own; a failure to start it shows nothing.
    connect(m, &MainForm::modificaIniRichiesta, this,
            [this] { shell_.openInEditor(percorsoIni_); });
    connect(m, &MainForm::ricaricaRichiesta, this,
            [this] { host_->post([this] { avvio_->MenuRicarica_Click(); }); });
    connect(m, &MainForm::fineRichiesta, this, [this] { ConfermaUscita(); });
    connect(m, &MainForm::chiusuraRichiesta, this, [this] { Form_QueryUnload(); });
    connect(m, &MainForm::monitorRichiesto, this, [this] { MenuMonitor_Click(); });
    connect(m, &MainForm::aboutRichiesto, this, [this] { MenuAbout_Click(); });
    connect(m, &MainForm::avvioAutoRichiesto, this,
            [this] { autoAvvio_->MenuAvvioAuto_Click(mainForm_->stato().avvioInCorso); });
    connect(m, &MainForm::creaCollegamentoRichiesto, this,
            [this] { autoAvvio_->MenuCreaCollegamento_Click(); });
    connect(m, &MainForm::eliminaCollegamentoRichiesto, this,
            [this] { autoAvvio_->MenuEliminaCollegamento_Click(); });
    connect(m, &MainForm::riduzioneRichiesta, this, [this](bool riduci) { RiduciInTray(riduci); });
    connect(m, &MainForm::splashDaNascondere, this, [this] { splash_->hide(); });
    connect(m, &MainForm::didascaliaMonitorDaAggiornare, this,
            [this] { monitor_->impostaDidascalia(mainForm_->stato().didascaliaMonitor); });
}

void DesktopApp::collegaAltri() {
    // Read by the start-up on the core's thread.
    autoAvvio_->onSpuntaCambiata([this] {
        host_->toWindow([this] { mainForm_->impostaSpuntaAvvioAuto(autoAvvio_->spunta()); });
    });
    connect(splash_.get(), &SplashForm::chiusura, this, [this] { chiudiSplash(); });
    connect(about_.get(), &AboutForm::chiuso, this, [this] { chiudiAbout(); });
    connect(tray_.get(), &TrayIcona::apriRichiesto, this, [this] { RiduciInTray(false); });
    connect(tray_.get(), &TrayIcona::fineRichiesta, this, [this] { ConfermaUscita(); });
    connect(tray_.get(), &TrayIcona::notificaRicevuta, this, [this] {
        if (mainForm_->isVisible()) mainForm_->activateWindow();
    });
}

void DesktopApp::avvia() { splash_->Form_Load(); }

void DesktopApp::chiudiSplash() {
    host_->post([this] { avvio_->Form_Load(); });
}

// As Startup::ConfermaUscita, on the window's thread.
void DesktopApp::ConfermaUscita() {
    if (mainForm_->stato().avvioInCorso) {
        host_->post([this] { avvio_->ConfermaUscita(); });
        return;
    }
    const Answer risposta = dialogs_.messageBox(NomeProdotto, "Uscire dal programma ?",
                                                Icon::Question, Buttons::YesNo, Answer::No, {});
    if (risposta != Answer::Yes) return;
    RimuoviIconaTray();
    host_->stop();
    host_->call([this] { programma_->ChiudiPorta(); });
    termina(UscitaNormale);
}

// As Startup::Form_QueryUnload, on the window's thread.
void DesktopApp::Form_QueryUnload() {
    if (mainForm_->stato().acquisizioneAttiva) {
        if (monitorVisibile()) MenuMonitor_Click();
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

void DesktopApp::chiudiAbout() {
    mainForm_->setEnabled(true);
    mainForm_->activateWindow();
    mainForm_->update();
}

void DesktopApp::PreparaMonitor() { monitor_->PreparaMonitor(); }
void DesktopApp::PreparaTray() { tray_->PreparaTray(); }
void DesktopApp::RimuoviIconaTray() { tray_->RimuoviIconaTray(); }
void DesktopApp::RiduciInTray(bool riduci) { tray_->RiduciInTray(mainForm_.get(), riduci); }
bool DesktopApp::monitorVisibile() const { return monitor_->isVisible(); }
void DesktopApp::MenuMonitor_Click() { monitor_->MenuMonitor_Click(); }
void DesktopApp::mostraAvvisoRicarica(bool visibile) {
    mainForm_->mostraAvvisoRicarica(visibile);
}

// The core's thread is joined first: what ends the program then reads the
// core from this thread.
void DesktopApp::termina(int codice) {
    host_->stop();
    if (termina_) termina_(codice);
}

}  // namespace tarvel
