#include "publish/Publisher.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <set>

#include "history/History.h"
#include "publish/Json.h"

namespace tarvel {

std::vector<MqttMessage> CycleMessages(const MqttSettings& imp, const std::string& tempo,
                                       long ciclo, const std::vector<Reading>& readings) {
    std::vector<MqttMessage> messages;
    int device = 0;
    std::string valuesJson;
    const auto close = [&] {
        if (device == 0) return;
        messages.push_back({imp.topic + "/" + std::to_string(device),
                            "{\"time\": " + JsonString(tempo) + ", \"cycle\": " +
                                std::to_string(ciclo) + ", \"values\": {" + valuesJson + "}}",
                            imp.qos, imp.retain});
        valuesJson.clear();
    };
    for (const Reading& r : readings) {
        if (r.device != device) {
            close();
            device = r.device;
        }
        if (!valuesJson.empty()) valuesJson += ", ";
        valuesJson += JsonString(r.name) + ": ";
        // A number in JSON's own notation (0.5, not .5); a constant as a string.
        if (const std::optional<std::string> number = JsonNumber(r))
            valuesJson += *number;
        else if (const std::optional<std::string> text = ValueText(r))
            valuesJson += JsonString(*text);
        else
            valuesJson += "null";
    }
    close();
    return messages;
}

namespace {

// Topic levels and identifiers keep to letters, digits, "_" and "-".
std::string sanitised(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
    return text;
}

bool isValue(const RequestLine& line) {
    return line.kind == LineKind::Read || line.kind == LineKind::Constant;
}

// The unit's fields of a discovery config, each after ", ".
std::string unitFields(const std::string& unit) {
    if (unit.empty()) return {};
    std::string fields = ", \"unit_of_measurement\": " + JsonString(unit);
    const UnitClasses classes = ClassesOfUnit(unit);
    if (classes.deviceClass) fields += ", \"device_class\": " + JsonString(classes.deviceClass);
    if (classes.stateClass) fields += ", \"state_class\": " + JsonString(classes.stateClass);
    return fields;
}

}  // namespace

std::vector<DiscoverySubject> DiscoverySubjects(const std::vector<RequestLine>& lines,
                                                const std::vector<int>& devices) {
    std::vector<DiscoverySubject> subjects(lines.size());
    std::map<std::string, std::size_t> taken;  // subject -> line
    std::set<std::pair<int, std::string>> names;
    std::vector<std::size_t> later;
    // Each subject to the first line that gives it, then the later ones.
    for (std::size_t i = 0; i < lines.size() && i < devices.size(); ++i) {
        const std::string& name = lines[i].shownFields.Descrizione;
        if (!isValue(lines[i]) || !names.emplace(devices[i], name).second) continue;
        const std::string subject = std::to_string(devices[i]) + "_" + sanitised(name);
        if (const auto [first, fresh] = taken.emplace(subject, i); fresh)
            subjects[i].subject = subject;
        else
            subjects[i].clashesWith = first->second;
    }
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        if (!subjects[i].clashesWith) continue;
        const std::string base = subjects[*subjects[i].clashesWith].subject + "_";
        int n = 2;
        while (taken.count(base + std::to_string(n))) ++n;
        subjects[i].subject = base + std::to_string(n);
        taken.emplace(subjects[i].subject, i);
    }
    return subjects;
}

UnitClasses ClassesOfUnit(const std::string& unit) {
    struct Known {
        const char* unit;
        UnitClasses classes;
    };
    static const Known known[] = {{"W", {"power", "measurement"}},
                                  {"kW", {"power", "measurement"}},
                                  {"Wh", {"energy", "total_increasing"}},
                                  {"kWh", {"energy", "total_increasing"}},
                                  {"MWh", {"energy", "total_increasing"}},
                                  {"V", {"voltage", "measurement"}},
                                  {"A", {"current", "measurement"}},
                                  {"Hz", {"frequency", "measurement"}},
                                  {"\u00b0C", {"temperature", "measurement"}},
                                  {"VA", {"apparent_power", "measurement"}},
                                  {"var", {"reactive_power", "measurement"}},
                                  {"%", {nullptr, "measurement"}}};
    // Compared as JSON text, where a Latin-1 and a UTF-8 "°C" are one.
    const std::string text = JsonString(unit);
    for (const Known& k : known)
        if (text == JsonString(k.unit)) return k.classes;
    return {};
}

