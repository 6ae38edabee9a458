#include "web/WebFeed.h"

#include <algorithm>

namespace tarvel {

WebFeed::WebFeed() : current_(std::make_shared<const Snapshot>()) {}

std::vector<WebValue> WebFeed::values(const CycleFacts& facts) {
    std::vector<WebValue> values;
    values.reserve(facts.report.readings.size());
    for (const Reading& r : facts.report.readings) {
        WebValue v{r.device, r.name, r.unit, r.quality, ValueText(r), JsonNumber(r), {}};
        const auto key = std::pair(r.device, r.name);
        if (r.quality == Quality::Good) lastGood_[key] = facts.start;
        if (const auto it = lastGood_.find(key); it != lastGood_.end()) v.lastGood = it->second;
        values.push_back(std::move(v));
    }
    return values;
}

// The pairs of lines that came since the last cycle; all of them again
// after the log was emptied.
void WebFeed::takeMonitor(const MonitorLog& monitor) {
    const auto& tx = monitor.requests();
    const auto& rx = monitor.answers();
    if (monitor.resetVersion() != monitorResets_ || rx.size() < monitorTaken_) {
        monitorResets_ = monitor.resetVersion();
        monitorTaken_ = 0;
    }
    const std::size_t end = std::min(tx.size(), rx.size());
    for (; monitorTaken_ < end; ++monitorTaken_) {
        monitor_.push_back({nextFrame_++, tx[monitorTaken_], rx[monitorTaken_]});
        if (monitor_.size() > MonitorKept) monitor_.pop_front();
    }
}

void WebFeed::publish(const CycleFacts& facts) {
    auto s = std::make_shared<Snapshot>();
    s->cycle = facts.report.number;
    s->start = facts.start;
    s->end = facts.wallNow;
    s->duration = facts.report.duration;
    s->failedReads = facts.report.failedReads;
    s->noValue = facts.report.noValue;
    s->values = values(facts);
    for (const auto& [node, health] : facts.health.nodes()) {
        WebNode n{node, health, {}};
        if (health.lastGood)
            n.lastGood = facts.wallNow - std::chrono::duration_cast<WallTime::duration>(
                                             facts.now - *health.lastGood);
        s->nodes.push_back(std::move(n));
    }
    takeMonitor(facts.monitor);
    s->monitor.assign(monitor_.begin(), monitor_.end());
    s->publishing = facts.publishing;
    s->journalWaiting = facts.journalWaiting;
    s->journalDropped = facts.journalDropped;
    s->historyOn = facts.historyOn;
    s->historyFailing = facts.historyFailing;
    s->trendNames = facts.trendNames;
    {
        std::lock_guard lock(mutex_);
        current_ = std::move(s);
        ++version_;
    }
    changed_.notify_all();
}

std::shared_ptr<const Snapshot> WebFeed::current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

std::uint64_t WebFeed::version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

bool WebFeed::waitNewer(std::uint64_t& seen, std::chrono::milliseconds wait) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return version_ > seen || waitsEnded_; });
    if (version_ <= seen) return false;
    seen = version_;
    return true;
}

void WebFeed::endWaits(bool ended) const {
    {
        std::lock_guard lock(mutex_);
        waitsEnded_ = ended;
    }
    changed_.notify_all();
}

}  // namespace tarvel
