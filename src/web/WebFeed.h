#pragma once
// The hand-over between the cycle and the web server: at the end of each
// cycle the cycle's thread makes a new snapshot and swaps it in; the
// server's threads take the one in force, or wait for the next one. A
// snapshot never changes once made.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/CycleObserver.h"
#include "modbus/Health.h"
#include "modbus/MonitorLog.h"
#include "web/Snapshot.h"

namespace tarvel {

// What the program knows at the end of a cycle.
struct CycleFacts {
    const CycleReport& report;
    const Health& health;
    const MonitorLog& monitor;  // in hexadecimal
    TimePoint now;              // the same moment on both clocks
    WallTime wallNow;
    WallTime start;             // the cycle's start
    bool publishing = false;
    std::int64_t journalWaiting = 0;
    std::int64_t journalDropped = 0;
    bool historyOn = false;
    bool historyFailing = false;
    std::vector<std::string> trendNames{};
};

class WebFeed {
  public:
    // Frames of the monitor kept for the page and /api/monitor.
    static constexpr std::size_t MonitorKept = 200;

    WebFeed();

    // On the cycle's thread.
    void publish(const CycleFacts& facts);

    // On any thread: the snapshot in force.
    std::shared_ptr<const Snapshot> current() const;
    // The number of the snapshot in force, from 0 before the first cycle.
    std::uint64_t version() const;
    // Waits at most `wait` for a snapshot later than `seen`; true, with
    // `seen` moved to it, when one came.
    bool waitNewer(std::uint64_t& seen, std::chrono::milliseconds wait) const;
    // While ended, waitNewer waits no more; the waits under way end.
    void endWaits(bool ended) const;

  private:
    void takeMonitor(const MonitorLog& monitor);
    std::vector<WebValue> values(const CycleFacts& facts);

    // The cycle's thread's own.
    std::map<std::pair<int, std::string>, WallTime> lastGood_;
    std::deque<MonitorEntry> monitor_;
    std::size_t monitorTaken_ = 0;
    std::uint64_t monitorResets_ = 0;
    std::uint64_t nextFrame_ = 1;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::shared_ptr<const Snapshot> current_;
    std::uint64_t version_ = 0;
    mutable bool waitsEnded_ = false;
};

}  // namespace tarvel
