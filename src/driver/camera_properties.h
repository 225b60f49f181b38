// What a capability query found out about a camera, independent of the
// protocol that asked: codecs, resolutions with their frame intervals, names,
// I/O counts and feature flags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace telvaro {

class CCameraProperties {
public:
    struct Resolution {
        std::vector<uint32_t> intervals;  // milliseconds between frames
        uint16_t width = 0;
        uint16_t height = 0;
    };

    // Milliseconds between frames at rate frames per second, to the nearest
    // millisecond and at least 1; 1 for a rate of 0.
    static uint32_t FrameInterval(uint32_t rate);

    // Appends entry unless one of the same size is listed already; entries of
    // width 0 are always appended.
    void AddResolution(const Resolution& entry);

    std::vector<uint32_t> codecs;  // ascending: 2 JPEG, 4 MPEG-4, 16 H.264
    std::vector<Resolution> resolutions;
    std::string manufacturer;
    std::string name;
    uint32_t videoChannel = 0;  // 1 once a streaming channel is known
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    // Feature flags, reported to the host under the keys 4, 1, 5, 11 and 12
    // in this order; this driver knows none of these features, so they stay
    // unset.
    bool features[5] = {};
};

}  // namespace telvaro
