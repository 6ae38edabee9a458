#include "modbus/Health.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tarvel {

std::optional<std::chrono::microseconds> NodeHealth::medianTime() const {
    if (timeCount == 0) return std::nullopt;
    std::vector<std::chrono::microseconds> sorted(times.begin(),
                                                    times.begin() + static_cast<long>(timeCount));
    const auto meta = sorted.begin() + static_cast<long>(timeCount / 2);
    std::nth_element(sorted.begin(), meta, sorted.end());
    if (timeCount % 2 == 1) return *meta;
    const auto below = *std::max_element(sorted.begin(), meta);
    return (below + *meta) / 2;
}

[[gnu::hot]] void Health::record(const Transaction& t, TimePoint nowTime) {
    if (t.node == 0) return;
    NodeHealth& n = nodes_[t.node];
    ++n.requests;
    switch (t.outcome) {
        case TransactionResult::Complete:
            ++n.good;
            n.lastGood = nowTime;
            n.times[n.nextTime] = t.duration;
            n.nextTime = (n.nextTime + 1) % NodeHealth::Samples;
            n.timeCount = std::min(n.timeCount + 1, NodeHealth::Samples);
            break;
        case TransactionResult::TimeOut:
        case TransactionResult::Partial:
        case TransactionResult::PortFailure:
            ++n.timeOut;
            break;
        case TransactionResult::CrcError:
            ++n.crcErrors;
            break;
        case TransactionResult::WrongAnswer:
            ++n.wrongAnswers;
            break;
        case TransactionResult::Exception:
            ++n.exceptions[t.exceptionCode];
            break;
        case TransactionResult::Broadcast:
            break;
    }
}

void Health::add(const Health& other) {
    for (const auto& [node, o] : other.nodes_) {
        NodeHealth& n = nodes_[node];
        n.requests += o.requests;
        n.good += o.good;
        n.timeOut += o.timeOut;
        n.crcErrors += o.crcErrors;
        n.wrongAnswers += o.wrongAnswers;
        for (const auto& [code, count] : o.exceptions) n.exceptions[code] += count;
        n.skipped += o.skipped;
        if (o.lastGood && (!n.lastGood || *o.lastGood > *n.lastGood)) n.lastGood = o.lastGood;
        // The other's samples from its oldest on.
        const std::size_t oldest = o.timeCount < NodeHealth::Samples ? 0 : o.nextTime;
        for (std::size_t i = 0; i < o.timeCount; ++i) {
            n.times[n.nextTime] = o.times[(oldest + i) % NodeHealth::Samples];
            n.nextTime = (n.nextTime + 1) % NodeHealth::Samples;
            n.timeCount = std::min(n.timeCount + 1, NodeHealth::Samples);
        }
    }
}

void Health::skipped(std::uint8_t node) {
    if (node != 0) ++nodes_[node].skipped;
}

std::vector<std::string> HealthFields(std::uint8_t node, const NodeHealth& health) {
    std::string exceptions;
    for (const auto& [code, howMany] : health.exceptions) {
        if (!exceptions.empty()) exceptions += ' ';
        exceptions += std::to_string(code) + ':' + std::to_string(howMany);
    }
    std::string median = "-";
    if (const auto t = health.medianTime()) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(t->count()) / 1000.0);
        median = text;
    }
    return {std::to_string(node),
            std::to_string(health.requests),
            std::to_string(health.good),
            std::to_string(health.timeOut),
            std::to_string(health.crcErrors),
            std::to_string(health.wrongAnswers),
            exceptions.empty() ? std::string("-") : exceptions,
            std::to_string(health.skipped),
            median};
}

const std::vector<std::string>& HealthHeaders() {
    static const std::vector<std::string> headers{
        "Nodo",      "Richieste", "Buone",   "Time-out",          "Errori CRC",
        "Risposte errate", "Eccezioni", "Saltate", "Tempo mediano (ms)"};
    return headers;
}

}  // namespace tarvel
