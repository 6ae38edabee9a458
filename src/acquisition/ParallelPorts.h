#pragma once
// The ports of the request list polled at the same time ("Parameters"
// "Parallel" = 1). Each port's part of the list (SplitByPort) runs on a
// worker of its own, with a master of its own, in list order; a worker
// keeps its port open from cycle to cycle while its profile stays the same.
// The answers come back in list order, as running the lines in turn would
// give them; what the workers' masters logged and counted goes to the
// program's master after the round.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/CycleObserver.h"
#include "acquisition/PortPlan.h"
#include "acquisition/Reading.h"
#include "acquisition/SerialLine.h"
#include "export/EsportaXML.h"
#include "modbus/SerialProfile.h"
#include "platform/PortWorkers.h"

namespace tarvel {

class ParallelPorts {
  public:
    // `line`: the program's own line, whose master takes in the monitor
    // and the health, and which shows a profile's failure; `observer`:
    // learns of the profile in force; `active`: the stop test's flag.
    ParallelPorts(PortWorkers& workers, SerialLine& line, CycleObserver& observer,
                  IniReader readIni, const std::atomic<bool>& active);
    ~ParallelPorts();
    ParallelPorts(const ParallelPorts&) = delete;
    ParallelPorts& operator=(const ParallelPorts&) = delete;

    struct Result {
        std::vector<Risposta> answers;
        bool refused = false;  // a profile failed: the acquisition stops
        std::vector<PortActivity> ports;  // each port's part of the round
    };
    // By line: the answer kept for a line that does not run this cycle.
    using Kept = std::vector<std::optional<Risposta>>;
    // One cycle over `lines`: the answers in list order, up to the first
    // line that a stop left out, or up to a serial line whose profile
    // failed (its message shown), as a cycle in turn would end.
    Result RunCycle(const std::vector<RequestLine>& lines, const Kept& keep);
    // From any thread: every worker's wait ends at once and its master sends
    // nothing more, until Resume.
    void Interrupt();
    void Resume();
    // Closes every worker's port.
    void Close();

    // The monitor's mark of a port's frames when several ports run.
    static std::string MonitorMark(const std::string& com) { return "COM" + com + " "; }

  private:
    struct Worker;
    using Profiles = std::map<std::int16_t, ProfileRead>;
    // What one round's workers write, each at the indices of its own lines.
    struct Round {
        std::vector<std::optional<Risposta>> answers;
        struct Shown {
            std::string caption;
            std::array<std::string, 6> panels;
        };
        std::vector<std::optional<Shown>> shown;  // at the serial lines applied
    };

    Profiles readProfiles(const std::vector<RequestLine>& lines) const;
    void prepare(const std::vector<PortPart>& parts);
    void runPart(Worker& w, const PortPart& part, const std::vector<RequestLine>& lines,
                 const Kept& keep, const Profiles& profiles, Round& round);
    void runLines(Worker& w, const PortPart& part, const std::vector<RequestLine>& lines,
                  const Kept& keep, const Profiles& profiles, Round& round);
    void measure(Worker& w, TimePoint from, std::uint64_t bytesBefore);
    bool applyKept(Worker& w, std::int16_t profile, const Profiles& profiles);
    Result collect(const std::vector<PortPart>& parts, const Profiles& profiles, Round& round);
    void takeMonitor(const std::vector<PortPart>& parts, const Profiles& profiles);

    PortWorkers& workers_;
    SerialLine& line_;
    CycleObserver& observer_;
    IniReader leggiIni_;
    const std::atomic<bool>& active_;
    std::mutex mutex_;  // the list of workers, grown by the cycle, read by Interrupt
    std::vector<std::unique_ptr<Worker>> list_;
};

}  // namespace tarvel
