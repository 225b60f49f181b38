// Server authentication challenges of a 401 answer (RFC 7235 section 4.1)
// and the two this client answers itself: Basic (RFC 7617) and Digest with
// MD5, with or without qop="auth" (RFC 7616, RFC 2069).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Web {

// Schemes, valued as the Windows HTTP stack values them.
constexpr uint32_t kHttpAuthBasic = 0x1;
constexpr uint32_t kHttpAuthNtlm = 0x2;
constexpr uint32_t kHttpAuthPassport = 0x4;
constexpr uint32_t kHttpAuthDigest = 0x8;
constexpr uint32_t kHttpAuthNegotiate = 0x10;

struct HttpChallenge {
    uint32_t scheme = 0;  // 0 for a scheme of another name
    // auth-params: names lower-cased, values without quotes and escapes.
    std::map<std::string, std::string> params;

    std::string Param(const std::string& name) const;
    // Basic, or Digest with a nonce, algorithm MD5 (named or not) and no qop
    // or a qop list offering "auth".
    bool Answerable() const;
    bool QopAuth() const;
};

// Every challenge of the WWW-Authenticate values, in the order the server
// sent them; one value may hold several, separated by commas.
std::vector<HttpChallenge> ParseChallenges(const std::vector<std::string>& values);

// The challenge to answer: the first answerable Digest wherever the server
// lists it, Basic only when nothing stronger is offered (RFC 7235 section
// 2.1, RFC 7616 section 3.7); none when nothing can be answered.
const HttpChallenge* StrongestChallenge(const std::vector<HttpChallenge>& challenges);

}  // namespace Web
