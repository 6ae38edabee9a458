#pragma once
// The texts the web server sends, made from a snapshot: the Prometheus
// metrics and the JSON of /api/*. Field and metric names are stable; the
// README lists them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history/History.h"
#include "web/Snapshot.h"

namespace tarvel {

// Prometheus's text format (version 0.0.4): the values of good reads as
// the gauge tarvel_value, the nodes' counters, the cycle, the journal and
// the history.
std::string MetricsText(const Snapshot& s);

// {"time", "cycle", "devices": [{"device", "values", "units", "quality",
// "last_good"}]}: the values as the broker's device messages give them.
std::string ValuesJson(const Snapshot& s);
// {"time", "nodes": [{"node", "requests", "good", "timeouts", ...}]}.
std::string HealthJson(const Snapshot& s);
// {"last", "frames": [{"n", "tx", "rx"}]}: the frames numbered after
// `since`; "last" is the number of the newest one kept.
std::string MonitorJson(const Snapshot& s, std::uint64_t since);
// {"names": [...]} of the values a trend can be drawn of.
std::string TrendNamesJson(const Snapshot& s);
// {"name", "seconds", "points": [[milliseconds since 1970, value or null]]}.
std::string TrendJson(std::string_view name, long seconds, const std::vector<HistoryPoint>& points);

// The word of /api/values for a quality: "good", "failed", "no_value",
// "not_finite", "skipped", "not_read".
const char* QualityName(Quality q);

}  // namespace tarvel
