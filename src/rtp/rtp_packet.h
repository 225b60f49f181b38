// A parsed RTP packet (RFC 3550 section 5.1) and the fixed-header parser that
// serves both UDP datagrams and packets interleaved in the RTSP connection.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvaro {

// Every pointer refers into the buffer that was parsed and stays valid only
// while that buffer does (for received packets: during the callback).
struct RTPPacket {
    uint8_t csrcCount = 0;
    const uint8_t* csrcList = nullptr;  // null when csrcCount is 0
    uint32_t ssrc = 0;                  // the four bytes as received, for comparison only
    bool marker = false;
    bool padding = false;               // padding octets stay in the payload
    uint8_t payloadType = 0;
    uint16_t sequenceNumber = 0;
    uint32_t timeStamp = 0;
    uint16_t extensionLength = 0;       // 32-bit words; 0 without an extension
    uint16_t extensionProfile = 0;      // the two bytes as received
    const uint8_t* extensionData = nullptr;
    uint32_t payloadLength = 0;         // bytes after the header, CSRCs and extension
    const uint8_t* payload = nullptr;
};

constexpr size_t kRTPFixedHeaderLength = 12;

// Fills packet from data; false for anything that is not a version-2 RTP
// packet with at least one byte after its fixed header, or whose CSRC list or
// extension runs past the end; a rejected packet leaves the record zeroed.
bool ParseRTPHeader(const uint8_t* data, size_t length, RTPPacket& packet);

}  // namespace telvaro
