#include "support/unanswered_port.h"

namespace fakes {

UnansweredPort::UnansweredPort() {
    // A backlog of 0 holds one connection nobody accepts; the SYN of every
    // later one is dropped, and its connect stays in progress.
    uint16_t port = 0;
    listenFd_ = ListenOnLoopback(0, port);
    if (listenFd_ == kNoSocket) return;
    fillerFd_ = ConnectToLoopback(port);
    if (fillerFd_ != kNoSocket) port_ = port;
}

UnansweredPort::~UnansweredPort() {
    CloseSocketFd(fillerFd_);
    CloseSocketFd(listenFd_);
}

}  // namespace fakes
