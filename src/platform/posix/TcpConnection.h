#pragma once
// A network port in place of a serial device: "tcp://host:port" carries the
// line's bytes as they are (a serial device server), "mbtcp://host[:port]"
// carries Modbus TCP. Connecting resolves the name and connects without
// blocking longer than the time given, and never through a shell.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SerialPort.h"
#include "platform/posix/LookupThread.h"

struct addrinfo;

namespace tarvel {

struct NetworkAddress {
    LinkKind kind = LinkKind::RtuOverTcp;
    std::string host;  // a name, an IPv4 or an IPv6 address (without brackets)
    std::uint16_t port = 0;
    // "host:port", IPv6 addresses in brackets.
    std::string text() const;
};

// True when the device text names a network port, well formed or not.
bool IsNetworkDevice(std::string_view device);

// The address in a network device text; nothing, with the reason in
// `error`, when it is not one or is not well formed.
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view device, std::string& error);

struct Connection {
    int fd = -1;        // a connected, non-blocking socket; -1 on failure
    std::string error;  // why it failed, in the system's words
};

// getaddrinfo(3) or a stand-in for it.
using NameLookup = int (*)(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result);

// Resolves and connects within `limit`, to the first of the name's
// addresses that takes the connection, in the resolver's order; each is
// given an even share of the time left. A name that takes longer to
// resolve is given up; its lookup ends by itself on `lookups`.
Connection ConnectTcp(const NetworkAddress& address, std::chrono::milliseconds limit,
                      LookupThread& lookups, NameLookup lookup = nullptr);

}  // namespace tarvel
