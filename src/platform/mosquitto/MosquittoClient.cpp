#include "platform/mosquitto/MosquittoClient.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace tarvel {
namespace {

using Clock = std::chrono::steady_clock;

// The library's global state, set up once for the whole program.
void InitLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::string LibraryError(int code) {
    return code == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno))
                                  : std::string(mosquitto_strerror(code));
}

// The broker's host name as the settings give it, kept with the TLS context:
// the connection is made to one of its addresses, but the name is what the
// certificate must carry and what the broker is told (SNI).
int TlsNameIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// The library tells the broker the address it connects to; the name goes in
// its place before the handshake's first message is made.
void TellTheName(const SSL* ssl, int where, int) {
    if ((where & SSL_CB_HANDSHAKE_START) == 0) return;
    auto* s = const_cast<SSL*>(ssl);
    const auto* name =
        static_cast<const std::string*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(s), TlsNameIndex()));
    if (name) SSL_set_tlsext_host_name(s, name->c_str());
}

bool IsAddress(const std::string& host) {
    unsigned char bytes[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

// Certificates signed by the CA of the file, for the host as named.
SSL_CTX* TlsContext(const std::string& caFile, const std::string* host, std::string& error) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        error = "TLS non disponibile";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    if (SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1) {
        error = "il file " + caFile + " non contiene certificati validi";
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (IsAddress(*host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host->c_str());
    } else {
        X509_VERIFY_PARAM_set1_host(param, host->c_str(), 0);
        SSL_CTX_set_ex_data(ctx, TlsNameIndex(), const_cast<std::string*>(host));
        SSL_CTX_set_info_callback(ctx, TellTheName);
    }
    return ctx;
}

// What a lookup found, kept by the lookup itself: one that a stop leaves
// behind finishes on the lookup thread and writes here, unread.
struct Lookup {
    std::vector<std::string> addresses;
    std::string error;
};

}  // namespace

std::vector<std::string> MosquittoClient::SystemResolver(const std::string& host,
                                                         std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list); rc != 0) {
        error = host + ": " + ::gai_strerror(rc);
        return {};
    }
    std::vector<std::string> addresses;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(ai->ai_addr, ai->ai_addrlen, text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) == 0 &&
            std::find(addresses.begin(), addresses.end(), text) == addresses.end())
            addresses.push_back(text);
    }
    ::freeaddrinfo(list);
    return addresses;
}

MosquittoClient::MosquittoClient(Resolver resolver, std::chrono::milliseconds attemptTimeout)
    : resolver_(std::move(resolver)), attemptTimeout_(attemptTimeout) {
    InitLibrary();
}

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
    if (!configure(c, error)) {
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
        stopping_ = false;
    }
    // A broker that is not there yet is no error: the thread keeps trying.
    network_ = std::thread([this, c] { run(c); });
    return true;
}

// The options, the credentials, the last will and TLS. The library's own
// thread is not used: ours calls its loop, so it never blocks on a connect.
bool MosquittoClient::configure(const MqttConnection& c, std::string& error) {
    mosquitto_threaded_set(handle_, true);
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(handle_, &MosquittoClient::connected);
    mosquitto_disconnect_callback_set(handle_, &MosquittoClient::disconnected);
    mosquitto_publish_callback_set(handle_, &MosquittoClient::published);
    mosquitto_log_callback_set(handle_, &MosquittoClient::logged);
    int rc = MOSQ_ERR_SUCCESS;
    if (!c.user.empty())
        rc = mosquitto_username_pw_set(handle_, c.user.c_str(),
                                       c.password.empty() ? nullptr : c.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && c.will)
        rc = mosquitto_will_set(handle_, c.will->topic.c_str(),
                                static_cast<int>(c.will->payload.size()), c.will->payload.data(),
                                c.will->qos, c.will->retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = LibraryError(rc);
        return false;
    }
    if (c.caFile.empty()) return true;
    tlsHost_ = c.host;
    SSL_CTX* ctx = TlsContext(c.caFile, &tlsHost_, error);
    if (!ctx) return false;
    // The library takes a reference of its own.
    mosquitto_int_option(handle_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    rc = mosquitto_void_option(handle_, MOSQ_OPT_SSL_CTX, ctx);
    SSL_CTX_free(ctx);
    if (rc != MOSQ_ERR_SUCCESS) error = LibraryError(rc);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MosquittoClient::stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void MosquittoClient::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, duration, [this] { return stopping_; });
}

