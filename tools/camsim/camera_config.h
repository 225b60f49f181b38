// What a simulated camera is made of: its network identity, its accounts, its
// streaming channels and its I/O ports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

enum class Codec { H264, Mpeg4, Mjpeg };

enum class AuthScheme { Basic, Digest };

// One PSIA streaming channel: the fields a GET returns and a PUT changes,
// and how its media goes out.
struct ChannelConfig {
    uint32_t id = 1;
    bool enabled = true;
    bool videoEnabled = true;
    uint32_t videoInputChannelId = 0;
    Codec codec = Codec::H264;
    uint32_t width = 640;
    uint32_t height = 480;
    std::string qualityControlType = "VBR";
    uint32_t constantBitRate = 2048;
    uint32_t fixedQuality = 60;
    uint32_t maxFrameRate = 2500;  // frames per second x 100
    uint32_t keyFrameInterval = 1000;

    // H.264 sequence and picture parameter sets, MPEG-4 configuration headers:
    // announced in the session description and/or sent in the stream.
    bool parameterSetsInSdp = true;
    bool parameterSetsInBand = true;
    // RTP/JPEG Q: 128 to 255 sends the tables in every frame; 0 sends the Q
    // whose computed tables equal the clip's (RFC 2435 section 4.2), or 255
    // when no Q matches.
    int jpegQ = 255;
    // A clip file of the clip folder to serve instead of the nearest one.
    std::string clipFile;
    // H.264: filler data (NAL type 12) tops the stream up to this many
    // kbit/s, as a camera in constant bit rate mode pads; 0: the clip as it is.
    uint32_t paddedBitRateKbps = 0;
    // Frames the channel sends in all before it falls silent, over every
    // session; 0: no end.
    uint64_t frameLimit = 0;
};

struct CameraConfig {
    std::string address = "127.0.0.1";
    uint16_t httpPort = 0;  // 0: chosen by the system
    uint16_t rtspPort = 0;

    std::string user = "admin";
    std::string password = "admin";
    // Blanks and a header's name in it, as real cameras' realms have.
    std::string realm = "Camsim RTSP Server";
    // Schemes offered in a 401 answer, in this order; empty: no authentication.
    std::vector<AuthScheme> httpAuth = {AuthScheme::Digest, AuthScheme::Basic};
    std::vector<AuthScheme> rtspAuth = {AuthScheme::Digest, AuthScheme::Basic};

    std::vector<ChannelConfig> channels = {ChannelConfig()};
    uint32_t inputs = 2;
    uint32_t outputs = 2;
    uint32_t firstIoPortId = 0;

    // Folder with the clips (<name>_<width>x<height>.h264|.m4v|.mjpeg); empty:
    // the project's testdata folder.
    std::string clipFolder;

    uint32_t sessionTimeoutSeconds = 60;
    uint32_t senderReportIntervalMs = 2000;
    size_t mtu = 1400;

    std::string deviceName = "camsim";
    std::string model = "Camsim-PSIA";
    std::string firmwareVersion = "1.0.0";

    // Capability options: frame rates (x 100) offered besides each channel's
    // own, fixed-quality values ("" offers min 1 and max 100), bit rate range.
    std::vector<uint32_t> frameRateOptions = {2500, 1500, 500};
    std::string fixedQualityOptions = "20,40,60,80,100";
    uint32_t constantBitRateMin = 64;
    uint32_t constantBitRateMax = 8192;
};

const char* CodecName(Codec codec);                 // "H.264", "MPEG4", "MJPEG"
bool ParseCodecName(const std::string& text, Codec& codec);  // any case; "JPEG" and "H264" too

}  // namespace camsim
