#pragma once
// The web server on cpp-httplib: a listening thread and a bounded pool of
// connection threads, started and joined here.

#include <atomic>
#include <memory>
#include <thread>

#include "platform/WebServer.h"

namespace httplib {
class Server;
}

namespace tarvel {

class BoundedTaskQueue;

class HttplibWebServer : public WebServer {
  public:
    // The bounds every connection is held to.
    static constexpr int Threads = 16;         // connections served at once
    static constexpr int Waiting = 16;         // accepted, waiting for a thread
    static constexpr int Streams = 8;          // event streams at once
    static constexpr std::size_t MaxBody = 4096;
    static constexpr std::size_t MaxHeaders = 64;
    static constexpr int IdleSeconds = 1;      // read, write and keep-alive waits
    static constexpr int RequestsPerConnection = 100;

    HttplibWebServer();
    ~HttplibWebServer() override;
    HttplibWebServer(const HttplibWebServer&) = delete;
    HttplibWebServer& operator=(const HttplibWebServer&) = delete;

    bool start(const WebListen& listen, HttpSite& site, std::string& error) override;
    void stop() override;
    int port() const override { return port_; }

  private:
    void route(HttpSite& site);
    void closeListenCopy();

    std::unique_ptr<httplib::Server> server_;
    std::unique_ptr<BoundedTaskQueue> queue_;  // the connection threads
    std::thread thread_;
    std::atomic<int> streams_ = 0;
    HttpSite* site_ = nullptr;
    int port_ = 0;
    // A copy of the listening socket: the library's stop shuts it down and
    // closes its own descriptor; this one keeps a port given in the
    // settings bound (no connect takes it as its own end) until the
    // connections accepted on it are cut.
    int listenCopy_ = -1;
};

}  // namespace tarvel
