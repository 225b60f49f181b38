// RTP fixed headers (RFC 3550) around payloads, with a running sequence number.
#pragma once

#include <cstdint>
#include <vector>

#include "rtpkit/clip.h"

namespace rtpkit {

Bytes BuildRtpPacket(uint8_t payloadType, bool marker, uint16_t sequence, uint32_t timestamp, uint32_t ssrc,
                     const Bytes& payload);

class RtpSequencer {
public:
    RtpSequencer(uint8_t payloadType, uint32_t ssrc, uint16_t firstSequence = 0)
        : payloadType_(payloadType), ssrc_(ssrc), sequence_(firstSequence) {}
    // One packet per payload, all with the time stamp; the marker on the last.
    std::vector<Bytes> Wrap(const std::vector<Bytes>& payloads, uint32_t timestamp);
    uint16_t NextSequence() const { return sequence_; }
    void SetNextSequence(uint16_t s) { sequence_ = s; }
    uint32_t Ssrc() const { return ssrc_; }

private:
    uint8_t payloadType_;
    uint32_t ssrc_;
    uint16_t sequence_;
};

}  // namespace rtpkit
