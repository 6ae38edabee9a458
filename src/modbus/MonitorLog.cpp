#include "modbus/MonitorLog.h"

namespace tarvel {

void MonitorLog::aggiungiRichiesta(std::string line) {
    if (richieste_.size() >= Capacita) pulisci();
    richieste_.push_back(std::move(line));
    ++versione_;
}

void MonitorLog::aggiungiRisposta(std::string line) {
    risposte_.push_back(std::move(line));
    ++versione_;
}

void MonitorLog::pulisci() {
    richieste_.clear();
    risposte_.clear();
    ++versione_;
    ++azzeramento_;
}

void MonitorLog::rimuoviCoppia(std::size_t index) {
    if (index < richieste_.size()) richieste_.erase(richieste_.begin() + static_cast<long>(index));
    if (index < risposte_.size()) risposte_.erase(risposte_.begin() + static_cast<long>(index));
    ++versione_;
    ++azzeramento_;
}

}  // namespace tarvel
