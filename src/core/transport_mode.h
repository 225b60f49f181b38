// How a channel's RTP travels, as the driver configuration file chooses it.
#pragma once

#include <cstdint>

namespace telvaro {

enum TransportMode : int32_t {
    kRtpOverUdp = 0,   // "RTPoverUDP": a local UDP port pair
    kRtpOverTcp = 1,   // "RTPoverTCP": interleaved in the RTSP connection
    kRtpOverRtsp = 2,  // "RTPoverRTSP": interleaved in the RTSP connection
};

// The mode's name as the configuration file writes it.
inline const char* TransportModeName(TransportMode mode) {
    switch (mode) {
        case kRtpOverUdp: return "RTPoverUDP";
        case kRtpOverTcp: return "RTPoverTCP";
        case kRtpOverRtsp: return "RTPoverRTSP";
    }
    return "unknown";
}

}  // namespace telvaro
