#pragma once
// A connection to an MQTT broker that keeps itself up: it connects in the
// background, connects again after a loss, and tells which messages the
// broker took. Nothing here waits for the network.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvel {

struct MqttMessage {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = false;
    bool operator==(const MqttMessage&) const = default;
};

struct MqttConnection {
    std::string host;
    int port = 1883;
    std::string clientId;
    std::string user;
    std::string password;
    // The broker's certificate authority: TLS when set, with the broker's
    // host name checked against its certificate.
    std::string caFile;
    int keepAliveSeconds = 30;
    // Kept across connections: what the broker has not acknowledged is sent
    // again when the connection is back.
    bool persistentSession = true;
    // The broker publishes it when the connection is lost.
    std::optional<MqttMessage> will;
    // Published at every connection, before anything else.
    std::optional<MqttMessage> greeting;
};

enum class MqttState {
    Stopped,
    Connecting,  // the first attempt, or again after a loss
    Connected,
};

struct MqttStatus {
    MqttState state = MqttState::Stopped;
    // Why the last attempt failed or the connection was lost, in the words
    // of the library or the broker; empty after a good connection.
    std::string error;
    bool operator==(const MqttStatus&) const = default;
};

class MqttClient {
  public:
    virtual ~MqttClient() = default;
    // Starts connecting in the background and keeps connecting, once a
    // second at most, until stop(). False, with the cause, when the
    // connection cannot even be tried (a CA file that cannot be read).
    virtual bool start(const MqttConnection& connection, std::string& error) = 0;
    // Hands a message to the connection without waiting for the network:
    // its number, or nothing when there is no connection to hand it to.
    virtual std::optional<int> publish(const MqttMessage& message) = 0;
    // The numbers of the messages that the broker acknowledged (QoS 1 and
    // 2), or that went into the socket (QoS 0), since the last call.
    virtual std::vector<int> takeDelivered() = 0;
    virtual MqttStatus status() const = 0;
    // Called on the client's own thread whenever a message was delivered
    // or the connection changed; it must only wake whoever waits. Once a
    // removal (nullptr) or replacement returned, the old callback is not
    // running and is never called again: the call waits for a call under
    // way, unless made from inside the callback.
    virtual void onEvent(std::function<void()> wake) = 0;
    // Ends the connection cleanly, so that the broker does not send the
    // will; `last` is published first and waited for, at most `waitMs`.
    virtual void stop(const std::optional<MqttMessage>& last, int waitMs) = 0;
};

}  // namespace tarvel
