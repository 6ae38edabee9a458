#pragma once
// A Mosquitto broker of the tests' own on a free loopback port, with a
// configuration written for it (anonymous, or with one user; a second
// listener with TLS when asked), and mosquitto_sub as the subscriber that
// prints what the broker passes on.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>

#include <cstdlib>
#include <sstream>

#include "SimProcess.h"

namespace tarvel::test {

// A program on the search path, or in the folder where Debian puts the
// broker, which is not on every user's path.
inline std::string Installed(const std::string& name) {
    std::istringstream path(std::string(std::getenv("PATH") ? std::getenv("PATH") : "") +
                            ":/usr/sbin:/usr/bin");
    for (std::string folder; std::getline(path, folder, ':');)
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    return {};
}

// 127.0.0.1 and the port, and a TCP socket to bind or connect it with.
inline std::pair<int, sockaddr_in> Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return {::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), a};
}

// A TCP port on 127.0.0.1 that nothing listens on right now.
inline int FreePort() {
    auto [s, a] = Loopback(0);
    socklen_t length = sizeof a;
    const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                       ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0;
    ::close(s);
    return bound ? ntohs(a.sin_port) : 0;
}

inline bool Accepts(int port) {
    auto [s, a] = Loopback(port);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// A TCP port on a loopback address whose connections are taken and never
// answered: the loopback stand-in for a broker's host that drops every
// packet. Nothing accepts them; the system completes them on its own.
class SilentPeer {
  public:
    explicit SilentPeer(const char* address = "127.0.0.1", int port = 0) {
        auto [s, a] = Loopback(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        socklen_t length = sizeof a;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(s, 64) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            port_ = ntohs(a.sin_port);
        fd_ = s;
    }
    ~SilentPeer() { ::close(fd_); }
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;
    int port() const { return port_; }

  private:
    int fd_ = -1, port_ = 0;
};

// Runs a program to its end; true when it exits with 0.
inline bool RunQuietly(const std::string& program, const std::vector<std::string>& arguments) {
    ChildProcess child;
    return child.start(program, arguments) && child.waitExit(30s) == 0;
}

class Broker {
  public:
    struct Options {
        std::string user, password;  // set: only this user may connect
        bool tls = false;            // a second listener with TLS
        // Sessions and queued messages kept across a restart.
        bool persistent = false;
    };

    static bool available() { return !Installed("mosquitto").empty(); }

    bool start() { return start(Options{}); }
    bool start(const Options& options) {
        options_ = options;
        port_ = FreePort();
        // Run by root, the broker would drop to a user of its own that
        // cannot read the test's files.
        const passwd* self = ::getpwuid(::geteuid());
        std::string config = std::string("user ") + (self ? self->pw_name : "root") +
                             "\nper_listener_settings true\n";
        std::string access = "allow_anonymous true\n";
        if (!options.user.empty()) {
            const std::string passwords = folder_ / "passwords";
            if (!RunQuietly(Installed("mosquitto_passwd"),
                            {"-c", "-b", passwords, options.user, options.password}))
                return false;
            access = "allow_anonymous false\npassword_file " + passwords + "\n";
        }
        if (options.persistent)
            config += "persistence true\npersistence_location " + folder_.path().string() + "/\n";
        config += Listeners(port_, access);
        if (options.tls) {
            if (!MakeCertificates()) return false;
            tlsPort_ = FreePort();
            config += Listeners(tlsPort_, "allow_anonymous true\ncafile " + caFile() +
                                              "\ncertfile " + serverFile("crt") +
                                              "\nkeyfile " + serverFile("key") + "\n");
        }
        WriteFile(folder_ / "mosquitto.conf", config);
        return restart();
    }
    // Starts the broker again on the same ports, after stop().
    bool restart() {
        if (!process_.start(Installed("mosquitto"), {"-c", folder_ / "mosquitto.conf"}))
            return false;
        return Eventually([&] { return Accepts(port_) && (!options_.tls || Accepts(tlsPort_)); },
                          10s);
    }
    // A persistent broker saves its sessions and queued messages as it
    // ends, which can take a while on a busy disk: it is not killed early.
    void stop() {
        if (process_.signal(SIGTERM)) process_.waitExit(20s);
        process_.stop();
    }

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    std::string caFile() const { return folder_ / "ca.crt"; }
    // The certificate and key of the TLS listener.
    std::string serverFile(const char* suffix) const {
        return folder_ / ("server." + std::string(suffix));
    }

  private:
    // The port on both loopback addresses, as localhost may be either (::1
    // first on a stock Debian), each with the settings.
    static std::string Listeners(int port, const std::string& settings) {
        std::string text = "listener " + std::to_string(port) + " 127.0.0.1\n" + settings;
        if (LoopbackV6()) text += "listener " + std::to_string(port) + " ::1\n" + settings;
        return text;
    }
    static bool LoopbackV6() {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        const int s = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool ok = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (s >= 0) ::close(s);
        return ok;
    }
    // A CA, and a server certificate it signs for localhost, its addresses
    // and broker.test (a name only the tests' resolver knows).
    bool MakeCertificates() {
        const std::string openssl = Installed("openssl");
        const auto f = [&](const std::string& name) { return folder_ / name; };
        const std::string ext = f("server.ext");
        WriteFile(ext, "subjectAltName=DNS:localhost,DNS:broker.test,IP:127.0.0.1,IP:::1\n");
        return RunQuietly(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                    "-subj", "/CN=ca", "-keyout", f("ca.key"), "-out", f("ca.crt")}) &&
               RunQuietly(openssl,
                          {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                           "-keyout", f("server.key"), "-out", f("server.csr")}) &&
               RunQuietly(openssl, {"x509", "-req", "-in", f("server.csr"), "-CA", f("ca.crt"),
                                    "-CAkey", f("ca.key"), "-CAcreateserial", "-days", "2",
                                    "-extfile", ext, "-out", f("server.crt")});
    }

    TempFolder folder_;
    Options options_;
    int port_ = 0, tlsPort_ = 0;
    ChildProcess process_;
};

// mosquitto_sub on the broker: one line "topic payload" per message.
class Subscriber {
  public:
    // With a client id, its session outlives the connection and a restart
    // of a persistent broker: nothing published meanwhile is missed.
    bool start(int port, const std::string& topic, const std::string& clientId = {},
               const std::vector<std::string>& login = {}) {
        // The subscriptions are in place once a retained probe comes back.
        probe_ = "probe/" + std::to_string(::getpid()) + "/" + std::to_string(port);
        std::vector<std::string> arguments{"-h",  "127.0.0.1", "-p",  std::to_string(port),
                                           "-q",  "1",         "-v",  "-t",
                                           topic, "-t",        probe_};
        if (!clientId.empty()) arguments.insert(arguments.end(), {"-c", "-i", clientId});
        arguments.insert(arguments.end(), login.begin(), login.end());
        std::vector<std::string> probe{"-h", "127.0.0.1", "-p", std::to_string(port), "-t", probe_,
                                       "-r", "-m",        "x"};
        probe.insert(probe.end(), login.begin(), login.end());
        return process_.start(Installed("mosquitto_sub"), arguments) &&
               RunQuietly(Installed("mosquitto_pub"), probe) &&
               process_
                   .waitForLine(
                       ChildProcess::Out, [](const std::string&) { return true; }, 5s)
                   .has_value();
    }
    // The messages so far, the probe left out.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& line : process_.lines(ChildProcess::Out))
            if (line.find(probe_) == std::string::npos) out.push_back(line);
        return out;
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout) const {
        return Eventually([&] { return lines().size() >= count; }, timeout);
    }

  private:
    mutable ChildProcess process_;
    std::string probe_;
};

}  // namespace tarvel::test
