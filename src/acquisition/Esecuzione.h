#pragma once
// Executing one request line into its answer line.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "acquisition/Chiamata.h"
#include "acquisition/Lampada.h"
#include "modbus/MBus.h"
#include "platform/Clock.h"

namespace tarvel {

struct Risposta {
    std::string testo;  // the answer line
    bool letturaFallita = false;  // a read that gave no value
};

class Esecuzione {
  public:
    // What a line asks of the program around it.
    class Contesto {
      public:
        virtual ~Contesto() = default;
        // Applies a serial profile (nothing: a number out of range) and
        // tells the user when it cannot; true when applied.
        virtual bool applicaProfilo(std::optional<std::int16_t> profilo) = 0;
        virtual void MenuFerma_Click() = 0;
        virtual bool acquisizioneAttiva() const = 0;
        // Failed reads of one node in a row after which the node's other
        // lines of the cycle are skipped; 0: never.
        virtual int saltaDopo() const = 0;
        virtual void ImpostaLampada(Lampada lampada) = 0;
        // The detail fields and the answer field show what runs.
        virtual void mostraCampi(const Chiamata& campi) = 0;
        virtual void mostraRisultato(const std::string& risultato) = 0;
    };

    Esecuzione(MBus& mbus, Clock& clock, Contesto& contesto);

    Risposta Esegui(const Riga& riga);
    // A new cycle: skipped nodes are tried again.
    void NuovoCiclo() { falliteDiFila_.fill(0); }

  private:
    Risposta eseguiLettura(const Riga& riga);
    std::string eseguiAttesa(const Riga& riga);
    void mostraRisultato(const std::string& risultato);

    MBus& mbus_;
    Clock& clock_;
    Contesto& contesto_;
    // Failed reads in a row, by node, within the cycle.
    std::array<int, 256> falliteDiFila_{};
};

}  // namespace tarvel
