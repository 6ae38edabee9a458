// What the user is told about the publishing's troubles: each trouble once,
// until it changes, while acquisition goes on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "publish/MqttSettings.h"
#include "publish/Publisher.h"

namespace tarvel {

class PublishingNotice {
  public:
    // The text to show when the trouble in `status` differs from the last
    // one told ("broker: ...", "giornale: ...", with the broker's address),
    // nothing when it is the same or there is none.
    std::optional<std::string> next(const PublisherStatus& status, const MqttSettings& mqtt);

    // A new publisher starts: its start-up error, if any, is the last trouble
    // told; the journal's drop count carries over, as the journal does.
    void restart(std::string startError = {});

  private:
    std::string told_;
    std::int64_t droppedSeen_ = 0;
    std::int64_t droppedInMemorySeen_ = 0;
};

}  // namespace tarvel
