#pragma once
// Timed acquisition: start, stop, and one cycle over the request list,
// with its own timer between cycles.

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/Esecuzione.h"
#include "acquisition/Lampada.h"
#include "export/EsportaXML.h"
#include "platform/Clock.h"

namespace tarvel {

// One finished acquisition cycle.
struct RapportoCiclo {
    long numero = 0;
    int righeEseguite = 0;
    int lettureFallite = 0;  // reads the devices did not give
    int senzaValore = 0;     // reads answered with "no value"
    // The readings of the lines that ran, in their order.
    std::vector<Reading> letture;
    std::vector<std::string> fileScritti;
    std::vector<std::string> erroriUscita;
    Millis durata{0};
};

class Ciclo {
  public:
    // The steps of a cycle that belong to the program around it.
    class Passi {
      public:
        virtual ~Passi() = default;
        virtual int numeroRighe() const = 0;
        // The pause after a line: the one of the profile in force.
        virtual Millis pausaTraRighe() const = 0;
        virtual void inizioCiclo() = 0;
        // Selects line i and shows its fields.
        virtual void selezionaRiga(int indice) = 0;
        // Executes the selected line.
        virtual Risposta eseguiRiga() = 0;
        virtual void svuotaRisposte() = 0;
        virtual void aggiungiRisposta(const std::string& risposta) = 0;
        virtual EsitoEsportazione esporta(const std::vector<Risposta>& risposte) = 0;
        virtual void abilitaListe(bool abilita) = 0;
        virtual void azzeraDettagli() = 0;
        virtual void impostaLampada(Lampada lampada) = 0;
        // Acquisition was switched on or off, or a cycle began or ended.
        virtual void statoCambiato() = 0;
        virtual void cicloTerminato(const RapportoCiclo& rapporto) = 0;
    };

    Ciclo(Clock& clock, Passi& passi, LettoreIni leggiIni);
    ~Ciclo();
    Ciclo(const Ciclo&) = delete;
    Ciclo& operator=(const Ciclo&) = delete;

    void MenuAvvio_Click();
    void MenuFerma_Click();
    void TmrLettura_Timer();
    // Switches the lamp off when acquisition is off; the menus follow.
    void AggiornaMenu();

    void impostaIntervallo(Millis intervallo);
    bool acquisizioneAttiva() const { return attiva_; }
    // The stop test's flag alone, from any thread: the running cycle ends
    // at its next stop test; MenuFerma_Click does the rest on the cycle's
    // own thread.
    void FermaCiclo() { attiva_ = false; }
    bool inCorso() const { return inCorso_; }

  private:
    void finisci(TimePoint inizio, std::vector<Risposta> risposte);

    Clock& clock_;
    Passi& passi_;
    LettoreIni leggiIni_;
    std::unique_ptr<Timer> tmrLettura_;
    std::atomic<bool> attiva_ = false;
    bool inCorso_ = false;
    long cicli_ = 0;
};

}  // namespace tarvel
