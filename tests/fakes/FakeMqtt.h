#pragma once
// The broker connection and the journal of the publishing, in memory: the
// test says when the broker is up, acknowledges, and fills the disk.

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Journal.h"
#include "platform/MqttClient.h"

namespace tarvel::fakes {

// The broker connection: up or down as the test says; messages get
// increasing numbers and wait to be acknowledged by the test.
struct ClientFinto : MqttClient {
    bool start(const MqttConnection& c, std::string&) override {
        connection = c;
        return true;
    }
    std::optional<int> publish(const MqttMessage& m) override {
        if (up) consegnati.push_back(m);
        return up ? std::optional(++number) : std::nullopt;
    }
    std::vector<int> takeDelivered() override { return std::exchange(confermati, {}); }
    MqttStatus status() const override {
        return {up ? MqttState::Connected : MqttState::Connecting, error};
    }
    void onEvent(std::function<void()>) override {}
    void stop(const std::optional<MqttMessage>& last, int wait) override {
        latest = last;
        attesaFinale = wait;
    }
    // Acknowledges every message handed over so far.
    void confermaTutti() {
        while (confermato < number) confermati.push_back(++confermato);
    }

    bool up = false;
    std::string error;  // why the broker cannot be reached
    int number = 0, confermato = 0;
    std::vector<int> confermati;
    std::vector<MqttMessage> consegnati;
    std::optional<MqttMessage> latest;
    int attesaFinale = -1;  // what the stop gave the last message
    MqttConnection connection;
    // The payloads handed over, in order.
    std::string payloads() const {
        std::string out;
        for (const auto& m : consegnati) out += (out.empty() ? "" : " ") + m.payload;
        return out;
    }
};

// The journal in memory; the test says when the disk is full, and how many
// messages the cap has dropped.
struct GiornaleFinto : Journal {
    bool open(const std::string&, std::int64_t, std::string& error) override {
        error = guasto;
        return guasto.empty();
    }
    bool append(const std::vector<MqttMessage>& ms, std::string& error) override {
        if (pieno)
            error = "database or disk is full";
        else
            for (const auto& m : ms) entries[++latest] = m;
        return !pieno;
    }
    std::vector<JournalEntry> next(std::int64_t dopo, std::size_t n) override {
        std::vector<JournalEntry> out;
        for (auto v = entries.upper_bound(dopo); v != entries.end() && out.size() < n; ++v)
            out.push_back({v->first, v->second});
        return out;
    }
    void remove(const std::vector<std::int64_t>& ids) override {
        for (const std::int64_t id : ids) entries.erase(id);
    }
    std::int64_t size() override { return static_cast<std::int64_t>(entries.size()); }
    std::int64_t dropped() override { return droppedCount; }

    std::map<std::int64_t, MqttMessage> entries;  // by id
    std::int64_t latest = 0, droppedCount = 0;
    bool pieno = false;
    std::string guasto;  // why the journal cannot be opened
};

}  // namespace tarvel::fakes
