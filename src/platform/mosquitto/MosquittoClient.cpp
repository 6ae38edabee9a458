#include "platform/mosquitto/MosquittoClient.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tarvel {
namespace {

// The library's global state, set up once for the whole program.
void InitLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::string LibraryError(int code) {
    return code == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno))
                                  : std::string(mosquitto_strerror(code));
}

}  // namespace

MosquittoClient::MosquittoClient() { InitLibrary(); }

MosquittoClient::~MosquittoClient() {
    if (handle_) stop(std::nullopt, 0);
}

bool MosquittoClient::start(const MqttConnection& c, std::string& error) {
    if (handle_) stop(std::nullopt, 0);
    if (!c.caFile.empty()) {
        if (FILE* f = std::fopen(c.caFile.c_str(), "rb")) {
            std::fclose(f);
        } else {
            error = "impossibile leggere il file " + c.caFile + " (" + std::strerror(errno) + ")";
            return false;
        }
    }
    handle_ = mosquitto_new(c.clientId.empty() ? nullptr : c.clientId.c_str(),
                            c.clientId.empty() || !c.persistentSession, this);
    if (!handle_) {
        error = std::string("libmosquitto: ") + std::strerror(errno);
        return false;
    }
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(handle_, &MosquittoClient::connected);
    mosquitto_disconnect_callback_set(handle_, &MosquittoClient::disconnected);
    mosquitto_publish_callback_set(handle_, &MosquittoClient::published);
    mosquitto_log_callback_set(handle_, &MosquittoClient::logged);
    mosquitto_reconnect_delay_set(handle_, 1, 1, false);
    int rc = MOSQ_ERR_SUCCESS;
    if (!c.user.empty())
        rc = mosquitto_username_pw_set(handle_, c.user.c_str(),
                                       c.password.empty() ? nullptr : c.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && c.will)
        rc = mosquitto_will_set(handle_, c.will->topic.c_str(),
                                static_cast<int>(c.will->payload.size()), c.will->payload.data(),
                                c.will->qos, c.will->retain);
    if (rc == MOSQ_ERR_SUCCESS && !c.caFile.empty())
        rc = mosquitto_tls_set(handle_, c.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = LibraryError(rc);
        mosquitto_destroy(handle_);
        handle_ = nullptr;
        return false;
    }
    greeting_ = c.greeting;
    {
        std::lock_guard lock(mutex_);
        status_ = {MqttState::Connecting, {}};
        delivered_.clear();
        seen_.clear();
        unacknowledged_.clear();
        resent_.clear();
    }
    rc = mosquitto_loop_start(handle_);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = LibraryError(rc);
        mosquitto_destroy(handle_);
        handle_ = nullptr;
        std::lock_guard lock(mutex_);
        status_ = {};
        return false;
    }
    // A broker that is not there yet is no error. With the network thread
    // running, a refused connection comes back as a disconnection, which
    // the thread tries again; an attempt that fails at once (a host name
    // that does not resolve yet) the library never tries again, so a thread
    // of ours does, once a second.
    stopping_ = false;
    if (!connect(c)) connector_ = std::thread([this, c] { keepConnecting(c); });
    return true;
}

bool MosquittoClient::connect(const MqttConnection& c) {
    const int rc = mosquitto_connect_async(handle_, c.host.c_str(), c.port, c.keepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) return true;
    std::lock_guard lock(mutex_);
    status_.error = LibraryError(rc);
    return false;
}

void MosquittoClient::keepConnecting(const MqttConnection& c) {
    std::unique_lock lock(mutex_);
    while (!changed_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
        lock.unlock();
        const bool connected = connect(c);
        lock.lock();
        if (connected) return;
    }
}

// After a reconnection the library sends again what the broker had not
// acknowledged, but only after whatever is handed to it meanwhile: so new
// messages wait until those are acknowledged, or for ResendWait at most.
std::optional<int> MosquittoClient::publish(const MqttMessage& m) {
    {
        std::lock_guard lock(mutex_);
        if (!resent_.empty() && std::chrono::steady_clock::now() - reconnected_ < ResendWait)
            return std::nullopt;
    }
    return hand(m);
}

