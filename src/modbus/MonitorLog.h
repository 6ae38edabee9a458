#pragma once
// The serial monitor's two lists: line k of the answers belongs to line k of
// the requests. They are emptied together when the requests reach their
// capacity.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvel {

class MonitorLog {
  public:
    static constexpr std::size_t Capacita = 10000;

    const std::vector<std::string>& richieste() const { return richieste_; }
    const std::vector<std::string>& risposte() const { return risposte_; }

    // Empties both lists first when the requests hold Capacita lines.
    void aggiungiRichiesta(std::string line);
    void aggiungiRisposta(std::string line);
    void pulisci();
    // Removes line index of both lists (where the list has it).
    void rimuoviCoppia(std::size_t index);

    // Grows with every change; a view compares it to know what to redraw.
    std::uint64_t versione() const { return versione_; }
    // Grows when the lists were emptied or lines removed, not appended.
    std::uint64_t versioneAzzeramento() const { return azzeramento_; }

  private:
    std::vector<std::string> richieste_;
    std::vector<std::string> risposte_;
    std::uint64_t versione_ = 0;
    std::uint64_t azzeramento_ = 0;
};

}  // namespace tarvel
