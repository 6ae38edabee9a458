#include "acquisition/ParallelPorts.h"

#include <algorithm>
#include <charconv>

#include "acquisition/Executor.h"
#include "modbus/LineSettingsText.h"

namespace tarvel {
namespace {

// A worker's line tells nothing itself: the program's line shows its
// failure after the round.
class NoDialogs : public Dialogs {
  public:
    Answer messageBox(const std::string&, const std::string&, Icon, Buttons, Answer defaultButton,
                      const std::string&) override {
        return defaultButton;
    }
    std::string inputBox(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
};

// What a worker's line would show of the profile it applied.
class ShownProfile : public CycleObserver {
  public:
    void lineShown(const std::string& monitorCaption,
                   const std::array<std::string, 6>& statusPanels) override {
        caption = monitorCaption;
        panels = statusPanels;
    }
    std::string caption;
    std::array<std::string, 6> panels{};
};

// A worker's line is handed its profiles read already.
std::string NoSettings(const std::string&, const std::string&, const std::string& fallback) {
    return fallback;
}

}  // namespace

struct ParallelPorts::Worker {
    Worker(SerialPort& own, Clock& time, const std::atomic<bool>& active)
        : mbus(own, time),
          line(mbus, time, dialogs, NoSettings, shown),
          executor(line, time, quiet, active),
          clock(time) {}