std::optional<int> MosquittoClient::hand(const MqttMessage& m) {
    if (!handle_ || status().state != MqttState::Connected) return std::nullopt;
    int id = 0;
    const int rc =
        mosquitto_publish(handle_, &id, m.topic.c_str(), static_cast<int>(m.payload.size()),
                          m.payload.data(), m.qos, m.retain);
    if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
    std::lock_guard lock(mutex_);
    // Unless its acknowledgement came already.
    if (m.qos > 0 && std::find(seen_.begin(), seen_.end(), id) == seen_.end())
        unacknowledged_.push_back(id);
    return id;
}

std::vector<int> MosquittoClient::takeDelivered() {
    std::lock_guard lock(mutex_);
    return std::exchange(delivered_, {});
}

MqttStatus MosquittoClient::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void MosquittoClient::onEvent(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void MosquittoClient::stop(const std::optional<MqttMessage>& last, int waitMs) {
    if (!handle_) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    if (last) {
        if (const auto id = hand(*last)) {
            std::unique_lock lock(mutex_);
            changed_.wait_until(lock, deadline, [&] {
                return std::find(seen_.begin(), seen_.end(), *id) != seen_.end() ||
                       status_.state != MqttState::Connected;
            });
        }
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (connector_.joinable()) connector_.join();
    mosquitto_disconnect(handle_);
    mosquitto_loop_stop(handle_, false);
    mosquitto_destroy(handle_);
    handle_ = nullptr;
    std::lock_guard lock(mutex_);
    status_ = {};
}

void MosquittoClient::notify() {
    changed_.notify_all();
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        wake = wake_;
    }
    if (wake) wake();
}

void MosquittoClient::connected(mosquitto* handle, void* self, int code) {
    auto& client = *static_cast<MosquittoClient*>(self);
    {
        std::lock_guard lock(client.mutex_);
        if (code == 0) {
            client.status_ = {MqttState::Connected, {}};
            client.resent_ = client.unacknowledged_;
            client.reconnected_ = std::chrono::steady_clock::now();
        } else {
            client.status_ = {MqttState::Connecting, mosquitto_connack_string(code)};
        }
    }
    if (code == 0 && client.greeting_) {
        const MqttMessage& g = *client.greeting_;
        mosquitto_publish(handle, nullptr, g.topic.c_str(), static_cast<int>(g.payload.size()),
                          g.payload.data(), g.qos, g.retain);
    }
    client.notify();
}

void MosquittoClient::disconnected(mosquitto*, void* self, int code) {
    auto& client = *static_cast<MosquittoClient*>(self);
    {
        std::lock_guard lock(client.mutex_);
        const bool wasConnected = client.status_.state == MqttState::Connected;
        client.status_.state = MqttState::Connecting;
        if (code != 0 && client.status_.error.empty())
            client.status_.error = wasConnected ? "connessione persa (" + LibraryError(code) + ")"
                                                : LibraryError(code);
    }
    client.notify();
}

// The library tells why a TLS handshake failed only in its log; that
// reason wins over the plain "TLS error" of the disconnection.
void MosquittoClient::logged(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || !text) return;
    auto& client = *static_cast<MosquittoClient*>(self);
    std::lock_guard lock(client.mutex_);
    if (client.status_.state != MqttState::Connected) client.status_.error = text;
}

void MosquittoClient::published(mosquitto*, void* self, int id) {
    auto& client = *static_cast<MosquittoClient*>(self);
    {
        std::lock_guard lock(client.mutex_);
        client.delivered_.push_back(id);
        client.seen_.push_back(id);
        std::erase(client.unacknowledged_, id);
        std::erase(client.resent_, id);
        if (client.seen_.size() > 4096)
            client.seen_.erase(client.seen_.begin(), client.seen_.begin() + 2048);
    }
    client.notify();
}

}  // namespace tarvel
