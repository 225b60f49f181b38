#include "camsim/authenticator.h"

#include <algorithm>
#include <map>

#include "camsim/text_util.h"

namespace camsim {

Authenticator::Authenticator(std::vector<AuthScheme> schemes, std::string user, std::string password,
                             std::string realm, bool digestWithQop)
    : schemes_(std::move(schemes)),
      user_(std::move(user)),
      password_(std::move(password)),
      realm_(std::move(realm)),
      digestWithQop_(digestWithQop),
      secret_(RandomHex(16)) {}

std::string Authenticator::NonceFor(const std::string& random) const {
    return random + Md5Hex(secret_ + ":" + random).substr(0, 16);
}

bool Authenticator::Offers(AuthScheme scheme) const {
    return std::find(schemes_.begin(), schemes_.end(), scheme) != schemes_.end();
}

std::vector<std::string> Authenticator::Challenges() {
    std::vector<std::string> out;
    for (AuthScheme scheme : schemes_) {
        if (scheme == AuthScheme::Basic) {
            out.push_back("Basic realm=\"" + realm_ + "\"");
            continue;
        }
        std::string nonce = NonceFor(RandomHex(8));
        std::string challenge = "Digest realm=\"" + realm_ + "\", nonce=\"" + nonce + "\"";
        if (digestWithQop_) challenge += ", qop=\"auth\", algorithm=MD5";
        out.push_back(challenge);
    }
    return out;
}

bool Authenticator::Check(const std::string& authorization, const std::string& method,
                          const std::string& requestUri) const {
    if (!Required()) return true;
    std::string value = Trim(authorization);
    size_t blank = value.find(' ');
    if (blank == std::string::npos) return false;
    std::string scheme = ToLower(value.substr(0, blank));
    std::string rest = Trim(value.substr(blank + 1));
    if (scheme == "basic" && Offers(AuthScheme::Basic)) return CheckBasic(rest);
    if (scheme == "digest" && Offers(AuthScheme::Digest)) return CheckDigest(rest, method, requestUri);
    return false;
}

bool Authenticator::CheckBasic(const std::string& credentials) const {
    std::vector<uint8_t> decoded = Base64Decode(credentials);
    return std::string(decoded.begin(), decoded.end()) == user_ + ":" + password_;
}

bool Authenticator::CheckDigest(const std::string& parameters, const std::string& method,
                                const std::string& requestUri) const {
    auto p = ParseAuthParameters(parameters);
    if (p["username"] != user_ || p["realm"] != realm_ || p["uri"].empty() || p["response"].empty()) return false;
    if (!p["algorithm"].empty() && ToLower(p["algorithm"]) != "md5") return false;
    if (!requestUri.empty() && p["uri"] != requestUri) return false;
    const std::string& nonce = p["nonce"];
    if (nonce.size() != 32 || NonceFor(nonce.substr(0, 16)) != nonce) return false;
    std::string ha1 = Md5Hex(user_ + ":" + realm_ + ":" + password_);
    std::string ha2 = Md5Hex(method + ":" + p["uri"]);
    std::string expected;
    if (p.count("qop")) {
        if (p["qop"] != "auth" || p["nc"].empty() || p["cnonce"].empty()) return false;
        expected = Md5Hex(ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
    } else {
        expected = Md5Hex(ha1 + ":" + p["nonce"] + ":" + ha2);
    }
    return ToLower(p["response"]) == expected;
}

}  // namespace camsim
