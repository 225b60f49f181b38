#include "rtp/rtp_packet.h"

#include <cstring>

namespace telvaro {

namespace {

uint16_t ReadBigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t ReadBigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

}  // namespace

bool ParseRTPHeader(const uint8_t* data, size_t length, RTPPacket& out) {
    out = RTPPacket();
    RTPPacket packet;
    if (!data || length <= kRTPFixedHeaderLength) return false;
    if ((data[0] >> 6) != 2) return false;

    size_t headerLength = kRTPFixedHeaderLength;
    const uint8_t csrcCount = data[0] & 0x0F;
    if (csrcCount != 0) {
        packet.csrcCount = csrcCount;
        packet.csrcList = data + kRTPFixedHeaderLength;
        headerLength += 4u * csrcCount;
    }
    if (data[0] & 0x10) {
        headerLength += 4;
        if (length < headerLength) return false;
        const uint8_t* extensionHeader = data + headerLength - 4;
        std::memcpy(&packet.extensionProfile, extensionHeader, 2);
        packet.extensionLength = ReadBigEndian16(extensionHeader + 2);
        packet.extensionData = data + headerLength;
        headerLength += 4u * packet.extensionLength;
    }
    if (length < headerLength) return false;

    packet.marker = (data[1] & 0x80) != 0;
    packet.padding = (data[0] & 0x20) != 0;
    packet.payloadType = data[1] & 0x7F;
    packet.sequenceNumber = ReadBigEndian16(data + 2);
    packet.timeStamp = ReadBigEndian32(data + 4);
    std::memcpy(&packet.ssrc, data + 8, 4);
    packet.payload = data + headerLength;
    packet.payloadLength = static_cast<uint32_t>(length - headerLength);
    out = packet;
    return true;
}

}  // namespace telvaro
