#include "platform/httplib/HttplibWebServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tarvel {
namespace {

// The server's threads carry one name, so that top -H and /proc tell them.
void nameThread() {
    static thread_local const bool named = pthread_setname_np(pthread_self(), "tarvel-web") == 0;
    (void)named;
}

}  // namespace

// The connection threads, with a bound on the connections accepted and not
// yet done: past it the listening thread waits before it accepts again, so
// further clients wait in the system's backlog.
class BoundedTaskQueue : public httplib::TaskQueue {
  public:
    BoundedTaskQueue(int threads, int waiting)
        : pool_(static_cast<std::size_t>(threads)), limit_(threads + waiting) {}

    void enqueue(std::function<void()> fn) override {
        {
            std::unique_lock lock(mutex_);
            freed_.wait(lock, [this] { return open_ < limit_ || stopping_; });
            ++open_;
        }
        pool_.enqueue([this, fn = std::move(fn)] {
            nameThread();
            fn();
            std::lock_guard lock(mutex_);
            --open_;
            freed_.notify_one();
        });
    }
    ~BoundedTaskQueue() override { shutdown(); }
    BoundedTaskQueue(const BoundedTaskQueue&) = delete;
    BoundedTaskQueue& operator=(const BoundedTaskQueue&) = delete;

    // Lets the running connections end and joins their threads; once.
    void shutdown() override {
        release();
        if (joined_) return;
        joined_ = true;
        pool_.shutdown();
    }
    // The listening thread no longer waits for a free place.
    void release() {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        freed_.notify_all();
    }

  private:
    httplib::ThreadPool pool_;
    std::mutex mutex_;
    std::condition_variable freed_;
    int open_ = 0;
    const int limit_;
    bool stopping_ = false;
    bool joined_ = false;
};

namespace {

// What the server owns of the queue: a handle. The threads are joined by
// stop() alone, once the listening thread has ended.
class QueueHandle : public httplib::TaskQueue {
  public:
    explicit QueueHandle(BoundedTaskQueue& queue) : queue_(queue) {}
    void enqueue(std::function<void()> fn) override { queue_.enqueue(std::move(fn)); }
    void shutdown() override { queue_.release(); }

  private:
    BoundedTaskQueue& queue_;
};

// Between two events, how long a stream waits before it looks whether the
// server stops; a comment line every so many waits finds a client gone.
constexpr std::chrono::milliseconds EventWait{250};
constexpr int WaitsPerComment = 60;

HttpRequest requestOf(const httplib::Request& req) {
    HttpRequest r;
    r.method = req.method;
    r.path = req.path;
    for (const auto& [key, value] : req.params) r.query.emplace_back(key, value);
    r.authorization = req.get_header_value("Authorization");
    r.headerCount = req.headers.size();
    return r;
}

std::string addressText(const WebListen& listen) {
    const bool v6 = listen.bind.find(':') != std::string::npos;
    return (v6 ? "[" + listen.bind + "]" : listen.bind) + ":" + std::to_string(listen.port);
}

// Why the certificate or the key cannot be used, naming the file.
std::string certificateProblem(const WebListen& listen) {
    for (const std::string* file : {&listen.certFile, &listen.keyFile})
        if (::access(file->c_str(), R_OK) != 0)
            return "impossibile leggere il file " + *file + " (" + std::strerror(errno) + ")";
    return "certificato " + listen.certFile + " o chiave " + listen.keyFile +
           " non validi (PEM, la chiave del certificato)";
}

// Whether the socket is a TCP connection whose own end is the port (not a
// listening socket).
bool acceptedOn(int sock, int port) {
    int type = 0, listening = 1;
    socklen_t size = sizeof type;
    if (::getsockopt(sock, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM)
        return false;
    size = sizeof listening;
    if (::getsockopt(sock, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening)
        return false;
    sockaddr_storage own{};
    socklen_t length = sizeof own;
    if (::getsockname(sock, reinterpret_cast<sockaddr*>(&own), &length) != 0) return false;
    if (own.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(own).sin_port) == port;
    if (own.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(own).sin6_port) == port;
    return false;
}

// Shuts down every connection accepted on the port, so that each thread
// serving one, whatever it waits for (the next request, the rest of one, the
// client's reading, a handshake), finds its socket ended at once. The
// library hands out no accepted socket: the process's descriptors are
// looked through. Each is looked at and shut down through a duplicate of
// its own, so a descriptor closed and reused meanwhile is judged as what it
// now is. No other TCP socket takes the port as its own end while the
// listening socket's copy holds it (see listenCopy_).
void shutDownConnections(int port) {
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder) return;  // then each connection ends within the idle time
    while (const dirent* entry = ::readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ::dirfd(folder)) continue;
        const int copy = ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0);
        if (copy < 0) continue;
        if (acceptedOn(copy, port)) ::shutdown(copy, SHUT_RDWR);
        ::close(copy);
    }
    ::closedir(folder);
}

}  // namespace

