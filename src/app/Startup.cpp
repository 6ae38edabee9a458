#include "app/Startup.h"

#include <algorithm>

namespace tarvel {

StartupResult PrepareAcquisition(Program& program, bool wholeSections) {
    program.setAvvioInCorso(true);
    if (!program.CaricaImpostazioni()) return StartupResult::BadSettings;
    const auto& refused = program.refusedSections();
    if (wholeSections && std::any_of(refused.begin(), refused.end(),
                                     [](const auto& section) { return section.stopsRun; }))
        return StartupResult::BadSettings;
    if (!program.ImpostaPortaSeriale(0)) return StartupResult::PortNotSet;
    program.AggiornaMenu();
    return StartupResult::Ready;
}

Startup::Startup(Program& program, Clock& clock, Dialogs& dialogs, StartupWindows& windowSet,
             ProgramInstance* programInstance, Autostart* autostart)
    : program_(program),
      dialogs_(dialogs),
      windows_(windowSet),
      instance_(programInstance),
      autostart_(autostart),
      tmrPrimaVolta_(clock.createTimer()),
      tmrRimuoviMessaggi_(clock.createTimer()) {
    tmrPrimaVolta_->setInterval(FirstStartInterval);
    tmrPrimaVolta_->onTimeout([this] { Tmr_PrimaVolta_Timer(); });
    tmrRimuoviMessaggi_->setInterval(ReloadNoticeDuration);
    tmrRimuoviMessaggi_->onTimeout([this] { Tmr_RimuoviMessaggi_Timer(); });
}

void Startup::Form_Load() {
    if (instance_ && !instance_->acquire()) {
        quit(ExitNormal);
        return;
    }
    DisattivaTimer();
    if (PrepareAcquisition(program_) != StartupResult::Ready) MenuFine_Click();
    if (finished_) return;
    if (autostart_) autostart_->ReadAutostart();
    Tmr_RimuoviMessaggi_Timer();
    windows_.PreparaMonitor();
    windows_.PreparaTray();
    program_.ImpostaLampada("");
    windows_.RiduciInTray(program_.status().startMinimised);
    program_.setAvvioInCorso(false);
    tmrPrimaVolta_->setEnabled(program_.status().automaticAcquisition);
}

void Startup::DisattivaTimer() {
    // The acquisition timer is the core's; it is disabled until a start.
    tmrPrimaVolta_->setEnabled(false);
    tmrRimuoviMessaggi_->setEnabled(false);
}

void Startup::Tmr_PrimaVolta_Timer() {
    tmrPrimaVolta_->setEnabled(false);
    program_.MenuAvvio_Click();
}

void Startup::Tmr_RimuoviMessaggi_Timer() {
    tmrRimuoviMessaggi_->setEnabled(false);
    windows_.showReloadNotice(false);
}

void Startup::ShowReloadNotice() {
    windows_.showReloadNotice(true);
    tmrRimuoviMessaggi_->setEnabled(true);
}

void Startup::MenuRicarica_Click() {
    if (program_.MenuRicarica_Click())
        ShowReloadNotice();
    else
        MenuFine_Click();
}

void Startup::MenuFine_Click() { ConfermaUscita(); }

void Startup::ConfermaUscita() {
    if (program_.status().avvioInCorso) {
        quit(ExitStartupFailed);
        return;
    }
    const Answer answer = dialogs_.messageBox(ProductName, "Uscire dal programma ?",
                                                Icon::Question, Buttons::YesNo, Answer::No, {});
    if (answer != Answer::Yes) return;
    windows_.RimuoviIconaTray();
    program_.ClosePort();
    quit(ExitNormal);
}

void Startup::Form_QueryUnload() {
    if (program_.status().acquisizioneAttiva) {
        if (windows_.monitorVisible()) windows_.MenuMonitor_Click();
        windows_.RiduciInTray(true);
        return;
    }
    ConfermaUscita();
}

void Startup::quit(int code) {
    finished_ = true;
    tmrPrimaVolta_->setEnabled(false);
    tmrRimuoviMessaggi_->setEnabled(false);
    windows_.quit(code);
}

}  // namespace tarvel