void MosquittoClient::setError(const std::string& error) {
    {
        std::lock_guard lock(mutex_);
        status_.error = error;
    }
    notify();
}

// The network thread: every address of the name in turn, until one takes
// the connection; after a loss, or when none did, again after a pause.
void MosquittoClient::run(const MqttConnection& c) {
    while (!stopping()) {
        std::string error;
        const std::vector<std::string> addresses = resolve(c.host, error);
        if (addresses.empty() && !stopping()) setError(error);
        for (const std::string& address : addresses)
            if (stopping() || attempt(address, c)) break;
        pause(RetryDelay);
    }
    closeConnection();
}

// A stop does not wait for the lookup: it finishes on its thread, which
// the destructor joins.
std::vector<std::string> MosquittoClient::resolve(const std::string& host, std::string& error) {
    auto found = std::make_shared<Lookup>();
    const bool done = lookups_.run(
        [found, resolver = resolver_, host] { found->addresses = resolver(host, found->error); },
        LookupThread::Deadline::max(), [this] { return stopping(); });
    if (!done) return {};
    error = found->error;
    return found->addresses;
}

// One address, until it fails, its time is up before the broker accepted,
// or the connection it made is lost: true when it was connected.
bool MosquittoClient::attempt(const std::string& address, const MqttConnection& c) {
    int rc = mosquitto_connect_async(handle_, address.c_str(), c.port, c.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        setError(LibraryError(rc));
        return false;
    }
    const auto deadline = Clock::now() + attemptTimeout_;
    bool wasConnected = false;
    while (!stopping()) {
        rc = mosquitto_loop(handle_, 100, 1);
        wasConnected = wasConnected || status().state == MqttState::Connected;
        if (rc != MOSQ_ERR_SUCCESS) break;
        if (!wasConnected && Clock::now() >= deadline) {
            setError("nessuna risposta entro " + std::to_string(attemptTimeout_.count()) + " ms");
            break;
        }
    }
    return wasConnected;
}

// A clean end: the broker is told, so that it does not publish the will.
void MosquittoClient::closeConnection() {
    if (status().state != MqttState::Connected) return;
    mosquitto_disconnect(handle_);
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (mosquitto_loop(handle_, 50, 1) == MOSQ_ERR_SUCCESS && Clock::now() < deadline) {
    }
}

// After a reconnection the library sends again what the broker had not
// acknowledged, but only after whatever is handed to it meanwhile: so new
// messages wait until those are acknowledged, or for ResendWait at most.
std::optional<int> MosquittoClient::publish(const MqttMessage& m) {
    {
        std::lock_guard lock(mutex_);
        if (!resent_.empty() && Clock::now() - reconnected_ < ResendWait) return std::nullopt;
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

// Waits for a call under way on the network thread; from inside the
// callback itself (the same thread) it takes effect at once.
void MosquittoClient::onEvent(std::function<void()> wake) {
    std::lock_guard lock(callMutex_);
    wake_ = std::move(wake);
}

// `last` is waited for only while connected; the network thread then ends
// within its next short step, whatever the broker does.
void MosquittoClient::stop(const std::optional<MqttMessage>& last, int waitMs) {
    if (!handle_) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
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
    if (network_.joinable()) network_.join();
    mosquitto_destroy(handle_);
    handle_ = nullptr;
    std::lock_guard lock(mutex_);
    status_ = {};
}

// The callback is called under callMutex_, so that its removal waits for
// the call; a copy is called, so that it may remove or replace itself.
void MosquittoClient::notify() {
    changed_.notify_all();
    std::lock_guard lock(callMutex_);
    if (!wake_) return;
    const std::function<void()> wake = wake_;
    wake();
}

void MosquittoClient::connected(mosquitto* handle, void* self, int code) {
    auto& client = *static_cast<MosquittoClient*>(self);
    {
        std::lock_guard lock(client.mutex_);
        if (code == 0) {
            client.status_ = {MqttState::Connected, {}};
            client.resent_ = client.unacknowledged_;
            client.reconnected_ = Clock::now();
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
