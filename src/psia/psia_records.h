// The records the PSIA client exchanges with its callers: what the driver
// reads from a camera's PSIA documents and what it sends back.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace telvaro {

// Codec codes of ChannelCapabilities::codecs.
constexpr uint32_t kCodecJpeg = 2;
constexpr uint32_t kCodecMpeg4 = 4;
constexpr uint32_t kCodecH264 = 16;

// RTSP port assumed when a camera names none.
constexpr uint32_t kDefaultRtspPort = 554;

// One PSIA streaming channel.
struct StreamingChannelSettings {
    // A channel as the channel list names it: its id, and the rest at the
    // values the driver assumes until the channel itself is read.
    static StreamingChannelSettings ListEntry(uint32_t channelId) {
        StreamingChannelSettings settings;
        settings.id = channelId;
        settings.videoCodecType = "H.264";
        settings.videoQualityControlType = "VBR";
        return settings;
    }

    uint32_t id = 0;
    bool enabled = false;
    bool videoEnabled = false;
    uint32_t videoInputChannelID = 0;
    std::string videoCodecType;  // "H.264", "MPEG4", "MJPEG" ...
    uint32_t videoResolutionWidth = 0;
    uint32_t videoResolutionHeight = 0;
    std::string videoQualityControlType;  // "VBR", "CBR"
    uint32_t constantBitRate = 0;
    uint32_t fixedQuality = 0;
    uint32_t maxFrameRate = 0;  // frames per second x 100
    uint32_t keyFrameInterval = 0;
};

struct VideoResolution {
    uint32_t width = 0;
    uint32_t height = 0;
};

inline bool operator==(const VideoResolution& a, const VideoResolution& b) {
    return a.width == b.width && a.height == b.height;
}
inline bool operator!=(const VideoResolution& a, const VideoResolution& b) { return !(a == b); }
// Width first, then height.
inline bool operator<(const VideoResolution& a, const VideoResolution& b) {
    return a.width != b.width ? a.width < b.width : a.height < b.height;
}

// What a camera offers for one streaming channel.
struct ChannelCapabilities {
    uint32_t channelId = 0;  // set by whoever asked for the channel
    uint32_t rtspPort = kDefaultRtspPort;
    std::vector<uint32_t> codecs;              // kCodec... codes, in the order offered
    std::vector<VideoResolution> resolutions;  // in the order offered
    std::set<uint32_t> frameRates;             // whole frames per second
    std::string qualityControlTypes;           // as the camera lists them
    uint32_t cbrMin = 0;
    uint32_t cbrMax = 0;
    std::string fixedQualityOptions;  // comma-separated
};

struct PsiaDeviceInfo {
    std::string deviceName;
    std::string deviceID;
    std::string model;
    std::string macAddress;
    std::string firmwareVersion;
};

struct IOPortLists {
    std::vector<uint32_t> inputs;
    std::vector<uint32_t> outputs;
};

// PSIA statusCode values the driver acts on.
constexpr int32_t kPsiaStatusOk = 1;
constexpr int32_t kPsiaStatusRebootRequired = 7;

// The camera's answer to a PUT.
struct ResponseStatus {
    int32_t statusCode = 0;  // 0 when absent or not a number
    std::string statusString;
};

}  // namespace telvaro
