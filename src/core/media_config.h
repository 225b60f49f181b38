// The decoder configuration a session description announces, handed to the
// depacketizer before playback.
#pragma once

#include <cstdint>
#include <vector>

namespace telvaro {

struct MediaConfig {
    std::vector<uint8_t> sps;     // H.264 sequence parameter set, without start code
    std::vector<uint8_t> pps;     // H.264 picture parameter set, without start code
    std::vector<uint8_t> config;  // MPEG-4 decoder configuration
};

}  // namespace telvaro
