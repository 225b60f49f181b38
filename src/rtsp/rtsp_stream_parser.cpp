#include "rtsp/rtsp_stream_parser.h"

#include <algorithm>

#include "rtp/rtp_packet.h"

namespace telvaro {

// The RTCP channel's frames are passed over whole: their payload must not be
// searched for the next frame's marker.
CRTSPStreamParser::CRTSPStreamParser(IRTPReceiverUser* user, uint8_t rtpChannel, uint8_t rtcpChannel)
    : marker_{0x24, rtpChannel}, rtcpChannel_(rtcpChannel), user_(user) {
    packet_.reserve(kMaxFrameLength);
}

CRTSPStreamParser::~CRTSPStreamParser() = default;

void CRTSPStreamParser::Reset() {
    matched_ = 0;
    remaining_ = 0;
    lengthCount_ = 0;
    packet_.clear();
    skipping_ = false;
}

void CRTSPStreamParser::Deliver(const uint8_t* data, size_t length) {
    RTPPacket packet;
    if (ParseRTPHeader(data, length, packet) && user_) user_->OnRTPPacket(&packet);
}

void CRTSPStreamParser::Feed(const uint8_t* data, size_t length) {
    if (!data) return;
    size_t p = 0;
    while (p < length) {
        const uint8_t byte = data[p];
        if (matched_ < 2) {
            if (byte == marker_[matched_]) {
                ++matched_;
                ++p;
            } else if (matched_ == 1 && byte == rtcpChannel_ && rtcpChannel_ != marker_[1]) {
                matched_ = 2;
                skipping_ = true;
                ++p;
            } else if (matched_ > 0) {
                matched_ = 0;  // the same byte may begin a marker
            } else {
                ++p;
            }
            continue;
        }
        if (lengthCount_ < 2) {
            lengthBytes_[lengthCount_++] = byte;
            ++p;
            if (lengthCount_ == 2) {
                remaining_ = lengthBytes_[0] * 256 + lengthBytes_[1];
                if (remaining_ == 0) Reset();
            }
            continue;
        }
        const size_t count = std::min(static_cast<size_t>(remaining_), length - p);
        if (skipping_) {
            // Nothing to keep.
        } else if (packet_.empty() && count == static_cast<size_t>(remaining_)) {
            // The whole payload lies in this chunk: parsed where it is.
            Deliver(data + p, count);
        } else {
            packet_.insert(packet_.end(), data + p, data + p + count);
            if (count == static_cast<size_t>(remaining_)) Deliver(packet_.data(), packet_.size());
        }
        remaining_ -= static_cast<int32_t>(count);
        p += count;
        if (remaining_ == 0) Reset();
    }
}

}  // namespace telvaro
