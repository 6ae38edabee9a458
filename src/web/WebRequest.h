#pragma once
// What the web site reads of a request: the credentials of an
// Authorization header of the Basic scheme, and the numbers of a query.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

struct Credentials {
    std::string user;
    std::string password;
};

// The user and password of "Basic <base64 of user:password>" (the scheme's
// name in any case); nothing for any other header, bad base64 or no ":".
std::optional<Credentials> BasicCredentials(std::string_view header);

// Compares a secret in a time that depends only on the expected one's
// length, not on where the texts differ.
bool SameSecret(std::string_view given, std::string_view expected);

// The header carries exactly this user and password.
bool Authorized(std::string_view header, std::string_view user, std::string_view password);

// A count in decimal digits (at most 19, no sign, no blanks); nothing else.
std::optional<std::uint64_t> CountParameter(std::string_view text);

}  // namespace tarvel
