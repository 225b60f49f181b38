// Misbehaviour a test can switch on and off while the camera runs. Every
// field is atomic, so any thread may change it at any time.
#pragma once

#include <atomic>
#include <cstdint>

namespace camsim {

enum class ChannelPutFault {
    None,
    RebootRequired,    // statusCode 7; the change takes effect at the next reboot
    InvalidOperation,  // statusCode 4; nothing changes
    NotFound,          // HTTP 404 on /PSIA/Streaming/channels/<id>
    MethodNotAllowed,  // HTTP 405 on /PSIA/Streaming/channels/<id>
};

struct Faults {
    // Sessions stay up but no RTP or RTCP leaves the camera.
    std::atomic<bool> silent{false};
    // RTSP connections are closed as soon as they are accepted.
    std::atomic<bool> refuseRtsp{false};
    std::atomic<ChannelPutFault> channelPut{ChannelPutFault::None};
    // Share of RTP packets dropped before sending, 0 to 100.
    std::atomic<uint32_t> rtpLossPercent{0};
    // Every HTTP and RTSP reply waits this long.
    std::atomic<uint32_t> replyDelayMs{0};
    // Every /PSIA/System/IO resource answers 503.
    std::atomic<bool> ioFailure{false};
    // Only /PSIA/System/IO (the combined port list) answers 404.
    std::atomic<bool> ioPortListMissing{false};
};

}  // namespace camsim
