// The device text of a network port ("tcp://host:port", "mbtcp://host[:port]",
// IPv6 hosts in brackets). It is one exactly when it starts with one of the
// two schemes, in any case. A refusal names the text. What is accepted has
// the scheme's kind, a host without blanks, '/', '?', '#', '@' or brackets, a port
// from 1 to 65535 (502 when a Modbus TCP text gives none), and reads back
// the same from its own "host:port" text.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/TcpConnection.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool tcp = startsWithNoCase(text, "tcp://");
    const bool mbtcp = startsWithNoCase(text, "mbtcp://");
    require(tarvel::IsNetworkDevice(text) == (tcp || mbtcp));

    std::string error;
    const auto address = tarvel::ParseNetworkAddress(text, error);
    if (!address) {
        require(error.compare(0, text.size() + 2, text + ": ") == 0);
        return 0;
    }
    require(tcp || mbtcp);
    require(address->kind == (mbtcp ? tarvel::LinkKind::ModbusTcp : tarvel::LinkKind::RtuOverTcp));
    require(!address->host.empty());
    require(address->host.find_first_of(" \t/?#@[]") == std::string::npos);
    require(address->port >= 1);
    const std::size_t portAt = text.rfind(':');
    if (mbtcp && (portAt < 8 || text.back() == ']')) require(address->port == 502);

    const std::string again = (mbtcp ? "mbtcp://" : "tcp://") + address->text();
    std::string secondError;
    const auto reread = tarvel::ParseNetworkAddress(again, secondError);
    require(reread && reread->kind == address->kind && reread->host == address->host &&
            reread->port == address->port && reread->text() == address->text());
    return 0;
}
