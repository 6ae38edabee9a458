#pragma once
// An HTTP server on a thread of its own: it takes requests and asks the
// site for each answer. The site is the program's; the server only carries
// bytes, keeps the connections within their bounds and, at a stop, ends
// every connection at once, whatever its client does.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvel {

struct HttpRequest {
    std::string method;  // "GET", "HEAD", ...
    std::string path;    // without the query
    // The query's parameters, decoded, in order.
    std::vector<std::pair<std::string, std::string>> query;
    std::string authorization;  // the Authorization header, as sent
    std::size_t headerCount = 0;

    // The first parameter of that name, when sent.
    std::optional<std::string> parameter(const std::string& name) const {
        for (const auto& [key, value] : query)
            if (key == name) return value;
        return std::nullopt;
    }
};

struct HttpReply {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // An event stream follows the headers: the server asks the site for
    // its events until the client goes or the server stops.
    bool eventStream = false;
};

class HttpSite {
  public:
    virtual ~HttpSite() = default;
    // Called on the server's threads, any number at once.
    virtual HttpReply answer(const HttpRequest& request) = 0;
    // The next event of a stream after the one numbered `seen` (0 before
    // the first), as the bytes to send ("data: ...\n\n"), with `seen`
    // moved on; nothing when none came within `wait`.
    virtual std::optional<std::string> nextEvent(std::uint64_t& seen,
                                                 std::chrono::milliseconds wait) = 0;
    // While ended, nextEvent returns nothing at once, and the waits under
    // way end: the server ends them when it stops and lets them wait again
    // when it starts.
    virtual void endWaits(bool ended) = 0;
};

struct WebListen {
    std::string bind;  // a numeric IPv4 or IPv6 address
    int port = 0;
    // HTTPS with this certificate chain and key (PEM), when both are set.
    std::string certFile;
    std::string keyFile;
};

class WebServer {
  public:
    virtual ~WebServer() = default;
    // Listens on the address and serves the site from a thread of its own;
    // false, with why (naming the address or the file), when it cannot.
    // A server already running is stopped first.
    virtual bool start(const WebListen& listen, HttpSite& site, std::string& error) = 0;
    // Stops listening, ends the connections and joins the threads; nothing
    // when none runs. After it the site is no longer called.
    virtual void stop() = 0;
    // The port it listens on (the one the system chose for port 0).
    virtual int port() const = 0;
};

}  // namespace tarvel
