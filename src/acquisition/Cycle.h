#pragma once
// Timed acquisition: start, stop, and one cycle over the request list,
// with its own timer between cycles. The cycle selects each line, executes
// it, collects its answer, pauses, and writes the output; what the window
// shows goes out to its observer, ending with the cycle's report.

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/CycleObserver.h"
#include "acquisition/Executor.h"
#include "acquisition/SerialLine.h"
#include "export/EsportaXML.h"
#include "platform/Clock.h"
#include "platform/OutputFiles.h"

namespace tarvel {

class Cycle {
  public:
    // Where the output goes: the files, and the folder of relative names.
    struct Output {
        OutputFiles& files;
        std::string programFolder;
    };

    // `righe`: the request list, which outlives the cycle.
    Cycle(Clock& clock, SerialLine& linea, const std::vector<RequestLine>& righe, CycleObserver& observer,
          Output output, IniReader leggiIni);
    ~Cycle();
    Cycle(const Cycle&) = delete;
    Cycle& operator=(const Cycle&) = delete;

    void MenuAvvio_Click();
    void MenuFerma_Click();
    void TmrLettura_Timer();
    // Executes line `indice` (none: -1) as the button does: it reads only
    // itself.
    void Cmd_Leggi_Click(int indice);
    // Switches the lamp off when acquisition is off; the menus follow.
    void AggiornaMenu();
    void AbilitaListe(bool abilita);

    void impostaIntervallo(Millis intervallo);
    bool acquisizioneAttiva() const { return attiva_; }
    bool inCorso() const { return inCorso_; }
    bool listsEnabled() const { return listeAbilitate_; }
    // The stop test's flag alone, from any thread: the running cycle ends
    // at its next stop test; MenuFerma_Click does the rest on the cycle's
    // own thread.
    void FermaCiclo() { attiva_ = false; }
    // From any thread, at the end of the program: the running wait ends at
    // once (with the wake-up of the port and the clock) and the cycle at
    // its next stop test.
    void InterrompiAttesa();
    // A stop that does not wait for the running request: its wait ends at
    // once and the line answers as a failed read; the cycle then ends at its
    // stop test and writes the output.
    void FermaSubito();

  private:
    void begin();
    Risposta execute(std::size_t indice, bool alone);
    void finish(TimePoint inizio, std::vector<Risposta> risposte);
    CycleReport report(const std::vector<Risposta>& risposte, ExportResult uscita,
                         TimePoint inizio);

    Clock& clock_;
    SerialLine& linea_;
    const std::vector<RequestLine>& righe_;
    CycleObserver& observer_;
    Output output_;
    IniReader leggiIni_;
    std::atomic<bool> attiva_ = false;
    Executor esecuzione_;
    std::unique_ptr<Timer> tmrLettura_;
    bool inCorso_ = false;
    bool listeAbilitate_ = true;
    long cicli_ = 0;
};

}  // namespace tarvel
