#include "rtpkit/rtp_writer.h"

namespace rtpkit {

Bytes BuildRtpPacket(uint8_t payloadType, bool marker, uint16_t sequence, uint32_t timestamp, uint32_t ssrc,
                     const Bytes& payload) {
    Bytes p;
    p.reserve(12 + payload.size());
    p.push_back(0x80);
    p.push_back(static_cast<uint8_t>((marker ? 0x80 : 0) | (payloadType & 0x7F)));
    p.push_back(static_cast<uint8_t>(sequence >> 8));
    p.push_back(static_cast<uint8_t>(sequence));
    for (int shift = 24; shift >= 0; shift -= 8) p.push_back(static_cast<uint8_t>(timestamp >> shift));
    for (int shift = 24; shift >= 0; shift -= 8) p.push_back(static_cast<uint8_t>(ssrc >> shift));
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

std::vector<Bytes> RtpSequencer::Wrap(const std::vector<Bytes>& payloads, uint32_t timestamp) {
    std::vector<Bytes> packets;
    packets.reserve(payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i) {
        packets.push_back(BuildRtpPacket(payloadType_, i + 1 == payloads.size(), sequence_++, timestamp, ssrc_,
                                         payloads[i]));
    }
    return packets;
}

}  // namespace rtpkit
