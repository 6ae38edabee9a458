#include "acquisition/Cycle.h"

#include <algorithm>

#include "modbus/LineSettingsText.h"

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

void Cycle::ListLoaded() {
    groups_.load(lines_);
    kept_.assign(lines_.size(), std::nullopt);
}

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
    // The first cycle of an acquisition reads every group.
    ListLoaded();
    AggiornaMenu();
    TmrLettura_Timer();
}

void Cycle::MenuFerma_Click() {
    active_ = false;
    tmrLettura_->setEnabled(false);
    AggiornaMenu();
}

// The stop comes first, the waits end after it: a port's worker whose
// wait ends must find the cycle stopped, or it would go on to its next line.
void Cycle::InterruptWait() {
    StopCycle();
    serialLine_.mbus().Interrupt();
    if (parallel_) parallel_->Interrupt();
}

void Cycle::StopNow() {
    MenuFerma_Click();
    serialLine_.mbus().Interrupt();
    if (parallel_) parallel_->Interrupt();
}

// A serial profile that cannot be applied stops the acquisition.
[[gnu::hot]] void Cycle::execute(std::size_t index, bool alone, Risposta& answer) {
    if (alone)
        answer = executor_.Run(lines_[index]);
    else
        executor_.Run(lines_, index, answer);
    if (answer.kind == LineKind::Serial && serialLine_.refused()) MenuFerma_Click();
}

void Cycle::Cmd_Leggi_Click(int index) {
    // A line run by hand runs on the program's line: the workers let go of
    // their ports.
    if (parallel_) parallel_->Close();
    Risposta answer;
    if (index < 0 || static_cast<std::size_t>(index) >= lines_.size())
        executor_.Run(RequestLine{});
    else
        execute(static_cast<std::size_t>(index), true, answer);
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
    if (kept_.size() != lines_.size()) ListLoaded();
    groups_.startCycle(start);
    lineRan_ = false;
    ports_.clear();
    portInUse_ = 0;
    std::vector<bool> fresh;
    std::vector<Risposta> answers = parallel_ ? runInParallel(fresh) : runInTurn(fresh);
    finish(start, std::move(answers), fresh);
}

// The lines one after another on the program's line. `fresh`: whether each
// answer is of this cycle, or kept from a group that was not due.
[[gnu::hot]] std::vector<Risposta> Cycle::runInTurn(std::vector<bool>& fresh) {
    std::vector<Risposta> answers;
    answers.reserve(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!groups_.due(i) && kept_[i]) {
            // A group that is not due sends nothing; the answer list and the
            // output keep its last values.
            answers.push_back(*kept_[i]);
            fresh.push_back(false);
            observer_.answerAdded(answers.back());
            continue;
        }
        const std::size_t before = answers.size();
        const bool goOn = runLine(i, answers);
        if (answers.size() > before) fresh.push_back(true);
        if (!goOn) break;
    }
    return answers;
}

// False when the acquisition was stopped: the cycle ends here.
[[gnu::hot]] bool Cycle::runLine(std::size_t i, std::vector<Risposta>& answers) {
    const TimePoint from = clock_.now();
    const std::uint64_t bytes = serialLine_.mbus().counters().bytesOnLine;
    // An EVERY line only marks: no pause before it.
    const bool marks = lines_[i].kind == LineKind::Every;
    if (lineRan_ && !marks) clock_.sleep(Millis(serialLine_.profileInUse().pauseMs));
    observer_.lineSelected(static_cast<int>(i));
    if (!active_) return false;
    execute(i, false, answers.emplace_back());
    observer_.answerAdded(answers.back());
    groups_.read(i);
    lineRan_ = lineRan_ || !marks;
    measure(from, bytes);
    return active_;
}

[[gnu::hot]] void Cycle::measure(TimePoint from, std::uint64_t bytesBefore) {
    const SerialProfile& profile = serialLine_.profileInUse();
    if (portInUse_ >= ports_.size() || ports_[portInUse_].com != profile.com)
        portInUse_ = portOf(profile);
    PortActivity& part = ports_[portInUse_];
    part.time += std::chrono::duration_cast<std::chrono::microseconds>(clock_.now() - from);
    part.bytes += serialLine_.mbus().counters().bytesOnLine - bytesBefore;
}

