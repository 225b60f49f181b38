// One RTP stream of a session: the clip looped frame by frame through the
// packetizers, with its own SSRC, sequence numbers and 90 kHz time stamps
// that continue across loops, and the RTCP sender reports about it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camsim/clip_library.h"

namespace camsim {

struct StreamOptions {
    size_t mtu = 1400;
    bool parameterSetsInBand = true;
    int jpegQ = 255;
    uint32_t maxFrameRate = 2500;
    // H.264 filler data up to this rate (kbit/s); 0: none.
    uint32_t paddedBitRateKbps = 0;
    // Frames the channel may still send in all (0: no end); the session
    // enforces it.
    uint64_t frameLimit = 0;
};

class RtpStream {
public:
    RtpStream(std::shared_ptr<const ServedClip> clip, const StreamOptions& options);

    const StreamOptions& Options() const { return options_; }
    uint8_t PayloadType() const;
    uint32_t Ssrc() const { return ssrc_; }
    uint16_t NextSequence() const { return sequence_; }
    uint32_t NextTimestamp() const;
    std::chrono::nanoseconds FrameDuration() const;
    // The RTP packets of the next frame of the loop.
    std::vector<rtpkit::Bytes> NextFrame();
    // Counts a packet that really left, for the sender report.
    void CountSent(size_t packetSize);
    // Sender report and source description (RFC 3550 sections 6.4.1, 6.5),
    // stamped with the wall clock and the stream time rtpTime of this moment.
    rtpkit::Bytes SenderReport(uint32_t rtpTime, const std::string& cname) const;

private:
    uint32_t TimestampOfFrame(uint64_t frame) const;
    // Filler NAL unit payloads that bring the stream up to the padded bit
    // rate after a frame of frameBytes.
    std::vector<rtpkit::Bytes> Filler(size_t frameBytes);

    std::shared_ptr<const ServedClip> clip_;
    StreamOptions options_;
    int jpegQ_;
    uint32_t ssrc_;
    uint16_t sequence_;
    uint32_t timestampBase_;
    uint64_t frame_ = 0;
    uint32_t packetsSent_ = 0;
    uint32_t octetsSent_ = 0;
    // Bytes the padded rate allows beyond what was sent; negative after
    // frames larger than the rate's share.
    int64_t paddingBalance_ = 0;
};

}  // namespace camsim
