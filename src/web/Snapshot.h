#pragma once
// What the web page, the API and the metrics show: the state at the end of
// the last cycle, made by the cycle's thread and then only read. Plain
// values, no reference into the program.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/Reading.h"
#include "modbus/Health.h"
#include "platform/WallClock.h"

namespace tarvel {

// A read or constant line of the last cycle.
struct WebValue {
    int device = 1;
    std::string name;
    std::string unit;  // empty: none known
    Quality quality = Quality::NotRead;
    std::optional<std::string> text;    // the value as the output writes it
    std::optional<std::string> number;  // a read's number in JSON's notation
    std::optional<WallTime> lastGood;   // the start of the last cycle that read it
};

struct WebNode {
    std::uint8_t node = 0;
    NodeHealth health;
    std::optional<WallTime> lastGood;
};

// A request and its answer as the serial monitor shows them, in hex.
struct MonitorEntry {
    std::uint64_t number = 0;  // from 1, growing while the program runs
    std::string tx;  // empty for a line without a request (a late answer)
    std::string rx;
};

struct Snapshot {
    long cycle = 0;  // 0 before the first cycle ended
    WallTime start{};
    WallTime end{};
    std::chrono::milliseconds duration{0};
    int failedReads = 0;
    int noValue = 0;
    std::vector<WebValue> values;
    std::vector<WebNode> nodes;
    std::vector<MonitorEntry> monitor;  // the last frames, oldest first
    // The publishing's journal, while [MQTT] publishes.
    bool publishing = false;
    std::int64_t journalWaiting = 0;
    std::int64_t journalDropped = 0;
    bool historyOn = false;
    bool historyFailing = false;
    // The names a trend can be drawn of (the read lines', once each).
    std::vector<std::string> trendNames;
};

}  // namespace tarvel
