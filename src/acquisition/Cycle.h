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
#include "acquisition/Groups.h"
#include "acquisition/ParallelPorts.h"
#include "acquisition/SerialLine.h"
#include "export/EsportaXML.h"
#include "platform/Clock.h"
#include "platform/OutputFiles.h"
#include "platform/PortWorkers.h"

namespace tarvel {

class Cycle {
  public:
    // Where the output goes: the files, and the folder of relative names.
    struct Output {
        OutputFiles& files;
        std::string programFolder;
    };

    // `lines`: the request list, which outlives the cycle.
    Cycle(Clock& clock, SerialLine& linea, const std::vector<RequestLine>& lines, CycleObserver& observer,
          Output output, IniReader readIni);
    ~Cycle();
    Cycle(const Cycle&) = delete;
    Cycle& operator=(const Cycle&) = delete;

    void MenuAvvio_Click();
    void MenuFerma_Click();
    void TmrLettura_Timer();
    // Executes line `index` (none: -1) as the button does: it reads only
    // itself.
    void Cmd_Leggi_Click(int index);
    // Switches the lamp off when acquisition is off; the menus follow.
    void AggiornaMenu();
    void AbilitaListe(bool enabled);

    void setInterval(Millis interval);
    // The list was loaded again: its groups are all due, no answer is kept.
    void ListLoaded();
    // With workers, the parts of the list on different ports run at the
    // same time (ParallelPorts); without (nullptr), the lines in turn on
    // the program's line. Between cycles only.
    void setPortWorkers(PortWorkers* workers);
    // Closes the program's port and the workers'.
    void ClosePorts();
    bool acquisizioneAttiva() const { return active_; }
    bool running() const { return running_; }
    bool listsEnabled() const { return listsEnabled_; }
    // The stop test's flag alone, from any thread: the running cycle ends
    // at its next stop test; MenuFerma_Click does the rest on the cycle's
    // own thread.
    void StopCycle() { active_ = false; }
    // From any thread, at the end of the program: the running wait ends at
    // once (with the wake-up of the port and the clock) and the cycle at
    // its next stop test.
    void InterruptWait();
    // A stop that does not wait for the running request: its wait ends at
    // once and the line answers as a failed read; the cycle then ends at its
    // stop test and writes the output.
    void StopNow();

  private:
    void begin();
    std::vector<Risposta> runInTurn(std::vector<bool>& fresh);
    std::vector<Risposta> runInParallel(std::vector<bool>& fresh);
    // Line `index` into `answer`, a new one; alone: as the button runs it.
    void execute(std::size_t index, bool alone, Risposta& answer);
    // Runs line i of the cycle, the pause before it included, and measures
    // it for its port; false when a stop ends the cycle.
    bool runLine(std::size_t i, std::vector<Risposta>& answers);
    void measure(TimePoint from, std::uint64_t bytesBefore);
    std::size_t portOf(const SerialProfile& profile);
    void finish(TimePoint start, std::vector<Risposta> answers, const std::vector<bool>& fresh);
    void keep(std::vector<Risposta> answers, const std::vector<bool>& fresh);
    CycleReport report(const std::vector<Risposta>& answers, const std::vector<bool>& fresh,
                       const OutputSettings& settings, ExportResult exported, TimePoint start);

    Clock& clock_;
    SerialLine& serialLine_;
    const std::vector<RequestLine>& lines_;
    CycleObserver& observer_;
    Output output_;
    IniReader leggiIni_;
    std::atomic<bool> active_ = false;
    Executor executor_;
    std::unique_ptr<Timer> tmrLettura_;
    std::unique_ptr<ParallelPorts> parallel_;
    bool running_ = false;
    bool listsEnabled_ = true;
    long cycles_ = 0;
    GroupSchedule groups_;
    // The last answer of each line, for the lines of a group not due.
    std::vector<std::optional<Risposta>> kept_;
    // A line that sends or waits ran in this cycle: a pause precedes the next.
    bool lineRan_ = false;
    std::vector<PortActivity> ports_;
    std::size_t portInUse_ = 0;  // in ports_: the port of the last line
};

}  // namespace tarvel
