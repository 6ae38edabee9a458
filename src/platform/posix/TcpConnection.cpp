#include "platform/posix/TcpConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace tarvel {
namespace {

constexpr std::uint16_t ModbusTcpPort = 502;

struct Scheme {
    std::string_view prefix;
    LinkKind kind;
};
constexpr Scheme Schemes[] = {{"tcp://", LinkKind::RtuOverTcp},
                              {"mbtcp://", LinkKind::ModbusTcp}};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
           });
}

const Scheme* SchemeOf(std::string_view device) {
    for (const Scheme& s : Schemes)
        if (StartsWithNoCase(device, s.prefix)) return &s;
    return nullptr;
}

std::optional<std::uint16_t> PortNumber(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// getaddrinfo(3) has no time limit of its own. What a lookup found is kept
// by the lookup itself: one that is given up finishes on the lookup thread
// and writes here, unread.
struct Lookup {
    int status = 0;
    addrinfo* result = nullptr;
    ~Lookup() {
        if (result) ::freeaddrinfo(result);
    }
};

AddressList Resolve(const NetworkAddress& address, std::chrono::steady_clock::time_point deadline,
                    NameLookup lookup, LookupThread& lookups, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    const std::string service = std::to_string(address.port);
    addrinfo* found = nullptr;
    // A numeric address needs no lookup and no thread.
    if (lookup(address.host.c_str(), service.c_str(), &hints, &found) == 0)
        return {found, ::freeaddrinfo};
    hints.ai_flags = AI_NUMERICSERV;
    auto state = std::make_shared<Lookup>();
    const auto find = [state, lookup, host = address.host, service, hints] {
        state->status = lookup(host.c_str(), service.c_str(), &hints, &state->result);
    };
    if (!lookups.run(find, deadline)) {
        error = address.host + ": name not resolved in time";
        return {nullptr, ::freeaddrinfo};
    }
    if (state->status != 0) {
        error = address.host + ": " + ::gai_strerror(state->status);
        return {nullptr, ::freeaddrinfo};
    }
    return {std::exchange(state->result, nullptr), ::freeaddrinfo};
}

int MillisLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// One address: a non-blocking connect that completes within the deadline.
int ConnectOne(const addrinfo& ai, std::chrono::steady_clock::time_point deadline, int& error) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            ai.ai_protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            error = errno;
            ::close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        int ready = 0;
        do {
            ready = ::poll(&p, 1, MillisLeft(deadline));
        } while (ready < 0 && errno == EINTR);
        socklen_t length = sizeof error;
        if (ready <= 0) {
            error = ETIMEDOUT;
        } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        if (error != 0) {
            ::close(fd);
            return -1;
        }
    }
    // A request is a few bytes that must leave at once.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

}  // namespace

std::string NetworkAddress::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsNetworkDevice(std::string_view device) { return SchemeOf(device) != nullptr; }

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view device, std::string& error) {
    const Scheme* scheme = SchemeOf(device);
    if (!scheme) {
        error = std::string(device) + ": not a network port";
        return std::nullopt;
    }
    NetworkAddress address;
    address.kind = scheme->kind;
    std::string_view rest = device.substr(scheme->prefix.size());
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) {
            error = std::string(device) + ": ']' missing after the IPv6 address";
            return std::nullopt;
        }
        address.host = rest.substr(1, close - 1);
        rest.remove_prefix(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            error = std::string(device) + ": ':' expected after ']'";
            return std::nullopt;
        }
        if (!rest.empty()) port = rest.substr(1);
    } else {
        const auto colon = rest.find(':');
        if (colon != std::string_view::npos && rest.find(':', colon + 1) != std::string_view::npos) {
            error = std::string(device) + ": an IPv6 address goes in brackets";
            return std::nullopt;
        }
        address.host = rest.substr(0, colon);
        if (colon != std::string_view::npos) port = rest.substr(colon + 1);
    }
    if (address.host.empty() ||
        address.host.find_first_of(" \t/?#@[]") != std::string::npos) {
        error = std::string(device) + ": no valid host name";
        return std::nullopt;
    }
    if (port.empty() && address.kind == LinkKind::ModbusTcp &&
        device.back() != ':') {
        address.port = ModbusTcpPort;
        return address;
    }
    const auto number = PortNumber(port);
    if (!number) {
        error = std::string(device) + ": port number 1 to 65535 missing or wrong";
        return std::nullopt;
    }
    address.port = *number;
    return address;
}

Connection ConnectTcp(const NetworkAddress& address, std::chrono::milliseconds limit,
                      LookupThread& lookups, NameLookup lookup) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    Connection c;
    AddressList list =
        Resolve(address, deadline, lookup ? lookup : ::getaddrinfo, lookups, c.error);
    if (!list) return c;
    // Every address the name gives, in order: each gets an even share of the
    // time left, so that one that never answers leaves the others theirs.
    int error = 0;
    int left = 0;
    for (const addrinfo* ai = list.get(); ai; ai = ai->ai_next) ++left;
    for (const addrinfo* ai = list.get(); ai && c.fd < 0; ai = ai->ai_next, --left) {
        const auto now = std::chrono::steady_clock::now();
        c.fd = ConnectOne(*ai, now + (std::max(deadline, now) - now) / left, error);
    }
    if (c.fd < 0) c.error = address.text() + ": " + std::strerror(error);
    return c;
}

}  // namespace tarvel