HttplibWebServer::HttplibWebServer() = default;

HttplibWebServer::~HttplibWebServer() { stop(); }

bool HttplibWebServer::start(const WebListen& listen, HttpSite& site, std::string& error) {
    stop();
    if (!listen.certFile.empty() || !listen.keyFile.empty())
        server_ = std::make_unique<httplib::SSLServer>(listen.certFile.c_str(),
                                                       listen.keyFile.c_str());
    else
        server_ = std::make_unique<httplib::Server>();
    if (!server_->is_valid()) {
        error = certificateProblem(listen);
        server_.reset();
        queue_.reset();
        return false;
    }
    // The server deletes the queue it is handed when it stops listening;
    // the threads and their bound live here until stop() has joined them.
    queue_ = std::make_unique<BoundedTaskQueue>(Threads, Waiting);
    server_->new_task_queue = [queue = queue_.get()] { return new QueueHandle(*queue); };
    server_->set_payload_max_length(MaxBody)
        .set_read_timeout(IdleSeconds, 0)
        .set_write_timeout(IdleSeconds, 0)
        .set_keep_alive_timeout(IdleSeconds)
        .set_keep_alive_max_count(RequestsPerConnection)
        // Without it a reply in two writes waits for the client's delayed
        // acknowledgement (40 ms on Linux).
        .set_tcp_nodelay(true)
        // The listening socket bound again at once after a stop, though the
        // connections it closed wait out their time; but by one program
        // only (the library's SO_REUSEPORT would let a second program of
        // the same user share the port unnoticed). A copy of it is kept
        // (the last one made is the one bound).
        .set_socket_options([this](int sock) {
            const int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            if (listenCopy_ >= 0) ::close(listenCopy_);
            listenCopy_ = ::fcntl(sock, F_DUPFD_CLOEXEC, 0);
        });
    site_ = &site;
    site.endWaits(false);
    route(site);
    errno = 0;
    if (!server_->bind_to_port(listen.bind, listen.port)) {
        const int cause = errno;
        error = "impossibile ascoltare su " + addressText(listen) +
                (cause ? std::string(" (") + std::strerror(cause) + ")" : "");
        server_.reset();
        queue_.reset();
        closeListenCopy();
        return false;
    }
    port_ = listen.port;
    thread_ = std::thread([server = server_.get()] {
        nameThread();
        server->listen_after_bind();
    });
    // A stop reaches only a server that runs: the thread is waited for.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void HttplibWebServer::route(HttpSite& site) {
    server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.headers.size() <= MaxHeaders) return httplib::Server::HandlerResponse::Unhandled;
        res.status = 431;
        return httplib::Server::HandlerResponse::Handled;
    });
    server_->Get(".*", [this, &site](const httplib::Request& req, httplib::Response& res) {
        HttpReply reply = site.answer(requestOf(req));
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers) res.set_header(name, value);
        if (!reply.eventStream) {
            res.set_content(std::move(reply.body), reply.contentType.c_str());
            return;
        }
        if (++streams_ > Streams) {
            --streams_;
            res.status = 503;
            return;
        }
        auto seen = std::make_shared<std::uint64_t>(0);
        auto waits = std::make_shared<int>(0);
        res.set_chunked_content_provider(
            "text/event-stream",
            [&site, seen, waits](std::size_t, httplib::DataSink& sink) {
                std::optional<std::string> event = site.nextEvent(*seen, EventWait);
                if (!event && ++*waits % WaitsPerComment == 0) event = ":\n\n";
                return !event || sink.write(event->data(), event->size());
            },
            [this](bool) { --streams_; });
    });
}

// Nothing is accepted once the listening thread has ended; then every
// connection is cut, and each thread leaves its wait at once.
void HttplibWebServer::stop() {
    if (!server_) return;
    queue_->release();
    server_->stop();
    if (thread_.joinable()) thread_.join();
    site_->endWaits(true);
    shutDownConnections(port_);
    queue_->shutdown();
    closeListenCopy();
    server_.reset();
    queue_.reset();
    site_ = nullptr;
    port_ = 0;
}

void HttplibWebServer::closeListenCopy() {
    if (listenCopy_ >= 0) ::close(listenCopy_);
    listenCopy_ = -1;
}

}  // namespace tarvel