std::vector<MqttMessage> DiscoveryMessages(const MqttSettings& imp,
                                           const std::vector<RequestLine>& lines,
                                           const std::vector<int>& devices) {
    const std::string clientName = sanitised(imp.clientId);
    const std::vector<DiscoverySubject> subjects = DiscoverySubjects(lines, devices);
    std::vector<MqttMessage> messages;
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        const std::string& subject = subjects[i].subject;
        if (subject.empty()) continue;
        const std::string& name = lines[i].shownFields.Descrizione;
        const std::string n = std::to_string(devices[i]);
        messages.push_back(
            {"homeassistant/sensor/" + clientName + "/" + subject + "/config",
             "{\"name\": " + JsonString(name) +
                 ", \"unique_id\": " + JsonString(clientName + "_" + subject) +
                 ", \"state_topic\": " + JsonString(imp.topic + "/" + n) +
                 ", \"value_template\": " +
                 JsonString("{{ value_json['values'][" + JsonString(name) + "] }}") +
                 unitFields(lines[i].unit) +
                 ", \"availability_topic\": " + JsonString(imp.topic + "/state") +
                 ", \"device\": {\"identifiers\": [" + JsonString(clientName + "_" + n) +
                 "], \"name\": " + JsonString(imp.topic + "/" + n) + ", \"model\": \"Tarvel\"}}",
             1, true});
    }
    return messages;
}

std::string ExceptionCountsJson(const NodeHealth& health) {
    std::string members;
    for (const auto& [code, times] : health.exceptions)
        members += (members.empty() ? "\"" : ", \"") + std::to_string(code) +
                   "\": " + std::to_string(times);
    return members;
}

std::string MedianMsJson(const NodeHealth& health) {
    const auto t = health.medianTime();
    if (!t) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(t->count()) / 1000.0);
    return text;
}

std::vector<MqttMessage> StatusMessages(const MqttSettings& imp, const Health& health,
                                       TimePoint nowTime, WallTime timeOfDay) {
    std::vector<MqttMessage> messages;
    for (const auto& [node, s] : health.nodes()) {
        const std::string exceptions = ExceptionCountsJson(s);
        const std::string median = MedianMsJson(s);
        const std::string last =
            s.lastGood
                ? JsonString(UtcText(timeOfDay - std::chrono::duration_cast<WallTime::duration>(
                                                 nowTime - *s.lastGood)))
                : "null";
        messages.push_back({imp.topic + "/status/" + std::to_string(node),
                            "{\"time\": " + JsonString(UtcText(timeOfDay)) +
                                ", \"requests\": " + std::to_string(s.requests) +
                                ", \"good\": " + std::to_string(s.good) +
                                ", \"timeouts\": " + std::to_string(s.timeOut) +
                                ", \"crc_errors\": " + std::to_string(s.crcErrors) +
                                ", \"wrong_answers\": " + std::to_string(s.wrongAnswers) +
                                ", \"exceptions\": {" + exceptions +
                                "}, \"skipped\": " + std::to_string(s.skipped) +
                                ", \"median_ms\": " + median + ", \"last_good\": " + last + "}",
                            imp.qos, true});
    }
    return messages;
}

Publisher::Publisher(Journal& journal, MqttClient& client, Clock& clock)
    : journal_(journal), client_(client), clock_(clock) {}

Publisher::~Publisher() {
    deliveries_.stop();
    client_.onEvent(nullptr);
}

bool Publisher::Start(const MqttSettings& imp, std::string& error, bool threadMain) {
    settings_ = imp;
    reopenJournal();
    {
        // Told once: a journal moved aside, or why there is none.
        std::lock_guard lock(mutex_);
        journalError_ = journalCause_;
    }
    MqttConnection c;
    c.host = imp.host;
    c.port = imp.port;
    c.clientId = imp.clientId;
    c.user = imp.user;
    c.password = imp.password;
    c.caFile = imp.caFile;
    c.will = MqttMessage{imp.topic + "/state", "offline", 1, true};
    c.greeting = MqttMessage{imp.topic + "/state", "online", 1, true};
    client_.onEvent([this] { wake(); });
    if (!client_.start(c, error)) return false;
    active_ = true;
    // Also once a second without news: a lost connection comes back.
    if (threadMain) deliveries_.start([this] { Step(); }, std::chrono::seconds(1));
    return true;
}

// At the start, and again now and then while there is none.
void Publisher::reopenJournal() {
    if (journalOpen_ || clock_.now() < nextRetry_) return;
    journalCause_.clear();
    journalOpen_ = journal_.open(settings_.journal, settings_.journalMB * 1024 * 1024, journalCause_);
    if (!journalOpen_) nextRetry_ = clock_.now() + JournalRetry;
}

bool Publisher::Enqueue(const std::vector<MqttMessage>& messages, std::string& error) {
    if (!active_ || messages.empty()) return true;
    reopenJournal();
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        if (!journalOpen_) {
            error = journalCause_;
        } else if (clock_.now() < nextRetry_) {
            error = journalError_;
        } else if (memory_.empty()) {
            done = journal_.append(messages, error);
        } else {
            // What waits in memory goes back to the journal first.
            std::vector<MqttMessage> everything;
            for (const auto& menuItem : memory_) everything.push_back(menuItem.second);
            everything.insert(everything.end(), messages.begin(), messages.end());
            done = journal_.append(everything, error);
            if (done) memory_.clear();
        }
        if (!done && journalOpen_ && clock_.now() >= nextRetry_)
            nextRetry_ = clock_.now() + JournalRetry;
        if (!done) inMemory(messages);
        journalError_ = done ? std::string() : error;
    }
    wake();
    return done;
}

