// The Digest answer (RFC 7616 section 3.4 with MD5; RFC 2069 without qop)
// that both the HTTP sender and the RTSP client send.
#pragma once

#include <cstdint>
#include <string>

namespace telvaro {

struct DigestChallenge {
    std::string realm;
    std::string nonce;
    std::string opaque;   // sent back when not empty
    bool qopAuth = false;  // the challenge offered qop "auth"
};

// The quoted-string of RFC 7230 section 3.2.6: a backslash before every
// quote and backslash, so that the peer reads back the value that went into
// the digest.
std::string QuotedString(const std::string& value);

// A client nonce (RFC 7616 section 3.4) from the system's random source.
std::string MakeClientNonce();

// "Digest username=..., realm=..., nonce=..., uri=..., response=..." and,
// with qop "auth", "qop=auth, nc=..., cnonce=..."; then any opaque. uri is
// the request's target exactly as sent; nonceCount counts the requests
// signed with this nonce, from 1.
std::string DigestCredentials(const std::string& userName, const std::string& password, const std::string& method,
                              const std::string& uri, const DigestChallenge& challenge, uint32_t nonceCount,
                              const std::string& clientNonce);

}  // namespace telvaro
