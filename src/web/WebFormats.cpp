#include "web/WebFormats.h"

#include <cstdio>

#include "history/UtcTime.h"
#include "publish/Json.h"
#include "publish/Publisher.h"

namespace tarvel {
namespace {

std::string jsonTime(const std::optional<WallTime>& t) {
    return t ? JsonString(UtcText(*t)) : "null";
}

std::string seconds(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

double unixSeconds(WallTime t) {
    using namespace std::chrono;
    return static_cast<double>(duration_cast<milliseconds>(t.time_since_epoch()).count()) / 1000.0;
}

// A label value: UTF-8 (the settings' Latin-1 bytes turned into it), with
// backslash, quote and newline escaped.
std::string labelValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        if (!CodePoint(text, i)) {
            const auto byte = static_cast<unsigned char>(text[start]);
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
            i = start + 1;
            continue;
        }
        const std::string_view c = text.substr(start, i - start);
        out += c == "\\" ? "\\\\" : c == "\"" ? "\\\"" : c == "\n" ? "\\n" : std::string(c);
    }
    return out;
}

struct Family {
    std::string& out;
    void head(const char* name, const char* type, const char* help) const {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(const char* name, const std::string& labels, const std::string& value) const {
        out += std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
    }
};

void valueMetrics(const Snapshot& s, const Family& f) {
    f.head("tarvel_value", "gauge", "The value of a read of the last cycle (good reads only).");
    for (const WebValue& v : s.values)
        if (v.number)
            f.sample("tarvel_value",
                     "device=\"" + std::to_string(v.device) + "\",name=\"" + labelValue(v.name) +
                         "\",unit=\"" + labelValue(v.unit) + "\"",
                     *v.number);
}

void nodeMetrics(const Snapshot& s, const Family& f) {
    using Count = std::uint64_t NodeHealth::*;
    const struct {
        const char* name;
        Count count;
        const char* help;
    } counters[] = {
        {"tarvel_node_requests_total", &NodeHealth::requests, "Requests sent to the node."},
        {"tarvel_node_good_answers_total", &NodeHealth::good, "Good answers of the node."},
        {"tarvel_node_timeouts_total", &NodeHealth::timeOut, "Requests without a whole answer in time."},
        {"tarvel_node_crc_errors_total", &NodeHealth::crcErrors, "Answers with a wrong CRC."},
        {"tarvel_node_wrong_answers_total", &NodeHealth::wrongAnswers, "Answers that did not fit the request."},
        {"tarvel_node_skipped_lines_total", &NodeHealth::skipped, "Lines skipped while the node did not answer."},
    };
    for (const auto& c : counters) {
        f.head(c.name, "counter", c.help);
        for (const WebNode& n : s.nodes)
            f.sample(c.name, "node=\"" + std::to_string(n.node) + "\"",
                     std::to_string(n.health.*(c.count)));
    }
    f.head("tarvel_node_exceptions_total", "counter", "Modbus exceptions of the node, by code.");
    for (const WebNode& n : s.nodes)
        for (const auto& [code, count] : n.health.exceptions)
            f.sample("tarvel_node_exceptions_total",
                     "node=\"" + std::to_string(n.node) + "\",code=\"" + std::to_string(code) + "\"",
                     std::to_string(count));
    f.head("tarvel_node_answer_time_median_seconds", "gauge",
           "Median time from request to whole answer over the last good answers.");
    for (const WebNode& n : s.nodes)
        if (const auto t = n.health.medianTime())
            f.sample("tarvel_node_answer_time_median_seconds", "node=\"" + std::to_string(n.node) + "\"",
                     std::to_string(static_cast<double>(t->count()) / 1e6));
    f.head("tarvel_node_last_good_answer_timestamp_seconds", "gauge", "Time of the node's last good answer.");
    for (const WebNode& n : s.nodes)
        if (n.lastGood)
            f.sample("tarvel_node_last_good_answer_timestamp_seconds",
                     "node=\"" + std::to_string(n.node) + "\"", seconds(unixSeconds(*n.lastGood)));
}

void programMetrics(const Snapshot& s, const Family& f) {
    f.head("tarvel_cycles_total", "counter", "Acquisition cycles ended since the start.");
    f.sample("tarvel_cycles_total", "", std::to_string(s.cycle));
    if (s.cycle > 0) {
        f.head("tarvel_last_cycle_start_timestamp_seconds", "gauge", "Start of the last cycle.");
        f.sample("tarvel_last_cycle_start_timestamp_seconds", "", seconds(unixSeconds(s.start)));
        f.head("tarvel_last_cycle_duration_seconds", "gauge", "Duration of the last cycle.");
        f.sample("tarvel_last_cycle_duration_seconds", "",
                 seconds(static_cast<double>(s.duration.count()) / 1000.0));
        f.head("tarvel_last_cycle_failed_reads", "gauge", "Reads of the last cycle the devices did not give.");
        f.sample("tarvel_last_cycle_failed_reads", "", std::to_string(s.failedReads));
        f.head("tarvel_last_cycle_reads_without_value", "gauge", "Reads of the last cycle answered with no value.");
        f.sample("tarvel_last_cycle_reads_without_value", "", std::to_string(s.noValue));
    }
    if (s.publishing) {
        f.head("tarvel_journal_messages", "gauge", "Messages waiting for the broker.");
        f.sample("tarvel_journal_messages", "", std::to_string(s.journalWaiting));
        f.head("tarvel_journal_dropped_messages_total", "counter", "Messages dropped to keep the journal under its cap.");
        f.sample("tarvel_journal_dropped_messages_total", "", std::to_string(s.journalDropped));
    }
    f.head("tarvel_history_enabled", "gauge", "1 while the history database is written.");
    f.sample("tarvel_history_enabled", "", s.historyOn ? "1" : "0");
    f.head("tarvel_history_write_failing", "gauge", "1 while the last write of the history failed.");
    f.sample("tarvel_history_write_failing", "", s.historyFailing ? "1" : "0");
}

std::string jsonNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + JsonString(n);
    return "[" + out + "]";
}

}  // namespace