    NoDialogs dialogs;
    ShownProfile shown;
    CycleObserver quiet;
    MBus mbus;
    SerialLine line;
    Executor executor;
    Clock& clock;
    std::string port;                      // the port of its part
    std::optional<std::int16_t> kept;      // the profile applied, its port open
    std::optional<std::size_t> refusedAt;  // this round: the line of a failed profile
    PortActivity activity;                 // this round: its time and bytes
};

ParallelPorts::ParallelPorts(PortWorkers& workers, SerialLine& line, CycleObserver& observer,
                             IniReader readIni, const std::atomic<bool>& active)
    : workers_(workers),
      line_(line),
      observer_(observer),
      leggiIni_(std::move(readIni)),
      active_(active) {}

ParallelPorts::~ParallelPorts() { Close(); }

void ParallelPorts::Interrupt() {
    std::lock_guard lock(mutex_);
    for (auto& w : list_) w->mbus.Interrupt();
    workers_.interrupt();
}

void ParallelPorts::Resume() {
    std::lock_guard lock(mutex_);
    for (auto& w : list_) w->mbus.Resume();
    workers_.resume();
}

void ParallelPorts::Close() {
    std::lock_guard lock(mutex_);
    for (auto& w : list_) {
        w->line.close();
        w->kept.reset();
    }
}

// Profile 0 and each profile a serial line names, read now: a change of
// the settings counts from the next cycle.
ParallelPorts::Profiles ParallelPorts::readProfiles(const std::vector<RequestLine>& lines) const {
    Profiles profiles;
    const auto add = [&](std::int16_t n) {
        if (profiles.contains(n)) return;
        const std::string section = "Serial_" + std::to_string(n);
        profiles.emplace(n, ReadProfile([&](const char* key, const char* fallback) {
                             return leggiIni_(section, key, fallback);
                         }));
    };
    add(0);
    for (const RequestLine& line : lines)
        if (line.kind == LineKind::Serial && line.profile) add(*line.profile);
    return profiles;
}

// A worker for each part; a worker whose port changed closes it first,
// before any worker opens one.
void ParallelPorts::prepare(const std::vector<PortPart>& parts) {
    {
        std::lock_guard lock(mutex_);
        workers_.reserve(parts.size());
        while (list_.size() < parts.size())
            list_.push_back(
                std::make_unique<Worker>(workers_.port(list_.size()), workers_.clock(), active_));
    }
    const MBus& main = line_.mbus();
    for (std::size_t i = 0; i < list_.size(); ++i) {
        Worker& w = *list_[i];
        const std::string port = i < parts.size() ? parts[i].port : std::string();
        if (port.empty() || port != w.port) {
            w.line.close();
            w.kept.reset();
        }
        w.port = port;
        w.refusedAt.reset();
        w.mbus.ImpostaMonitorAttivo(main.monitorAttivo());
        w.mbus.ImpostaNotazione(static_cast<std::int16_t>(main.notation()));
    }
}

// The profile applied as a serial line does, unless it is the one the
// worker keeps open.
bool ParallelPorts::applyKept(Worker& w, std::int16_t profile, const Profiles& profiles) {
    const ProfileRead& reading = profiles.at(profile);
    if (reading.profile && w.kept == profile && w.line.profileInUse() == *reading.profile)
        return true;
    const bool ok = w.line.apply(profile, reading);
    w.kept = ok ? std::optional(profile) : std::nullopt;
    return ok;
}

// A part in list order, as the cycle runs the list: the pause of the
// profile in force between two lines, the stop test before and after each.
// What a worker's part of the round took: from its start to its end on
// its clock, the bytes its master counted either way.
void ParallelPorts::measure(Worker& w, TimePoint from, std::uint64_t bytesBefore) {
    const SerialProfile& profile = w.line.profileInUse();
    w.activity = PortActivity{};
    w.activity.com = profile.com;
    w.activity.network = !w.mbus.NetworkText().empty();
    if (const auto settings = ParseLineSettings(profile.settings)) {
        w.activity.bitsPerByte = BitsPerByte(*settings);
        w.activity.baud = settings->baud;
    }
    w.activity.time = std::chrono::duration_cast<std::chrono::microseconds>(w.clock.now() - from);
    w.activity.bytes = w.mbus.counters().bytesOnLine - bytesBefore;
}

void ParallelPorts::runPart(Worker& w, const PortPart& part, const std::vector<RequestLine>& lines,
                            const Kept& keep, const Profiles& profiles, Round& round) {
    const TimePoint from = w.clock.now();
    const std::uint64_t bytes = w.mbus.counters().bytesOnLine;
    runLines(w, part, lines, keep, profiles, round);
    measure(w, from, bytes);
}

void ParallelPorts::runLines(Worker& w, const PortPart& part, const std::vector<RequestLine>& lines,
                             const Kept& keep, const Profiles& profiles, Round& round) {
    w.mbus.NewCycle();
    w.executor.NewCycle();
    if (!active_) return;
    const Stretch& lead = part.stretches.front();
    if (!lead.serialLine && !applyKept(w, 0, profiles)) {
        w.refusedAt = lead.lines.front();
        return;
    }
    bool first = true;
    for (const std::size_t i : part.allLines()) {
        // A group that is not due sends nothing and keeps its answer.
        if (keep[i]) {
            round.answers[i] = keep[i];
            continue;
        }
        const RequestLine& line = lines[i];
        // An EVERY line only marks: no pause before it.
        const bool marks = line.kind == LineKind::Every;
        if (!first && !marks) w.clock.sleep(Millis(w.line.profileInUse().pauseMs));
        first = first && marks;
        if (!active_) return;
        if (line.kind != LineKind::Serial) {
            round.answers[i] = w.executor.Run(lines, i);
        } else {
            const bool ok = line.profile ? applyKept(w, *line.profile, profiles)
                                         : w.line.applyLine(std::nullopt, line.text);
            round.answers[i] =
                Risposta{LineKind::Serial, "Serial_" + (ok ? line.fields.Codice : "_0"), {}};
            if (!ok) {
                w.refusedAt = i;
                return;
            }
            round.shown[i] = Round::Shown{w.shown.caption, w.shown.panels};
        }
        if (!active_) return;
    }
}

ParallelPorts::Result ParallelPorts::RunCycle(const std::vector<RequestLine>& lines,
                                             const Kept& keep) {
    // The ports are the workers' now.
    line_.close();
    const Profiles profiles = readProfiles(lines);
    const auto portOf = [&](std::int16_t n) -> std::optional<std::string> {
        const ProfileRead& reading = profiles.at(n);
        int com = 0;
        if (!reading.profile) return std::nullopt;
        const std::string& text = reading.profile->com;
        if (std::from_chars(text.data(), text.data() + text.size(), com).ec != std::errc{} ||
            com < 1)
            return std::nullopt;
        return workers_.deviceOf(com);
    };
    const std::vector<PortPart> parts = SplitByPort(lines, portOf);
    prepare(parts);
    Round round{std::vector<std::optional<Risposta>>(lines.size()),
                std::vector<std::optional<Round::Shown>>(lines.size())};
    std::vector<std::function<void()>> jobs;
    for (std::size_t i = 0; i < parts.size(); ++i)
        jobs.emplace_back([&, i] { runPart(*list_[i], parts[i], lines, keep, profiles, round); });
    workers_.runAll(jobs);
    return collect(parts, profiles, round);
}

// The answers in list order up to the first gap or the failed profile;
// the monitor, the health and the profile in force go to the program's line.
ParallelPorts::Result ParallelPorts::collect(const std::vector<PortPart>& parts,
                                             const Profiles& profiles, Round& round) {
    Result result;
    const Worker* refused = nullptr;
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (list_[i]->refusedAt && (!refused || *list_[i]->refusedAt < *refused->refusedAt))
            refused = list_[i].get();
    const std::size_t end = refused ? *refused->refusedAt + 1 : round.answers.size();
    std::optional<std::size_t> lastShown;
    for (std::size_t i = 0; i < end && round.answers[i]; ++i) {
        result.answers.push_back(std::move(*round.answers[i]));
        if (round.shown[i]) lastShown = i;
    }
    takeMonitor(parts, profiles);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        line_.mbus().takeHealth(list_[i]->mbus);
        result.ports.push_back(list_[i]->activity);
    }
    if (lastShown)
        observer_.lineShown(round.shown[*lastShown]->caption, round.shown[*lastShown]->panels);
    // A failure the list reached: the lines before it all ran.
    if (refused && result.answers.size() >= *refused->refusedAt) {
        line_.reportRefusal(refused->line.section(), refused->line.error());
        result.refused = true;
    }
    return result;
}

// Each worker's frames in the program's monitor, a port after the other,
// each frame marked with its port's COM number when several ports run.
void ParallelPorts::takeMonitor(const std::vector<PortPart>& parts, const Profiles& profiles) {
    MBus& main = line_.mbus();
    if (!main.monitorAttivo()) return;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string mark;
        for (const Stretch& s : parts[i].stretches) {
            const ProfileRead& reading = profiles.at(s.profile.value_or(0));
            if (parts.size() > 1 && s.profile && reading.profile) {
                mark = MonitorMark(reading.profile->com);
                break;
            }
        }
        MonitorLog& log = list_[i]->mbus.monitor();
        const auto marked = [&](const std::vector<std::string>& l, std::size_t k) {
            return k < l.size() && !l[k].empty() ? mark + l[k] : std::string();
        };
        for (std::size_t k = 0; k < std::max(log.requests().size(), log.answers().size()); ++k)
            main.addMonitorPair(marked(log.requests(), k), marked(log.answers(), k));
        log.wipe();
    }
}

}  // namespace tarvel