// The index of the profile's port among those of the cycle: a port seen
// for the first time joins them.
std::size_t Cycle::portOf(const SerialProfile& profile) {
    const auto part = std::find_if(ports_.begin(), ports_.end(),
                                   [&](const PortActivity& p) { return p.com == profile.com; });
    if (part != ports_.end()) return static_cast<std::size_t>(part - ports_.begin());
    PortActivity fresh;
    fresh.com = profile.com;
    fresh.network = !serialLine_.mbus().NetworkText().empty();
    if (const auto settings = ParseLineSettings(profile.settings)) {
        fresh.bitsPerByte = BitsPerByte(*settings);
        fresh.baud = settings->baud;
    }
    ports_.push_back(std::move(fresh));
    return ports_.size() - 1;
}

// The answers come in list order once every port is done; a group that is
// not due runs on no port and keeps its answers; a profile that failed
// stops the acquisition, as in turn.
std::vector<Risposta> Cycle::runInParallel(std::vector<bool>& fresh) {
    std::vector<std::optional<Risposta>> keep(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (!groups_.due(i) && kept_[i]) keep[i] = kept_[i];
    ParallelPorts::Result result = parallel_->RunCycle(lines_, keep);
    for (std::size_t i = 0; i < result.answers.size(); ++i) {
        fresh.push_back(!keep[i]);
        if (!keep[i]) groups_.read(i);
        observer_.answerAdded(result.answers[i]);
    }
    ports_ = std::move(result.ports);
    if (result.refused) MenuFerma_Click();
    return std::move(result.answers);
}

// The output's settings are read at every output, not at the load: a
// change from the menus or the editor counts from the next output.
void Cycle::finish(TimePoint start, std::vector<Risposta> answers, const std::vector<bool>& fresh) {
    const OutputSettings settings = ReadOutputSettings(answers, leggiIni_, output_.programFolder);
    ExportContext ctx{output_.files, clock_, output_.programFolder};
    ExportResult exported = EsportaXML(answers, settings, ctx);
    const CycleReport cycleReport = report(answers, fresh, settings, std::move(exported), start);
    keep(std::move(answers), fresh);
    AbilitaListe(true);
    observer_.lineSelected(-1);
    observer_.lampChanged(active_ ? Lamp::Red : Lamp::Off);
    if (active_) tmrLettura_->setEnabled(true);
    running_ = false;
    observer_.stateChanged();
    observer_.cycleEnded(cycleReport);
}

// Each line's answer of this cycle is kept for the cycles in which its
// group is not due; a line of no group is due in every cycle.
void Cycle::keep(std::vector<Risposta> answers, const std::vector<bool>& fresh) {
    for (std::size_t i = 0; i < answers.size() && i < kept_.size(); ++i)
        if (fresh[i] && groups_.grouped(i)) kept_[i] = std::move(answers[i]);
}

// The readings and counts of the lines that ran in this cycle; the kept
// answers of groups that were not due are left out.
CycleReport Cycle::report(const std::vector<Risposta>& answers, const std::vector<bool>& fresh,
                          const OutputSettings& settings, ExportResult exported,
                          TimePoint start) {
    CycleReport cycleReport;
    cycleReport.number = ++cycles_;
    cycleReport.linesRun = static_cast<int>(std::count(fresh.begin(), fresh.end(), true));
    // Answer k is that of line k.
    cycleReport.readings = CycleReadings(answers, settings);
    std::erase_if(cycleReport.readings,
                  [&](const Reading& r) { return r.line >= fresh.size() || !fresh[r.line]; });
    for (const Reading& r : cycleReport.readings) {
        cycleReport.failedReads += r.failed() ? 1 : 0;
        cycleReport.noValue += r.withoutValue() ? 1 : 0;
    }
    cycleReport.filesWritten = std::move(exported.written);
    cycleReport.outputErrors = std::move(exported.errors);
    cycleReport.duration = std::chrono::duration_cast<Millis>(clock_.now() - start);
    cycleReport.ports = ports_;
    return cycleReport;
}

}  // namespace tarvel
