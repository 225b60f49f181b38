// A clip as the RTP packets a camera would send: frame after frame, each
// frame's payloads under one time stamp with the marker on the last, the
// sequence numbers running on. Header only (rtpkit is all it needs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtpkit/clip.h"
#include "rtpkit/rtp_writer.h"

namespace fakes {

struct ClipPackets {
    std::vector<rtpkit::Bytes> packets;
    std::vector<size_t> firstPacket;  // per frame
    std::vector<bool> key;            // per frame
};

// payloadsOf(frame) gives the frame's RTP payloads; the clip is sent times
// times in a row.
template <typename PayloadsOf>
ClipPackets PacketizeClip(const std::vector<rtpkit::Frame>& frames, PayloadsOf payloadsOf, uint16_t firstSequence,
                          int times = 1) {
    ClipPackets s;
    rtpkit::RtpSequencer sequencer(96, 0x1234, firstSequence);
    uint32_t timeStamp = 90000;
    for (int t = 0; t < times; ++t) {
        for (const rtpkit::Frame& f : frames) {
            s.firstPacket.push_back(s.packets.size());
            s.key.push_back(f.key);
            for (rtpkit::Bytes& p : sequencer.Wrap(payloadsOf(f), timeStamp)) s.packets.push_back(std::move(p));
            timeStamp += 3600;
        }
    }
    return s;
}

}  // namespace fakes
