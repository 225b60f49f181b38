// MPEG-4 part 2 video as RTP payloads (RFC 3016): a VOP, optionally with the
// configuration headers in front, cut into payloads of at most the MTU.
#pragma once

#include "rtpkit/clip.h"

namespace rtpkit {

struct Mpeg4PacketizerOptions {
    size_t mtu = 1400;
    // Put the configuration (VOS/VO/VOL headers) in front of every I-VOP;
    // otherwise only the session description carries it.
    bool configInBand = true;
};

std::vector<Bytes> PacketizeMpeg4(const Frame& vop, const Bytes& config, const Mpeg4PacketizerOptions& options);

}  // namespace rtpkit
