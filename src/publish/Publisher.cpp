#include "publish/Publisher.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "history/History.h"
#include "publish/Json.h"

namespace tarvel {

std::vector<MqttMessage> CycleMessages(const MqttSettings& imp, const std::string& tempo,
                                       long ciclo, const std::vector<Reading>& letture) {
    std::vector<MqttMessage> messaggi;
    int device = 0;
    std::string valoriJson;
    const auto close = [&] {
        if (device == 0) return;
        messaggi.push_back({imp.topic + "/" + std::to_string(device),
                            "{\"time\": " + JsonString(tempo) + ", \"cycle\": " +
                                std::to_string(ciclo) + ", \"values\": {" + valoriJson + "}}",
                            imp.qos, imp.retain});
        valoriJson.clear();
    };
    for (const Reading& r : letture) {
        if (r.device != device) {
            close();
            device = r.device;
        }
        if (!valoriJson.empty()) valoriJson += ", ";
        valoriJson += JsonString(r.name) + ": ";
        // A number in JSON's own notation (0.5, not .5); a constant as a string.
        if (const std::optional<std::string> number = JsonNumber(r))
            valoriJson += *number;
        else if (const std::optional<std::string> text = ValueText(r))
            valoriJson += JsonString(*text);
        else
            valoriJson += "null";
    }
    close();
    return messaggi;
}

std::vector<MqttMessage> DiscoveryMessages(const MqttSettings& imp,
                                          const std::vector<RequestLine>& lines,
                                          const std::vector<int>& dispositivi) {
    // Topic levels and identifiers keep to letters, digits, "_" and "-".
    const auto pulito = [](std::string text) {
        for (char& c : text)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
        return text;
    };
    const std::string cliente = pulito(imp.clientId);
    std::vector<MqttMessage> messaggi;
    std::vector<std::string> visti;
    for (std::size_t i = 0; i < lines.size() && i < dispositivi.size(); ++i) {
        const RequestLine& line = lines[i];
        if (line.kind != LineKind::Read && line.kind != LineKind::Constant) continue;
        const int device = dispositivi[i];
        const std::string& name = line.shownFields.Descrizione;
        const std::string oggetto = std::to_string(device) + "_" + pulito(name);
        if (std::find(visti.begin(), visti.end(), oggetto) != visti.end()) continue;
        visti.push_back(oggetto);
        const std::string n = std::to_string(device);
        messaggi.push_back(
            {"homeassistant/sensor/" + cliente + "/" + oggetto + "/config",
             "{\"name\": " + JsonString(name) +
                 ", \"unique_id\": " + JsonString(cliente + "_" + oggetto) +
                 ", \"state_topic\": " + JsonString(imp.topic + "/" + n) +
                 ", \"value_template\": " +
                 JsonString("{{ value_json['values'][" + JsonString(name) + "] }}") +
                 ", \"availability_topic\": " + JsonString(imp.topic + "/state") +
                 ", \"device\": {\"identifiers\": [" + JsonString(cliente + "_" + n) +
                 "], \"name\": " + JsonString(imp.topic + "/" + n) + ", \"model\": \"Tarvel\"}}",
             1, true});
    }
    return messaggi;
}

std::vector<MqttMessage> StatusMessages(const MqttSettings& imp, const Health& health,
                                       TimePoint adesso, WallTime ora) {
    std::vector<MqttMessage> messaggi;
    for (const auto& [node, s] : health.nodes()) {
        std::string exceptions;
        for (const auto& [codice, volte] : s.exceptions)
            exceptions += (exceptions.empty() ? "\"" : ", \"") + std::to_string(codice) +
                         "\": " + std::to_string(volte);
        std::string mediano = "null";
        if (const auto t = s.medianTime()) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", static_cast<double>(t->count()) / 1000.0);
            mediano = text;
        }
        const std::string ultima =
            s.lastGood
                ? JsonString(UtcText(ora - std::chrono::duration_cast<WallTime::duration>(
                                                 adesso - *s.lastGood)))
                : "null";
        messaggi.push_back({imp.topic + "/status/" + std::to_string(node),
                            "{\"time\": " + JsonString(UtcText(ora)) +
                                ", \"requests\": " + std::to_string(s.requests) +
                                ", \"good\": " + std::to_string(s.good) +
                                ", \"timeouts\": " + std::to_string(s.timeOut) +
                                ", \"crc_errors\": " + std::to_string(s.crcErrors) +
                                ", \"wrong_answers\": " + std::to_string(s.wrongAnswers) +
                                ", \"exceptions\": {" + exceptions +
                                "}, \"skipped\": " + std::to_string(s.skipped) +
                                ", \"median_ms\": " + mediano + ", \"last_good\": " + ultima + "}",
                            imp.qos, true});
    }
    return messaggi;
}

Publisher::Publisher(Journal& journal, MqttClient& client, Clock& clock)
    : journal_(journal), client_(client), clock_(clock) {}

Publisher::~Publisher() {
    consegne_.stop();
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
    if (threadMain) consegne_.start([this] { Step(); }, std::chrono::seconds(1));
    return true;
}

// At the start, and again now and then while there is none.
void Publisher::reopenJournal() {
    if (journalOpen_ || clock_.now() < nextRetry_) return;
    journalCause_.clear();
    journalOpen_ = journal_.open(settings_.journal, settings_.journalMB * 1024 * 1024, journalCause_);
    if (!journalOpen_) nextRetry_ = clock_.now() + JournalRetry;
}

