#include "mainwindow/Applicazione.h"

#include <QPushButton>

#include "about/AboutForm.h"
#include "about/SplashForm.h"
#include "mainwindow/MainForm.h"
#include "monitor/MonitorForm.h"
#include "tray/TrayIcona.h"

namespace tarvel {

Applicazione::Applicazione(Piattaforma piattaforma, DesktopShell& shell,
                           IstanzaProgramma& istanza, std::function<void(int)> termina)
    : termina_(std::move(termina)),
      shell_(shell),
      programma_(std::make_unique<Programma>(piattaforma)),
      autoAvvio_(std::make_unique<AvvioAutomatico>(shell, piattaforma.dialogs,
                                                   piattaforma.identity)),
      mainForm_(std::make_unique<MainForm>(*programma_, piattaforma.clock)),
      monitor_(std::make_unique<MonitorForm>(programma_->mbus(), piattaforma.clock)),
      about_(std::make_unique<AboutForm>(piattaforma.identity, shell)),
      splash_(std::make_unique<SplashForm>(piattaforma.identity, piattaforma.clock)),
      tray_(std::make_unique<TrayIcona>(piattaforma.identity)),
      avvio_(std::make_unique<Avvio>(*programma_, piattaforma.clock, piattaforma.dialogs, *this,
                                     &istanza, autoAvvio_.get())) {
    programma_->setView(mainForm_.get());
    collegaMainForm();
    collegaAltri();
}

Applicazione::~Applicazione() {
    programma_->setView(nullptr);
    programma_->mbus().onMonitorChanged(nullptr);
}

void Applicazione::collegaMainForm() {
    MainForm* m = mainForm_.get();
    // The editor runs on its own; a failure to start it shows nothing.
    connect(m, &MainForm::modificaIniRichiesta, this,
            [this] { shell_.openInEditor(programma_->PercorsoIni()); });
    connect(m, &MainForm::ricaricaRichiesta, this, [this] { avvio_->MenuRicarica_Click(); });
    connect(m, &MainForm::fineRichiesta, this, [this] { avvio_->MenuFine_Click(); });
    connect(m, &MainForm::chiusuraRichiesta, this, [this] { avvio_->Form_QueryUnload(); });
    connect(m, &MainForm::monitorRichiesto, this, [this] { MenuMonitor_Click(); });
    connect(m, &MainForm::aboutRichiesto, this, [this] { MenuAbout_Click(); });
    connect(m, &MainForm::avvioAutoRichiesto, this,
            [this] { autoAvvio_->MenuAvvioAuto_Click(programma_->stato().avvioInCorso); });
    connect(m, &MainForm::creaCollegamentoRichiesto, this,
            [this] { autoAvvio_->MenuCreaCollegamento_Click(); });
    connect(m, &MainForm::eliminaCollegamentoRichiesto, this,
            [this] { autoAvvio_->MenuEliminaCollegamento_Click(); });
    connect(m, &MainForm::riduzioneRichiesta, this, [this](bool riduci) { RiduciInTray(riduci); });
    connect(m, &MainForm::splashDaNascondere, this, [this] { splash_->hide(); });
    connect(m, &MainForm::didascaliaMonitorDaAggiornare, this,
            [this] { monitor_->impostaDidascalia(programma_->stato().didascaliaMonitor); });
}

void Applicazione::collegaAltri() {
    autoAvvio_->onSpuntaCambiata(
        [this] { mainForm_->impostaSpuntaAvvioAuto(autoAvvio_->spunta()); });
    connect(splash_.get(), &SplashForm::chiusura, this, [this] { chiudiSplash(); });
    connect(about_.get(), &AboutForm::chiuso, this, [this] { chiudiAbout(); });
    connect(tray_.get(), &TrayIcona::apriRichiesto, this, [this] { RiduciInTray(false); });
    connect(tray_.get(), &TrayIcona::fineRichiesta, this, [this] { avvio_->ConfermaUscita(); });
    connect(tray_.get(), &TrayIcona::notificaRicevuta, this, [this] {
        if (mainForm_->isVisible()) mainForm_->activateWindow();
    });
}

void Applicazione::avvia() { splash_->Form_Load(); }

void Applicazione::chiudiSplash() { avvio_->Form_Load(); }

void Applicazione::MenuAbout_Click() {
    mainForm_->setEnabled(false);
    about_->show();
    about_->raise();
    about_->activateWindow();
    about_->update();
    about_->findChild<QPushButton*>(QStringLiteral("cmdOK"))->setFocus();
}

void Applicazione::chiudiAbout() {
    mainForm_->setEnabled(true);
    mainForm_->activateWindow();
    mainForm_->update();
}

void Applicazione::PreparaMonitor() { monitor_->PreparaMonitor(); }
void Applicazione::PreparaTray() { tray_->PreparaTray(); }
void Applicazione::RimuoviIconaTray() { tray_->RimuoviIconaTray(); }
void Applicazione::RiduciInTray(bool riduci) { tray_->RiduciInTray(mainForm_.get(), riduci); }
bool Applicazione::monitorVisibile() const { return monitor_->isVisible(); }
void Applicazione::MenuMonitor_Click() { monitor_->MenuMonitor_Click(); }
void Applicazione::mostraAvvisoRicarica(bool visibile) {
    mainForm_->mostraAvvisoRicarica(visibile);
}

void Applicazione::termina(int codice) {
    if (termina_) termina_(codice);
}

}  // namespace tarvel
