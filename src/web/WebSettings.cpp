#include "web/WebSettings.h"

#include <arpa/inet.h>

#include <array>

#include "settings/KeyRules.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

constexpr std::int64_t MaxPort = 65535;

bool ipv4(const std::string& text, std::array<unsigned char, 16>& bytes) {
    return inet_pton(AF_INET, text.c_str(), bytes.data()) == 1;
}
bool ipv6(const std::string& text, std::array<unsigned char, 16>& bytes) {
    return inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1;
}

std::string fullPath(const std::string& file, const std::string& folder) {
    if (file.empty() || file.front() == '/') return file;
    return folder + "/" + file;
}

// User and Password: text the Basic scheme carries (no control characters;
// no ":" in the user, which ends it).
bool credentialText(std::string_view text, bool user) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || (user && c == ':')) return false;
    return true;
}

void readCredentials(const WebKeyReader& read, WebSettings& s,
                     std::vector<std::string>& problems) {
    s.user = read("User");
    s.password = read("Password");
    if (!credentialText(s.user, true))
        problems.push_back(BadValueText("Web", "User", s.user, "senza \":\" né caratteri di controllo"));
    // The password is never written out.
    if (!credentialText(s.password, false))
        problems.push_back("[Web] Password: valore non valido (caratteri di controllo)");
    if (s.user.empty() != s.password.empty())
        problems.push_back(std::string("[Web] ") + (s.user.empty() ? "User" : "Password") +
                           ": chiave mancante (User e Password vanno insieme)");
    else if (s.user.empty() && !LoopbackAddress(s.bind))
        problems.push_back("[Web] Bind: \"" + s.bind +
                           "\" non è un indirizzo locale (loopback): servono User e Password");
}

}  // namespace

std::string WebSettings::address() const {
    const std::string host = bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
    return (certFile.empty() ? "http://" : "https://") + host + ":" + std::to_string(port) + "/";
}

bool LoopbackAddress(std::string_view address) {
    std::array<unsigned char, 16> b{};
    const std::string text(address);
    if (ipv4(text, b)) return b[0] == 127;
    if (!ipv6(text, b)) return false;
    const bool zeros = [&] {
        for (int i = 0; i < 10; ++i)
            if (b[static_cast<std::size_t>(i)] != 0) return false;
        return true;
    }();
    if (zeros && b[10] == 0 && b[11] == 0 && b[12] == 0 && b[13] == 0 && b[14] == 0)
        return b[15] == 1;  // ::1
    return zeros && b[10] == 0xff && b[11] == 0xff && b[12] == 127;  // ::ffff:127.x.y.z
}

WebSettings ReadWebSettings(const WebKeyReader& read, const std::string& programFolder,
                            std::vector<std::string>& problems) {
    WebSettings s;
    const std::string port(Trim(read("Port")));
    if (port.empty()) return s;
    const auto number = WholeNumberIn(port, 1, MaxPort);
    if (!number) problems.push_back(BadValueText("Web", "Port", port, RangeText(1, MaxPort)));
    s.port = number ? static_cast<int>(*number) : 0;
    const std::string bind(Trim(read("Bind")));
    std::array<unsigned char, 16> bytes{};
    if (!bind.empty() && !ipv4(bind, bytes) && !ipv6(bind, bytes))
        problems.push_back(
            BadValueText("Web", "Bind", bind, "un indirizzo IPv4 o IPv6 in cifre"));
    else if (!bind.empty())
        s.bind = bind;
    readCredentials(read, s, problems);
    s.certFile = fullPath(std::string(Trim(read("CertFile"))), programFolder);
    s.keyFile = fullPath(std::string(Trim(read("KeyFile"))), programFolder);
    if (s.certFile.empty() != s.keyFile.empty())
        problems.push_back(std::string("[Web] ") + (s.certFile.empty() ? "CertFile" : "KeyFile") +
                           ": chiave mancante (CertFile e KeyFile vanno insieme)");
    return s;
}

}  // namespace tarvel
