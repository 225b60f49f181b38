// Reading the BYE packets (RFC 3550 section 6.6) of a compound RTCP packet,
// as a camera sends them when it ends its stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvaro {

// The sources every BYE packet of the compound packet names, each as its four
// bytes were received (comparable with RTPPacket::ssrc). The walk ends at the
// first packet that is not version 2 or runs past the end.
std::vector<uint32_t> RtcpByeSources(const uint8_t* data, size_t length);

}  // namespace telvaro
