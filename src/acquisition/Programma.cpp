#include "acquisition/Programma.h"

namespace tarvel {

Programma::Programma(Piattaforma piattaforma)
    : p_(piattaforma), mbus_(piattaforma.port, piattaforma.clock) {
    tmrLettura_ = p_.clock.createTimer();
    tmrLettura_->setInterval(stato_.intervallo);
    tmrLettura_->onTimeout([this] { TmrLettura_Timer(); });
}

Programma::~Programma() = default;

void Programma::setView(MainView* view) { view_ = view; }

void Programma::notifica(void (MainView::*evento)()) {
    if (view_) (view_->*evento)();
}

void Programma::setAvvioInCorso(bool inCorso) { stato_.avvioInCorso = inCorso; }

void Programma::ChiudiPorta() { mbus_.ApriPorta(false); }

}  // namespace tarvel
