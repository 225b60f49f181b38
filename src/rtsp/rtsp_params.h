// Connection parameters of one RTSP session and the numbers the RTSP client
// and its reply parser share (request methods, authentication schemes, media
// kinds).
#pragma once

#include <cstdint>
#include <string>

namespace telvaro {

// Request methods as the client numbers them; any other number builds an
// empty request.
enum RtspMethod : int32_t {
    kRtspDescribe = 1,
    kRtspSetup = 2,
    kRtspPlay = 3,
    kRtspTeardown = 4,
    kRtspOptions = 5,
    kRtspPause = 6,
    // A keep-alive without a body (RFC 2326 section 10.8), for servers
    // that count only it as activity.
    kRtspGetParameter = 7,
};

// Authentication schemes, as offered by a challenge and as in use.
constexpr int32_t kRtspAuthNone = 0;
constexpr int32_t kRtspAuthBasic = 1;
constexpr int32_t kRtspAuthDigest = 2;

// Media kinds of a session description; 0 is none or another kind.
constexpr int32_t kRtspMediaNone = 0;
constexpr int32_t kRtspMediaVideo = 1;
constexpr int32_t kRtspMediaAudio = 2;
constexpr int32_t kRtspMediaMetadata = 3;

struct RtspParams {
    uint16_t serverPort = 554;
    uint16_t clientRtpPort = 0;
    uint16_t clientRtcpPort = 0;
    std::string host;          // name or dotted IPv4 address
    uint32_t hostAddress = 0;  // host already resolved (network order); 0: looked up within connectTimeoutMs
    std::string userName;
    std::string password;
    uint32_t connectTimeoutMs = 5000;
    uint32_t receiveTimeoutMs = 5000;
    uint32_t receiveBufferSize = 0x10000;
    uint32_t defaultSessionTimeout = 60;  // seconds, when the server announces none
    int32_t currentScheme = kRtspAuthNone;
    std::string urlPath;                  // path of the stream's URL
    int32_t mediaKind = kRtspMediaVideo;  // the media of the session description that is set up
};

}  // namespace telvaro
