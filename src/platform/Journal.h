#pragma once
// Messages kept on disk until the broker has them: appended in order, read
// back oldest first, removed once delivered. Survives a crash or a power
// cut; past its size cap the oldest messages make room.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/MqttClient.h"

namespace tarvel {

struct JournalEntry {
    std::int64_t id = 0;  // grows with every message appended
    MqttMessage message;
};

class Journal {
  public:
    virtual ~Journal() = default;
    // Opens or creates the journal, readable by its owner alone; false, with
    // the cause, when it cannot. A file that is there but cannot be a
    // journal (damaged, not a journal, read-only) is moved aside, kept under
    // its name followed by the time and ".bad", and a new journal is
    // started: true then, and `error` tells what was done and why.
    virtual bool open(const std::string& path, std::int64_t maxBytes, std::string& error) = 0;
    // Appends the messages in one step; false, with the cause, when the
    // disk refuses them (nothing of them is kept then).
    virtual bool append(const std::vector<MqttMessage>& messages, std::string& error) = 0;
    // Up to `count` messages after `afterId`, oldest first.
    virtual std::vector<JournalEntry> next(std::int64_t afterId, std::size_t count) = 0;
    virtual void remove(const std::vector<std::int64_t>& ids) = 0;
    virtual std::int64_t size() = 0;
    // Messages removed to keep the journal under its cap, since it was created.
    virtual std::int64_t dropped() = 0;
};

}  // namespace tarvel