// By mutex_. Past the bound the oldest go, counted.
void Publisher::inMemory(const std::vector<MqttMessage>& messages) {
    for (const MqttMessage& m : messages) memory_.emplace_back(++memoryNumber_, m);
    while (memory_.size() > MaxInMemory) {
        memory_.pop_front();
        ++droppedInMemory_;
    }
}

void Publisher::PublishStatus(const std::vector<MqttMessage>& messages) {
    if (!active_) return;
    {
        std::lock_guard lock(mutex_);
        for (const MqttMessage& m : messages) {
            const auto same = std::find_if(statusMessages_.begin(), statusMessages_.end(),
                                             [&](const auto& s) { return s.topic == m.topic; });
            if (same != statusMessages_.end())
                *same = m;
            else
                statusMessages_.push_back(m);
        }
    }
    wake();
}

void Publisher::wake() { deliveries_.wake(); }

void Publisher::Step() {
    std::vector<std::int64_t> taken;
    for (const int number : client_.takeDelivered()) {
        const auto it = inFlight_.find(number);
        if (it == inFlight_.end()) continue;
        if (it->second.inMemory) {
            std::lock_guard lock(mutex_);
            std::erase_if(memory_, [&](const auto& menuItem) { return menuItem.first == it->second.id; });
        } else {
            taken.push_back(it->second.id);
        }
        inFlight_.erase(it);
    }
    if (!taken.empty()) journal_.remove(taken);
    if (client_.status().state != MqttState::Connected) return;
    {
        std::lock_guard lock(mutex_);
        while (!statusMessages_.empty() && client_.publish(statusMessages_.front())) statusMessages_.erase(statusMessages_.begin());
    }
    const TimePoint nowTime = clock_.now();
    // A message the broker never acknowledged, though connected all along:
    // everything still waiting is handed over again, in order.
    for (const auto& [number, menuItem] : inFlight_) {
        if (nowTime - menuItem.when < AckTimeout) continue;
        inFlight_.clear();
        lastDelivered_ = lastInMemory_ = 0;
        break;
    }
    deliver(nowTime);
}

// The journal's messages first, then memory's, which are newer; no more
// than the window unacknowledged.
void Publisher::deliver(TimePoint nowTime) {
    if (inFlight_.size() >= InFlightWindow) return;
    const std::size_t box = InFlightWindow - inFlight_.size();
    const std::vector<JournalEntry> entries = journal_.next(lastDelivered_, box);
    for (const JournalEntry& e : entries) {
        const std::optional<int> number = client_.publish(e.message);
        if (!number) return;
        inFlight_[*number] = {false, e.id, nowTime};
        lastDelivered_ = e.id;
    }
    if (entries.size() == box) return;
    std::lock_guard lock(mutex_);
    for (const auto& [n, m] : memory_) {
        if (n <= lastInMemory_) continue;
        if (inFlight_.size() >= InFlightWindow) return;
        const std::optional<int> number = client_.publish(m);
        if (!number) return;
        inFlight_[*number] = {true, n, nowTime};
        lastInMemory_ = n;
    }
}

bool Publisher::allDelivered() {
    if (!inFlight_.empty() || !journal_.next(lastDelivered_, 1).empty()) return false;
    std::lock_guard lock(mutex_);
    return memory_.empty() || memory_.back().first <= lastInMemory_;
}

void Publisher::Stop(int waitMs) {
    if (!active_) return;
    deliveries_.stop();
    const auto isConnected = [this] { return client_.status().state == MqttState::Connected; };
    // A first attempt under way gets a moment; a broker that cannot be
    // reached holds nothing up.
    const TimePoint start = clock_.now();
    const Millis grace = std::min(Millis(waitMs), ConnectWait);
    while (!isConnected() && client_.status().error.empty() && clock_.now() - start < grace)
        clock_.sleep(Millis(10));
    Millis resto{0};
    if (isConnected()) {
        const TimePoint limit = clock_.now() + Millis(waitMs);
        for (;;) {
            Step();
            if (allDelivered() || !isConnected() || clock_.now() >= limit) break;
            clock_.sleep(Millis(5));
        }
        resto = std::max(Millis(0), std::chrono::duration_cast<Millis>(limit - clock_.now()));
    }
    client_.stop(MqttMessage{settings_.topic + "/state", "offline", 1, true},
                 static_cast<int>(resto.count()));
    active_ = false;
}

PublisherStatus Publisher::status() {
    PublisherStatus s;
    s.connection = client_.status();
    s.waiting = journal_.size();
    s.droppedCount = journal_.dropped();
    std::lock_guard lock(mutex_);
    s.waiting += static_cast<std::int64_t>(memory_.size());
    s.droppedInMemory = droppedInMemory_;
    s.journalError = journalError_;
    return s;
}

}  // namespace tarvel
