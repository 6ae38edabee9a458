// What the web site reads of a request: the Basic credentials of an
// Authorization header, a count of the query ("since"), and the secret
// comparison. Credentials read from a header are taken again from the
// header written anew from them, and authorize exactly themselves; a count
// is the input's digits; a secret matches only itself.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/WebRequest.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

std::string base64(std::string_view bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t n = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<std::uint8_t>(bytes[i + 2]);
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

void checkHeader(std::string_view header) {
    const auto c = tarvel::BasicCredentials(header);
    if (!c) {
        require(!tarvel::Authorized(header, "", ""));
        return;
    }
    require(c->user.find(':') == std::string::npos);
    const std::string again = "Basic " + base64(c->user + ":" + c->password);
    const auto reread = tarvel::BasicCredentials(again);
    require(reread && reread->user == c->user && reread->password == c->password);
    require(tarvel::Authorized(header, c->user, c->password));
    require(!tarvel::Authorized(header, c->user, c->password + "x"));
    require(!tarvel::Authorized(header, c->user + "x", c->password));
}

void checkCount(std::string_view text) {
    const auto n = tarvel::CountParameter(text);
    bool digits = !text.empty() && text.size() <= 19;
    for (const char ch : text) digits = digits && ch >= '0' && ch <= '9';
    require(n.has_value() == digits);
    if (!n) return;
    std::string_view significant = text;
    while (significant.size() > 1 && significant.front() == '0') significant.remove_prefix(1);
    require(std::to_string(*n) == significant);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkHeader(text);
    checkCount(text);
    const std::size_t half = text.size() / 2;
    const std::string_view a = text.substr(0, half), b = text.substr(half);
    require(tarvel::SameSecret(a, b) == (a == b));
    require(tarvel::SameSecret(b, b));
    return 0;
}
