// Feeds arbitrary bytes to the RTP header parser and touches every byte the
// parsed record points at, so that any pointer past the input shows up.
#include <cstddef>
#include <cstdint>

#include "rtp/rtp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    telvaro::RTPPacket packet;
    if (!telvaro::ParseRTPHeader(data, size, packet)) return 0;
    volatile uint32_t sum = 0;
    for (uint32_t i = 0; i < packet.payloadLength; ++i) sum = sum + packet.payload[i];
    for (uint32_t i = 0; packet.csrcList && i < 4u * packet.csrcCount; ++i) sum = sum + packet.csrcList[i];
    for (uint32_t i = 0; packet.extensionData && i < 4u * packet.extensionLength; ++i)
        sum = sum + packet.extensionData[i];
    if (packet.payload + packet.payloadLength != data + size) __builtin_trap();
    return 0;
}
