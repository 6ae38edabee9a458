#include "acquisition/Cycle.h"

namespace tarvel {

Cycle::Cycle(Clock& clock, SerialLine& linea, const std::vector<RequestLine>& lines,
             CycleObserver& observer, Output output, IniReader readIni)
    : clock_(clock),
      serialLine_(linea),
      lines_(lines),
      observer_(observer),
      output_(std::move(output)),
      leggiIni_(std::move(readIni)),
      executor_(linea, clock, observer, active_),
      tmrLettura_(clock.createTimer()) {
    tmrLettura_->setInterval(Millis(1000));
    tmrLettura_->onTimeout([this] { TmrLettura_Timer(); });
}

Cycle::~Cycle() = default;

void Cycle::setInterval(Millis interval) { tmrLettura_->setInterval(interval); }

void Cycle::setPortWorkers(PortWorkers* workers) {
    parallel_.reset();
    if (workers)
        parallel_ = std::make_unique<ParallelPorts>(*workers, serialLine_, observer_, leggiIni_,
                                                    active_);
}

void Cycle::ClosePorts() {
    serialLine_.close();
    if (parallel_) parallel_->Close();
}

void Cycle::AggiornaMenu() {
    if (!active_) observer_.lampChanged(Lamp::Off);
    observer_.stateChanged();
}

void Cycle::AbilitaListe(bool enabled) {
    listsEnabled_ = enabled;
    observer_.stateChanged();
}

void Cycle::MenuAvvio_Click() {
    serialLine_.mbus().Resume();
    if (parallel_) parallel_->Resume();
    // Starting while acquisition is on would nest a cycle inside the
    // running one: the command does nothing then.
    if (active_) return;
    observer_.answersCleared();
    observer_.lineSelected(-1);
    active_ = true;
    AggiornaMenu();
    TmrLettura_Timer();
}

void Cycle::MenuFerma_Click() {
    active_ = false;
    tmrLettura_->setEnabled(false);
    AggiornaMenu();
}

void Cycle::InterruptWait() {
    serialLine_.mbus().Interrupt();
    if (parallel_) parallel_->Interrupt();
    StopCycle();
}

void Cycle::StopNow() {
    serialLine_.mbus().Interrupt();
    if (parallel_) parallel_->Interrupt();
    MenuFerma_Click();
}

// A serial profile that cannot be applied stops the acquisition.
Risposta Cycle::execute(std::size_t index, bool alone) {
    Risposta answer =
        alone ? executor_.Run(lines_[index]) : executor_.Run(lines_, index);
    if (answer.kind == LineKind::Serial && serialLine_.refused()) MenuFerma_Click();
    return answer;
}

void Cycle::Cmd_Leggi_Click(int index) {
    // A line run by hand runs on the program's line: the workers let go of
    // their ports.
    if (parallel_) parallel_->Close();
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size())
        executor_.Run(RequestLine{});
    else
        execute(static_cast<std::size_t>(index), true);
}

void Cycle::begin() {
    tmrLettura_->setEnabled(false);
    running_ = true;
    observer_.stateChanged();
    AbilitaListe(false);
    observer_.lampChanged(Lamp::Green);
    observer_.answersCleared();
    executor_.NewCycle();
    serialLine_.mbus().NewCycle();
    observer_.cycleStarted();
}

void Cycle::TmrLettura_Timer() {
    if (running_) return;
    const TimePoint start = clock_.now();
    begin();
    finish(start, parallel_ ? runInParallel() : runInTurn());
}

std::vector<Risposta> Cycle::runInTurn() {
    std::vector<Risposta> answers;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        observer_.lineSelected(static_cast<int>(i));
        if (!active_) break;
        answers.push_back(execute(i, false));
        observer_.answerAdded(AnswerText(answers.back()));
        if (!active_) break;
        if (i + 1 < lines_.size()) clock_.sleep(Millis(serialLine_.profileInUse().pauseMs));
    }
    return answers;
}

// The answers come in list order once every port is done; a profile that
// failed stops the acquisition, as in turn.
std::vector<Risposta> Cycle::runInParallel() {
    ParallelPorts::Result result = parallel_->RunCycle(lines_);
    for (const Risposta& answer : result.answers) observer_.answerAdded(AnswerText(answer));
    if (result.refused) MenuFerma_Click();
    return std::move(result.answers);
}

// The output's settings are read at every output, not at the load: a
// change from the menus or the editor counts from the next output.
void Cycle::finish(TimePoint start, std::vector<Risposta> answers) {
    const OutputSettings settings = ReadOutputSettings(answers, leggiIni_, output_.programFolder);
    ExportContext ctx{output_.files, clock_, output_.programFolder};
    ExportResult exported = EsportaXML(answers, settings, ctx);
    AbilitaListe(true);
    observer_.lineSelected(-1);
    observer_.lampChanged(active_ ? Lamp::Red : Lamp::Off);
    if (active_) tmrLettura_->setEnabled(true);
    running_ = false;
    observer_.stateChanged();
    observer_.cycleEnded(report(answers, std::move(exported), start));
}

CycleReport Cycle::report(const std::vector<Risposta>& answers, ExportResult exported,
                            TimePoint start) {
    CycleReport cycleReport;
    cycleReport.number = ++cycles_;
    cycleReport.linesRun = static_cast<int>(answers.size());
    cycleReport.readings = CycleReadings(answers, leggiIni_);
    for (const Reading& r : cycleReport.readings) {
        cycleReport.failedReads += r.failed() ? 1 : 0;
        cycleReport.noValue += r.withoutValue() ? 1 : 0;
    }
    cycleReport.filesWritten = std::move(exported.written);
    cycleReport.outputErrors = std::move(exported.errors);
    cycleReport.duration = std::chrono::duration_cast<Millis>(clock_.now() - start);
    return cycleReport;
}

}  // namespace tarvel
