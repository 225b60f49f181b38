#include "util/digest_auth.h"

#include <random>

#include "util/md5.h"
#include "util/text.h"

namespace telvaro {

std::string QuotedString(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

std::string MakeClientNonce() {
    std::random_device device;
    return FormatText("%08x%08x", static_cast<unsigned>(device()), static_cast<unsigned>(device()));
}

std::string DigestCredentials(const std::string& userName, const std::string& password, const std::string& method,
                              const std::string& uri, const DigestChallenge& challenge, uint32_t nonceCount,
                              const std::string& clientNonce) {
    const std::string ha1 = Md5Hex(userName + ":" + challenge.realm + ":" + password);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    std::string out = "Digest username=" + QuotedString(userName) + ", realm=" + QuotedString(challenge.realm) +
                      ", nonce=" + QuotedString(challenge.nonce) + ", uri=" + QuotedString(uri);
    if (challenge.qopAuth) {
        const std::string nc = FormatText("%08x", nonceCount);
        out += ", response=" +
               QuotedString(Md5Hex(ha1 + ":" + challenge.nonce + ":" + nc + ":" + clientNonce + ":auth:" + ha2)) +
               ", qop=auth, nc=" + nc + ", cnonce=" + QuotedString(clientNonce);
    } else {
        out += ", response=" + QuotedString(Md5Hex(ha1 + ":" + challenge.nonce + ":" + ha2));
    }
    if (!challenge.opaque.empty()) out += ", opaque=" + QuotedString(challenge.opaque);
    return out;
}

}  // namespace telvaro
