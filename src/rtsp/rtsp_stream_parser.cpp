#include "rtsp/rtsp_stream_parser.h"

#include <algorithm>

#include "rtp/rtp_packet.h"
#include "rtsp/rtsp_response_parser.h"

namespace telvaro {

namespace {

const char kReplyStart[] = "RTSP/";
constexpr size_t kReplyStartLength = sizeof(kReplyStart) - 1;

}  // namespace

// The RTCP channel's frames are taken whole: their payload must not be
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
    rtcp_ = false;
}

void CRTSPStreamParser::Deliver(const uint8_t* data, size_t length) {
    if (rtcp_) {
        if (onRtcp_) onRtcp_(data, length);
        return;
    }
    RTPPacket packet;
    if (ParseRTPHeader(data, length, packet) && user_) user_->OnRTPPacket(&packet);
}

size_t CRTSPStreamParser::FeedReply(const uint8_t* data, size_t length) {
    const size_t before = reply_.size();
    reply_.append(reinterpret_cast<const char*>(data), length);
    size_t extent = 0;
    switch (CRTSPResponseParser::FindReplyExtent(reply_, kMaxReplyLength, extent)) {
        case CRTSPResponseParser::ReplyExtent::Incomplete:
            return length;
        case CRTSPResponseParser::ReplyExtent::TooLarge:
            // Passed over; the search for the next frame starts after it.
            replyPrefix_ = 0;
            reply_.clear();
            return length;
        case CRTSPResponseParser::ReplyExtent::Complete:
            break;
    }
    reply_.resize(extent);
    std::string reply;
    reply.swap(reply_);
    replyPrefix_ = 0;
    if (onReply_) onReply_(reply);
    return extent - before;
}

void CRTSPStreamParser::Feed(const uint8_t* data, size_t length) {
    if (!data) return;
    size_t p = 0;
    while (p < length) {
        if (replyPrefix_ == kReplyStartLength) {
            p += FeedReply(data + p, length - p);
            continue;
        }
        const uint8_t byte = data[p];
        if (matched_ == 0 && (onReply_ || replyPrefix_ > 0)) {
            if (byte == static_cast<uint8_t>(kReplyStart[replyPrefix_])) {
                ++p;
                if (++replyPrefix_ == kReplyStartLength) reply_ = kReplyStart;
                continue;
            }
            // Not a reply after all: the same byte may begin a frame.
            replyPrefix_ = 0;
        }
        if (matched_ < 2) {
            if (byte == marker_[matched_]) {
                ++matched_;
                ++p;
            } else if (matched_ == 1 && byte == rtcpChannel_ && rtcpChannel_ != marker_[1]) {
                matched_ = 2;
                rtcp_ = true;
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
        if (rtcp_ && !onRtcp_) {
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
