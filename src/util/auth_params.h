// The auth-params of an authentication challenge (RFC 7235 section 2.1), as
// the HTTP sender and the RTSP client both read them from WWW-Authenticate.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace telvaro {

struct AuthParam {
    std::string name;   // lower-cased
    std::string value;  // without quotes and escapes
};

// The token at pos (possibly empty); pos moves past it.
std::string ReadToken(const std::string& text, size_t& pos);

// The auth-params from pos on, in the order sent: name=token or
// name="quoted-string", separated by commas and blanks. An unquoted value
// runs to the next comma, trimmed, so that a nonce sent unquoted with "/" or
// "=" in it is read whole. A character that starts nothing is passed over.
// Reading stops at the end or at a token without "=" after it (the scheme of
// the next challenge), where pos is left.
std::vector<AuthParam> ReadAuthParams(const std::string& text, size_t& pos);

}  // namespace telvaro
