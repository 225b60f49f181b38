// Field-by-field views of the PSIA records, for comparisons with readable
// failure output.
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "psia/psia_records.h"

namespace psia_test {

inline auto Fields(const telvaro::StreamingChannelSettings& s) {
    return std::make_tuple(s.id, s.enabled, s.videoEnabled, s.videoInputChannelID, s.videoCodecType,
                           s.videoResolutionWidth, s.videoResolutionHeight, s.videoQualityControlType,
                           s.constantBitRate, s.fixedQuality, s.maxFrameRate, s.keyFrameInterval);
}

// An enabled 1920x1080 H.264 channel 101 with every field set.
inline telvaro::StreamingChannelSettings SampleSettings() {
    telvaro::StreamingChannelSettings s;
    s.id = 101;
    s.enabled = true;
    s.videoEnabled = true;
    s.videoInputChannelID = 0;
    s.videoCodecType = "H.264";
    s.videoResolutionWidth = 1920;
    s.videoResolutionHeight = 1080;
    s.videoQualityControlType = "VBR";
    s.constantBitRate = 4096;
    s.fixedQuality = 60;
    s.maxFrameRate = 2500;
    s.keyFrameInterval = 1000;
    return s;
}

inline std::vector<std::pair<uint32_t, uint32_t>> Pairs(const std::vector<telvaro::VideoResolution>& resolutions) {
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (const auto& r : resolutions) pairs.emplace_back(r.width, r.height);
    return pairs;
}

}  // namespace psia_test
