// The documents of the lighttpd peer served by Apache 2.4 (Debian's
// apache2-bin) behind mod_auth_digest, its 401 answers naming Basic (a
// challenge line of mod_headers) before Digest, as some cameras do, while
// only Digest is accepted. Every
// request's Authorization header is logged, so a test sees whether a
// password ever went out readable. Nonces live a few seconds (stale=true
// after), so that a test of some seconds meets their renewal. Meant for
// GETs: the PUT script of the lighttpd peer is not run here.
#pragma once

#include <string>
#include <vector>

#include "support/lighttpd_peer.h"

namespace fakes {

class ApachePeer : public LighttpdPeer {
public:
    static constexpr unsigned kNonceLifetimeSeconds = 2;

    explicit ApachePeer(uint32_t inputs) : LighttpdPeer(inputs, 0) {}

    // The Authorization header of every request served so far, "-" for none.
    std::vector<std::string> Authorizations() const;

private:
    bool WriteConfig() override;
    std::vector<std::string> Command() const override;
};

}  // namespace fakes
