// A UDP socket on 127.0.0.1 that plays the camera's side of RTP and RTCP in
// tests.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/socket.h"

namespace fakes {

// 127.0.0.1 in network byte order.
uint32_t LoopbackAddress();

class UdpPeer {
public:
    // Bound to a free port on 127.0.0.1, with a 2 s receive time-out.
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    // True when the whole datagram went out to 127.0.0.1:port.
    bool Send(uint16_t port, const std::vector<uint8_t>& bytes);
    // The next datagram; empty when none came within the time-out.
    std::vector<uint8_t> Receive();
    uint16_t Port() const { return port_; }

private:
    telvaro::platform::SocketHandle socket_;
    uint16_t port_ = 0;
};

}  // namespace fakes
