#include "publish/PublishingNotice.h"

namespace tarvel {

namespace {

// The journal at its cap, or memory full while the journal cannot take the
// cycles: told when it begins to drop, with the count.
std::string troubleText(const PublisherStatus& s, const MqttSettings& mqtt, bool newlyDropped,
                        bool newlyDroppedInMemory) {
    if (newlyDroppedInMemory)
        return "giornale: " + s.journalError + "; in memoria " +
               std::to_string(Publisher::MaxInMemory) +
               " messaggi al più: i più vecchi vengono scartati";
    if (!s.journalError.empty()) return "giornale: " + s.journalError;
    if (newlyDropped)
        return "giornale pieno (JournalMB " + std::to_string(mqtt.journalMB) +
               "): i messaggi più vecchi vengono scartati";
    if (!s.connection.error.empty()) return "broker: " + s.connection.error;
    return {};
}

}  // namespace

std::optional<std::string> PublishingNotice::next(const PublisherStatus& s,
                                                  const MqttSettings& mqtt) {
    const bool newlyDropped = s.droppedCount > droppedSeen_;
    const bool newlyDroppedInMemory = s.droppedInMemory > droppedInMemorySeen_;
    droppedSeen_ = s.droppedCount;
    droppedInMemorySeen_ = s.droppedInMemory;
    std::string trouble = troubleText(s, mqtt, newlyDropped, newlyDroppedInMemory);
    if (trouble == told_) return std::nullopt;
    told_ = trouble;
    if (trouble.empty()) return std::nullopt;
    std::string count = newlyDroppedInMemory ? " (" + std::to_string(s.droppedInMemory) + " finora)"
                        : newlyDropped       ? " (" + std::to_string(s.droppedCount) + " finora)"
                                             : "";
    return mqtt.host + ":" + std::to_string(mqtt.port) + ": " + trouble + count;
}

void PublishingNotice::restart(std::string startError) {
    told_ = std::move(startError);
    droppedInMemorySeen_ = 0;
}

}  // namespace tarvel
