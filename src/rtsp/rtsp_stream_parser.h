// Cuts the interleaved frames (RFC 2326 section 10.12) out of the byte stream
// of an RTSP connection and hands every RTP packet of channel 0 to the user.
// A frame may be split over any number of chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtp/rtp_receiver_user.h"

namespace telvaro {

class CRTSPStreamParser {
public:
    // The largest payload a frame's 16-bit length can announce, and with it
    // the most of the stream the parser ever holds.
    static constexpr size_t kMaxFrameLength = 0xFFFF;

    // Longest RTSP reply read out of the stream; a longer one is passed over.
    static constexpr size_t kMaxReplyLength = 64 * 1024;
    using ReplyHandler = std::function<void(const std::string& reply)>;
    using RtcpHandler = std::function<void(const uint8_t* data, size_t length)>;

    // RTP comes on rtpChannel; frames of rtcpChannel go whole to the RTCP
    // handler when there is one.
    explicit CRTSPStreamParser(IRTPReceiverUser* user, uint8_t rtpChannel = 0, uint8_t rtcpChannel = 1);
    virtual ~CRTSPStreamParser();
    CRTSPStreamParser(const CRTSPStreamParser&) = delete;
    CRTSPStreamParser& operator=(const CRTSPStreamParser&) = delete;

    // Every RTSP reply between the frames (status line through its body,
    // as Content-Length says), whole; without a handler replies are skipped.
    void SetReplyHandler(ReplyHandler handler) { onReply_ = std::move(handler); }
    void SetRtcpHandler(RtcpHandler handler) { onRtcp_ = std::move(handler); }

    // Consumes the next chunk of the stream. Anything else outside a frame
    // is skipped while looking for the next frame; packets whose RTP header
    // does not parse are dropped.
    void Feed(const uint8_t* data, size_t length);

private:
    void Reset();
    void Deliver(const uint8_t* data, size_t length);
    // Takes bytes of the reply begun; returns how many it consumed.
    size_t FeedReply(const uint8_t* data, size_t length);

    uint32_t matched_ = 0;    // bytes of the frame marker matched so far
    int32_t remaining_ = 0;   // payload bytes of the current frame still expected
    uint8_t lengthBytes_[2] = {0, 0};
    uint32_t lengthCount_ = 0;
    std::vector<uint8_t> packet_;  // the payload collected so far; its capacity is kept
    const uint8_t marker_[2];
    const uint8_t rtcpChannel_;
    // The current frame belongs to the RTCP channel.
    bool rtcp_ = false;
    IRTPReceiverUser* user_;
    // Bytes of "RTSP/" matched at a frame boundary; then the reply so far.
    size_t replyPrefix_ = 0;
    std::string reply_;
    ReplyHandler onReply_;
    RtcpHandler onRtcp_;
};

}  // namespace telvaro