bool Publisher::Enqueue(const std::vector<MqttMessage>& messaggi, std::string& error) {
    if (!active_ || messaggi.empty()) return true;
    reopenJournal();
    bool fatto = false;
    {
        std::lock_guard lock(mutex_);
        if (!journalOpen_) {
            error = journalCause_;
        } else if (clock_.now() < nextRetry_) {
            error = journalError_;
        } else if (memoria_.empty()) {
            fatto = journal_.append(messaggi, error);
        } else {
            // What waits in memory goes back to the journal first.
            std::vector<MqttMessage> tutti;
            for (const auto& menuItem : memoria_) tutti.push_back(menuItem.second);
            tutti.insert(tutti.end(), messaggi.begin(), messaggi.end());
            fatto = journal_.append(tutti, error);
            if (fatto) memoria_.clear();
        }
        if (!fatto && journalOpen_ && clock_.now() >= nextRetry_)
            nextRetry_ = clock_.now() + JournalRetry;
        if (!fatto) inMemoria(messaggi);
        journalError_ = fatto ? std::string() : error;
    }
    wake();
    return fatto;
}

// By mutex_. Past the bound the oldest go, counted.
void Publisher::inMemoria(const std::vector<MqttMessage>& messaggi) {
    for (const MqttMessage& m : messaggi) memoria_.emplace_back(++memoryNumber_, m);
    while (memoria_.size() > MaxInMemory) {
        memoria_.pop_front();
        ++droppedInMemory_;
    }
}

void Publisher::PublishStatus(const std::vector<MqttMessage>& messaggi) {
    if (!active_) return;
    {
        std::lock_guard lock(mutex_);
        for (const MqttMessage& m : messaggi) {
            const auto stesso = std::find_if(statusMessages_.begin(), statusMessages_.end(),
                                             [&](const auto& s) { return s.topic == m.topic; });
            if (stesso != statusMessages_.end())
                *stesso = m;
            else
                statusMessages_.push_back(m);
        }
    }
    wake();
}

void Publisher::wake() { consegne_.wake(); }

void Publisher::Step() {
    std::vector<std::int64_t> presi;
    for (const int number : client_.takeDelivered()) {
        const auto it = inFlight_.find(number);
        if (it == inFlight_.end()) continue;
        if (it->second.inMemoria) {
            std::lock_guard lock(mutex_);
            std::erase_if(memoria_, [&](const auto& menuItem) { return menuItem.first == it->second.id; });
        } else {
            presi.push_back(it->second.id);
        }
        inFlight_.erase(it);
    }
    if (!presi.empty()) journal_.remove(presi);
    if (client_.status().state != MqttState::Connected) return;
    {
        std::lock_guard lock(mutex_);
        while (!statusMessages_.empty() && client_.publish(statusMessages_.front())) statusMessages_.erase(statusMessages_.begin());
    }
    const TimePoint adesso = clock_.now();
    // A message the broker never acknowledged, though connected all along:
    // everything still waiting is handed over again, in order.
    for (const auto& [number, menuItem] : inFlight_) {
        if (adesso - menuItem.when < AckTimeout) continue;
        inFlight_.clear();
        lastDelivered_ = lastInMemory_ = 0;
        break;
    }
    deliver(adesso);
}

// The journal's messages first, then memory's, which are newer; no more
// than the window unacknowledged.
void Publisher::deliver(TimePoint adesso) {
    if (inFlight_.size() >= Finestra) return;
    const std::size_t posto = Finestra - inFlight_.size();
    const std::vector<JournalEntry> voci = journal_.next(lastDelivered_, posto);
    for (const JournalEntry& e : voci) {
        const std::optional<int> number = client_.publish(e.message);
        if (!number) return;
        inFlight_[*number] = {false, e.id, adesso};
        lastDelivered_ = e.id;
    }
    if (voci.size() == posto) return;
    std::lock_guard lock(mutex_);
    for (const auto& [n, m] : memoria_) {
        if (n <= lastInMemory_) continue;
        if (inFlight_.size() >= Finestra) return;
        const std::optional<int> number = client_.publish(m);
        if (!number) return;
        inFlight_[*number] = {true, n, adesso};
        lastInMemory_ = n;
    }
}

bool Publisher::allDelivered() {
    if (!inFlight_.empty() || !journal_.next(lastDelivered_, 1).empty()) return false;
    std::lock_guard lock(mutex_);
    return memoria_.empty() || memoria_.back().first <= lastInMemory_;
}

void Publisher::Stop(int attesaMs) {
    if (!active_) return;
    consegne_.stop();
    const auto connesso = [this] { return client_.status().state == MqttState::Connected; };
    // A first attempt under way gets a moment; a broker that cannot be
    // reached holds nothing up.
    const TimePoint start = clock_.now();
    const Millis grazia = std::min(Millis(attesaMs), ConnectWait);
    while (!connesso() && client_.status().error.empty() && clock_.now() - start < grazia)
        clock_.sleep(Millis(10));
    Millis resto{0};
    if (connesso()) {
        const TimePoint limite = clock_.now() + Millis(attesaMs);
        for (;;) {
            Step();
            if (allDelivered() || !connesso() || clock_.now() >= limite) break;
            clock_.sleep(Millis(5));
        }
        resto = std::max(Millis(0), std::chrono::duration_cast<Millis>(limite - clock_.now()));
    }
    client_.stop(MqttMessage{settings_.topic + "/state", "offline", 1, true},
                 static_cast<int>(resto.count()));
    active_ = false;
}

PublisherStatus Publisher::status() {
    PublisherStatus s;
    s.connection = client_.status();
    s.waiting = journal_.size();
    s.scartati = journal_.dropped();
    std::lock_guard lock(mutex_);
    s.waiting += static_cast<std::int64_t>(memoria_.size());
    s.droppedInMemory = droppedInMemory_;
    s.journalError = journalError_;
    return s;
}

}  // namespace tarvel
