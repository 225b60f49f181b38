// Server side of HTTP authentication as a camera does it: Basic (RFC 7617)
// and Digest with MD5 (RFC 7616 with qop="auth" for HTTP, RFC 2617 without
// qop for RTSP), offered in a configured order.
#pragma once

#include <string>
#include <vector>

#include "camsim/camera_config.h"

namespace camsim {

class Authenticator {
public:
    Authenticator(std::vector<AuthScheme> schemes, std::string user, std::string password, std::string realm,
                  bool digestWithQop);

    bool Required() const { return !schemes_.empty(); }
    // The WWW-Authenticate values of a 401 answer, in the configured order;
    // every call issues a fresh nonce.
    std::vector<std::string> Challenges();
    // Checks an Authorization value against the offered schemes. With a
    // non-empty requestUri a Digest answer must name exactly that URI.
    bool Check(const std::string& authorization, const std::string& method, const std::string& requestUri) const;

private:
    bool Offers(AuthScheme scheme) const;
    bool CheckBasic(const std::string& credentials) const;
    std::string NonceFor(const std::string& random) const;
    bool CheckDigest(const std::string& parameters, const std::string& method, const std::string& requestUri) const;

    std::vector<AuthScheme> schemes_;
    std::string user_;
    std::string password_;
    std::string realm_;
    bool digestWithQop_;
    // A nonce is a random part and a digest of it under this camera's
    // secret: every nonce the camera issued stays valid without being kept,
    // since a client may reuse one for a whole session.
    std::string secret_;
};

}  // namespace camsim
