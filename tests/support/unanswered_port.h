// A loopback TCP port whose listener never takes another connection: its
// accept queue is full, so a connect to it is neither made nor refused and
// runs into the connecting side's time-out.
#pragma once

#include <cstdint>

#include "support/loopback_socket.h"

namespace fakes {

class UnansweredPort {
public:
    UnansweredPort();
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;
    // 0 when the port could not be set up.
    uint16_t Port() const { return port_; }

private:
    SocketFd listenFd_ = kNoSocket;
    SocketFd fillerFd_ = kNoSocket;
    uint16_t port_ = 0;
};

}  // namespace fakes
