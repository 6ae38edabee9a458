#pragma once
// Publishing to an MQTT broker, with nothing lost: after every cycle each
// device's values become one message, which goes to the journal on disk
// first and leaves it only when the broker has it. What the journal cannot
// take (a full disk, a damaged file) waits in memory, up to a bound, and
// goes back to the journal once it takes writes again. A round thread of
// the platform hands the journal, then memory, to the broker, in order,
// whenever there is a connection; a cycle never waits for the network.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/Reading.h"
#include "modbus/Health.h"
#include "platform/Clock.h"
#include "platform/Journal.h"
#include "platform/MqttClient.h"
#include "platform/WallClock.h"
#include "platform/posix/RoundThread.h"
#include "publish/MqttSettings.h"

namespace tarvel {

// The messages of one cycle: one per device on <Topic>/<n>, in device
// order, `tempo` being the cycle's start in UTC.
std::vector<MqttMessage> CycleMessages(const MqttSettings& imp, const std::string& tempo,
                                       long ciclo, const std::vector<Reading>& readings);

// Where each line's discovery config goes: its subject, <device>_<name>
// with the name's characters outside [A-Za-z0-9_-] as "_"; empty for a line
// that has none (not a value, or a name its device had before). Two names
// of a device that give one subject ("Energia.Tot", "Energia_Tot") are told
// apart: the first in list order keeps it, the later one takes the first
// free of "_2", "_3", ... after it, and `clashesWith` names the line that
// kept it.
struct DiscoverySubject {
    std::string subject;
    std::optional<std::size_t> clashesWith;
};
std::vector<DiscoverySubject> DiscoverySubjects(const std::vector<RequestLine>& lines,
                                                const std::vector<int>& devices);

// Home Assistant's device and state classes of the units it knows: W and
// kW power; Wh, kWh and MWh energy (total_increasing); V voltage; A
// current; Hz frequency; °C temperature; VA apparent_power; var
// reactive_power (all measurement but energy); % no class, measurement.
// Other units, and none: no class.
struct UnitClasses {
    const char* deviceClass = nullptr;
    const char* stateClass = nullptr;
};
UnitClasses ClassesOfUnit(const std::string& unit);

// With Discovery on: one retained Home Assistant discovery config per value
// of each device, on homeassistant/sensor/<ClientId>/<device>_<name>/config,
// pointing at the device's topic and the state topic, with the value's unit
// and its classes when it has one; `devices` holds the device of each line
// (DevicesOfLines).
std::vector<MqttMessage> DiscoveryMessages(const MqttSettings& imp,
                                          const std::vector<RequestLine>& lines,
                                          const std::vector<int>& devices);

// A node's exception counts as the members of a JSON object ("2": 1, ...),
// and its median answer time in milliseconds with one decimal or null: as
// the status messages and the web's health give them.
std::string ExceptionCountsJson(const NodeHealth& health);
std::string MedianMsJson(const NodeHealth& health);

// One retained message per node on <Topic>/status/<node> with its health
// counters; `nowTime` and `timeOfDay` are the same moment on the monotonic clock
// and the calendar.
std::vector<MqttMessage> StatusMessages(const MqttSettings& imp, const Health& health,
                                       TimePoint nowTime, WallTime timeOfDay);

// What the publishing is doing.
struct PublisherStatus {
    MqttStatus connection;
    std::int64_t waiting = 0;  // messages in the journal and in memory
    std::int64_t droppedCount = 0;  // dropped to keep the journal under its cap
    // Dropped from memory, full while the journal could not take them.
    std::int64_t droppedInMemory = 0;
    // Why the journal could not take the last cycle, or what was done with
    // a journal that could not be opened.
    std::string journalError;
};

class Publisher {
  public:
    // Messages handed to the connection and not yet acknowledged, at most.
    static constexpr std::size_t InFlightWindow = 100;
    // A handed message still unacknowledged after this long, while
    // connected, is handed again.
    static constexpr Millis AckTimeout{60000};
    // Messages the journal could not take wait in memory, this many at
    // most; past it the oldest make room.
    static constexpr std::size_t MaxInMemory = 10000;
    // At a stop, a connection being made is waited for this long at most.
    static constexpr Millis ConnectWait{500};
    // A journal that could not be opened, or could not take a cycle, is
    // tried again after this long; meanwhile the cycles go to memory.
    static constexpr Millis JournalRetry{10000};

    Publisher(Journal& journal, MqttClient& client, Clock& clock);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Opens the journal and starts the connection; false, with the cause,
    // when the connection cannot even be tried. A journal that cannot be
    // opened is no reason: what it would hold waits in memory, and the
    // cause is in status(). `threadMain`: hand the messages over on a thread of
    // its own (tests call Step instead).
    bool Start(const MqttSettings& imp, std::string& error, bool threadMain = true);

    // A cycle's messages to the journal, after what waits in memory; false,
    // with the cause, when the journal could not take them: they wait in
    // memory then.
    bool Enqueue(const std::vector<MqttMessage>& messages, std::string& error);
    // One round: forgets what the broker took, hands over what waits.
    void Step();
    // What only tells the present state: not journaled, each replacing the
    // one before it, sent at the next round with a connection.
    void PublishStatus(const std::vector<MqttMessage>& messages);
    // A clean end. Only a broker connected at the stop, or within
    // ConnectWait while a first attempt is under way, is given up to
    // `waitMs` to take what waits; then "offline" and the connection
    // closes. What is left in the journal stays for the next start.
    void Stop(int waitMs);

    PublisherStatus status();

  private:
    // A message handed over and not yet acknowledged: its journal id or its
    // number in memory, and when it was handed.
    struct Delivery {
        bool inMemory = false;
        std::int64_t id = 0;
        TimePoint when;
    };
    void wake();
    void reopenJournal();
    void inMemory(const std::vector<MqttMessage>& messages);
    void deliver(TimePoint nowTime);
    bool allDelivered();

    Journal& journal_;
    MqttClient& client_;
    Clock& clock_;
    MqttSettings settings_;
    bool active_ = false;
    bool journalOpen_ = false;
    TimePoint nextRetry_{};
    std::string journalCause_;  // why the journal could not be opened
    // Handed over and not acknowledged, by the connection's message number.
    std::map<int, Delivery> inFlight_;
    std::int64_t lastDelivered_ = 0;  // the last journal id handed over
    std::int64_t lastInMemory_ = 0;   // the last number in memory handed
    // By mutex_: what the journal could not take, numbered in order, all
    // newer than what the journal holds; what waits for a connection.
    std::deque<std::pair<std::int64_t, MqttMessage>> memory_;
    std::int64_t memoryNumber_ = 0;
    std::int64_t droppedInMemory_ = 0;
    std::string journalError_;
    std::vector<MqttMessage> statusMessages_;

    std::mutex mutex_;
    // Runs Step from Start to Stop, when woken and once a second.
    RoundThread deliveries_;
};

}  // namespace tarvel
