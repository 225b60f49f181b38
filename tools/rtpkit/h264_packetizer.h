// H.264 access units as RTP payloads (RFC 6184, non-interleaved mode).
#pragma once

#include "rtpkit/clip.h"

namespace rtpkit {

struct H264PacketizerOptions {
    size_t mtu = 1400;  // largest payload
    // Send sequence and picture parameter sets together in one STAP-A
    // (otherwise as single NAL unit packets).
    bool aggregateParameterSets = true;
    // Leave the in-band parameter sets out (the camera announces them in the
    // session description, or not at all).
    bool dropParameterSets = false;
    // Every NAL unit as one payload with a 4-byte start code in front, as
    // some cameras send a raw byte stream inside RTP.
    bool annexBPayloads = false;
    // A two-byte access-unit delimiter in front of every access unit that
    // has none, as x264 and many cameras send it.
    bool accessUnitDelimiters = false;
};

std::vector<Bytes> PacketizeH264(const Frame& accessUnit, const H264PacketizerOptions& options);

}  // namespace rtpkit