const char* QualityName(Quality q) {
    switch (q) {
        case Quality::Good: return "good";
        case Quality::Failed: return "failed";
        case Quality::NoValue: return "no_value";
        case Quality::NotFinite: return "not_finite";
        case Quality::Skipped: return "skipped";
        case Quality::NotRead: break;
    }
    return "not_read";
}

std::string MetricsText(const Snapshot& s) {
    std::string out;
    out.reserve(128 + s.values.size() * 64);
    const Family f{out};
    valueMetrics(s, f);
    nodeMetrics(s, f);
    programMetrics(s, f);
    return out;
}

std::string ValuesJson(const Snapshot& s) {
    const std::string time = s.cycle > 0 ? JsonString(UtcText(s.start)) : "null";
    std::string devices;
    for (std::size_t i = 0; i < s.values.size();) {
        const int device = s.values[i].device;
        std::string values, units, quality, lastGood;
        for (; i < s.values.size() && s.values[i].device == device; ++i) {
            const WebValue& v = s.values[i];
            const std::string sep = values.empty() ? "" : ", ";
            const std::string key = JsonString(v.name) + ": ";
            values += sep + key + (v.number ? *v.number : v.text ? JsonString(*v.text) : "null");
            units += sep + key + JsonString(v.unit);
            quality += sep + key + "\"" + QualityName(v.quality) + "\"";
            lastGood += sep + key + jsonTime(v.lastGood);
        }
        devices += std::string(devices.empty() ? "" : ", ") + "{\"device\": " +
                   std::to_string(device) + ", \"values\": {" + values + "}, \"units\": {" +
                   units + "}, \"quality\": {" + quality + "}, \"last_good\": {" + lastGood + "}}";
    }
    return "{\"time\": " + time + ", \"cycle\": " + std::to_string(s.cycle) +
           ", \"duration_ms\": " + std::to_string(s.duration.count()) + ", \"devices\": [" +
           devices + "]}";
}

std::string HealthJson(const Snapshot& s) {
    std::string nodes;
    for (const WebNode& n : s.nodes) {
        const NodeHealth& h = n.health;
        const std::string exceptions = ExceptionCountsJson(h);
        const std::string median = MedianMsJson(h);
        nodes += std::string(nodes.empty() ? "" : ", ") + "{\"node\": " + std::to_string(n.node) +
                 ", \"requests\": " + std::to_string(h.requests) + ", \"good\": " +
                 std::to_string(h.good) + ", \"timeouts\": " + std::to_string(h.timeOut) +
                 ", \"crc_errors\": " + std::to_string(h.crcErrors) + ", \"wrong_answers\": " +
                 std::to_string(h.wrongAnswers) + ", \"exceptions\": {" + exceptions +
                 "}, \"skipped\": " + std::to_string(h.skipped) + ", \"median_ms\": " + median +
                 ", \"last_good\": " + jsonTime(n.lastGood) + "}";
    }
    const std::string time = s.cycle > 0 ? JsonString(UtcText(s.end)) : "null";
    return "{\"time\": " + time + ", \"nodes\": [" + nodes + "]}";
}

std::string MonitorJson(const Snapshot& s, std::uint64_t since) {
    std::string frames;
    for (const MonitorEntry& e : s.monitor)
        if (e.number > since)
            frames += std::string(frames.empty() ? "" : ", ") + "{\"n\": " +
                      std::to_string(e.number) + ", \"tx\": " + JsonString(e.tx) +
                      ", \"rx\": " + JsonString(e.rx) + "}";
    const std::uint64_t last = s.monitor.empty() ? 0 : s.monitor.back().number;
    return "{\"last\": " + std::to_string(last) + ", \"frames\": [" + frames + "]}";
}

std::string TrendNamesJson(const Snapshot& s) {
    return "{\"history\": " + std::string(s.historyOn ? "true" : "false") +
           ", \"names\": " + jsonNames(s.historyOn ? s.trendNames : std::vector<std::string>{}) + "}";
}

std::string TrendJson(std::string_view name, long seconds, const std::vector<HistoryPoint>& points) {
    using namespace std::chrono;
    std::string out = "{\"name\": " + JsonString(name) + ", \"seconds\": " +
                      std::to_string(seconds) + ", \"points\": [";
    char value[40];
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto ms = duration_cast<milliseconds>(points[i].when.time_since_epoch()).count();
        if (points[i].value)
            std::snprintf(value, sizeof value, "%.15g", *points[i].value);
        out += (i ? ", [" : "[") + std::to_string(ms) + ", " +
               (points[i].value ? std::string(value) : "null") + "]";
    }
    return out + "]}";
}

}  // namespace tarvel
