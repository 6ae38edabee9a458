#pragma once
// The MQTT connection on libmosquitto, with the library's own network
// thread: publishing only queues, callbacks only record. A first
// attempt that fails at once is tried again on a thread of ours.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/MqttClient.h"

struct mosquitto;

namespace tarvel {

class MosquittoClient : public MqttClient {
  public:
    // How long new messages wait after a reconnection for the ones the
    // library sends again (see publish()).
    static constexpr std::chrono::seconds ResendWait{10};

    MosquittoClient();
    ~MosquittoClient() override;
    MosquittoClient(const MosquittoClient&) = delete;
    MosquittoClient& operator=(const MosquittoClient&) = delete;

    bool start(const MqttConnection& connection, std::string& error) override;
    std::optional<int> publish(const MqttMessage& message) override;
    std::vector<int> takeDelivered() override;
    MqttStatus status() const override;
    void onEvent(std::function<void()> wake) override;
    void stop(const std::optional<MqttMessage>& last, int waitMs) override;

  private:
    static void connected(mosquitto*, void* self, int code);
    static void disconnected(mosquitto*, void* self, int code);
    static void published(mosquitto*, void* self, int id);
    static void logged(mosquitto*, void* self, int level, const char* text);
    std::optional<int> hand(const MqttMessage& message);
    bool connect(const MqttConnection& connection);
    void keepConnecting(const MqttConnection& connection);
    void notify();

    mosquitto* handle_ = nullptr;
    std::optional<MqttMessage> greeting_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    MqttStatus status_;
    std::vector<int> delivered_;
    std::vector<int> seen_;  // delivered numbers, for stop()'s wait
    // Handed with QoS 1 or 2 and not yet acknowledged; of those, the ones
    // the library sends again after the last reconnection.
    std::vector<int> unacknowledged_;
    std::vector<int> resent_;
    std::chrono::steady_clock::time_point reconnected_;
    bool stopping_ = false;
    std::thread connector_;  // only while a first attempt keeps failing at once
    std::function<void()> wake_;
};

}  // namespace tarvel
