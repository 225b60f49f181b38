// What an RTP receiver (or the interleaved RTSP stream) reports to the
// channel that consumes the packets.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "core/media_config.h"
#include "rtp/rtp_packet.h"

namespace telvaro {

class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;
    // A packet without a UDP sender: cut out of the RTSP connection.
    virtual void OnRTPPacket(const RTPPacket* packet) = 0;
    // A packet received on the UDP port, with the address it came from.
    virtual void OnRTPPacketFrom(const platform::Ipv4Endpoint* sender, const RTPPacket* packet) = 0;
    virtual void OnReceiveTimeout() = 0;
    virtual void OnReceiveClosed() = 0;
    // The session's decoder configuration, before SETUP; it stays owned by
    // the caller.
    virtual void SetMediaConfig(const MediaConfig& config) = 0;
    // The camera ended the session: it answered that the session is gone
    // or closed the RTSP connection. Called at most once per session.
    virtual void OnSessionEnded(const std::string& /*reason*/) {}
    // An RTCP BYE (RFC 3550 section 6.6) named this source, as its four
    // bytes were received (comparable with RTPPacket::ssrc).
    virtual void OnPeerBye(uint32_t /*ssrc*/) {}
};

}  // namespace telvaro
