#pragma once
// The MQTT connection on libmosquitto, driven by a network thread of ours:
// publishing only queues, callbacks only record. The thread resolves the
// broker's name itself, on a lookup thread of the client's, and tries each
// of its addresses in turn, so a name whose first address refuses
// (localhost as ::1) still reaches the broker; each of its steps is short,
// so a stop never waits for a broker or a name server that does not answer.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MqttClient.h"
#include "platform/posix/LookupThread.h"

struct mosquitto;

namespace tarvel {

class MosquittoClient : public MqttClient {
  public:
    // A host name into the numeric addresses to try, in order; none, with
    // the cause, when it has none.
    using Resolver =
        std::function<std::vector<std::string>(const std::string& host, std::string& error)>;
    // The system's resolver (getaddrinfo).
    static std::vector<std::string> SystemResolver(const std::string& host, std::string& error);

    // How long new messages wait after a reconnection for the ones the
    // library sends again (see publish()).
    static constexpr std::chrono::seconds ResendWait{10};
    // How long one address may take to connect, TLS and the broker's answer
    // included, before the next one is tried.
    static constexpr std::chrono::milliseconds AttemptTimeout{10000};
    // The pause before the addresses are tried again, after a loss or after
    // each of them failed.
    static constexpr std::chrono::milliseconds RetryDelay{1000};

    explicit MosquittoClient(Resolver resolver = SystemResolver,
                             std::chrono::milliseconds attemptTimeout = AttemptTimeout);
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
    bool configure(const MqttConnection& connection, std::string& error);
    std::optional<int> hand(const MqttMessage& message);
    void run(const MqttConnection& connection);
    std::vector<std::string> resolve(const std::string& host, std::string& error);
    bool attempt(const std::string& address, const MqttConnection& connection);
    void closeConnection();
    bool stopping() const;
    void pause(std::chrono::milliseconds duration);
    void setError(const std::string& error);
    void notify();

    Resolver resolver_;
    std::chrono::milliseconds attemptTimeout_;
    mosquitto* handle_ = nullptr;
    std::string tlsHost_;  // the name the broker's certificate must carry
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
    std::thread network_;  // from start() to stop()
    // Held while the callback runs, never with mutex_ held: recursive, as
    // the callback may call onEvent() itself.
    std::recursive_mutex callMutex_;
    std::function<void()> wake_;
    // The broker's name is looked up here; declared last, so that it is
    // joined first.
    LookupThread lookups_;
};

}  // namespace tarvel
