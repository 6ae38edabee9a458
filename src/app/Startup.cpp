#include "app/Startup.h"

namespace tarvel {

StartupResult PreparaAcquisizione(Program& programma, bool sezioniIntere) {
    programma.setAvvioInCorso(true);
    if (!programma.CaricaImpostazioni()) return StartupResult::BadSettings;
    if (sezioniIntere && !programma.sezioniRifiutate().empty())
        return StartupResult::BadSettings;
    if (!programma.ImpostaPortaSeriale(0)) return StartupResult::PortNotSet;
    programma.AggiornaMenu();
    return StartupResult::Ready;
}

Startup::Startup(Program& programma, Clock& clock, Dialogs& dialogs, StartupWindows& finestre,
             ProgramInstance* istanza, Autostart* autoAvvio)
    : programma_(programma),
      dialogs_(dialogs),
      finestre_(finestre),
      istanza_(istanza),
      autoAvvio_(autoAvvio),
      tmrPrimaVolta_(clock.createTimer()),
      tmrRimuoviMessaggi_(clock.createTimer()) {
    tmrPrimaVolta_->setInterval(IntervalloPrimaVolta);
    tmrPrimaVolta_->onTimeout([this] { Tmr_PrimaVolta_Timer(); });
    tmrRimuoviMessaggi_->setInterval(DurataAvvisoRicarica);
    tmrRimuoviMessaggi_->onTimeout([this] { Tmr_RimuoviMessaggi_Timer(); });
}

void Startup::Form_Load() {
    if (istanza_ && !istanza_->acquisisci()) {
        termina(UscitaNormale);
        return;
    }
    DisattivaTimer();
    if (PreparaAcquisizione(programma_) != StartupResult::Ready) MenuFine_Click();
    if (terminato_) return;
    if (autoAvvio_) autoAvvio_->LeggiAvvioAutomatico();
    Tmr_RimuoviMessaggi_Timer();
    finestre_.PreparaMonitor();
    finestre_.PreparaTray();
    programma_.ImpostaLampada("");
    finestre_.RiduciInTray(programma_.stato().minimizzaPartenza);
    programma_.setAvvioInCorso(false);
    tmrPrimaVolta_->setEnabled(programma_.stato().acquisisciAuto);
}

void Startup::DisattivaTimer() {
    // The acquisition timer is the core's; it is disabled until a start.
    tmrPrimaVolta_->setEnabled(false);
    tmrRimuoviMessaggi_->setEnabled(false);
}

void Startup::Tmr_PrimaVolta_Timer() {
    tmrPrimaVolta_->setEnabled(false);
    programma_.MenuAvvio_Click();
}

void Startup::Tmr_RimuoviMessaggi_Timer() {
    tmrRimuoviMessaggi_->setEnabled(false);
    finestre_.mostraAvvisoRicarica(false);
}

void Startup::MostraAvvisoRicarica() {
    finestre_.mostraAvvisoRicarica(true);
    tmrRimuoviMessaggi_->setEnabled(true);
}

void Startup::MenuRicarica_Click() {
    if (programma_.MenuRicarica_Click())
        MostraAvvisoRicarica();
    else
        MenuFine_Click();
}

void Startup::MenuFine_Click() { ConfermaUscita(); }

void Startup::ConfermaUscita() {
    if (programma_.stato().avvioInCorso) {
        termina(UscitaAvvioFallito);
        return;
    }
    const Answer risposta = dialogs_.messageBox(NomeProdotto, "Uscire dal programma ?",
                                                Icon::Question, Buttons::YesNo, Answer::No, {});
    if (risposta != Answer::Yes) return;
    finestre_.RimuoviIconaTray();
    programma_.ChiudiPorta();
    termina(UscitaNormale);
}

void Startup::Form_QueryUnload() {
    if (programma_.stato().acquisizioneAttiva) {
        if (finestre_.monitorVisibile()) finestre_.MenuMonitor_Click();
        finestre_.RiduciInTray(true);
        return;
    }
    ConfermaUscita();
}

void Startup::termina(int codice) {
    terminato_ = true;
    tmrPrimaVolta_->setEnabled(false);
    tmrRimuoviMessaggi_->setEnabled(false);
    finestre_.termina(codice);
}

}  // namespace tarvel
