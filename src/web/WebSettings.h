#pragma once
// The [Web] section of the settings, read and checked: the page, the API
// and the metrics, served on Bind:Port.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

struct WebSettings {
    int port = 0;  // 0: nothing listens
    std::string bind = "127.0.0.1";
    std::string user;
    std::string password;
    // HTTPS: the certificate chain and its key (PEM), full paths, both or
    // neither.
    std::string certFile;
    std::string keyFile;
    bool operator==(const WebSettings&) const = default;

    bool on() const { return port != 0; }
    bool credentials() const { return !user.empty() || !password.empty(); }
    // The page's address: "http://127.0.0.1:8080/", "https://[::1]:8443/".
    std::string address() const;
};

// Reads a key of [Web]; empty when missing.
using WebKeyReader = std::function<std::string(const std::string& key)>;

// The section with its defaults. Without a Port nothing else is read. Each
// key with a bad value adds a line to `problems` naming it and its value,
// and so does an address other than loopback without User and Password:
// the page is then not served. Relative CertFile and KeyFile are in the
// program folder.
WebSettings ReadWebSettings(const WebKeyReader& read, const std::string& programFolder,
                            std::vector<std::string>& problems);

// A numeric IPv4 or IPv6 address of this machine's loopback: 127.0.0.0/8,
// ::1, or an IPv4 loopback address mapped into IPv6.
bool LoopbackAddress(std::string_view address);

}  // namespace tarvel
