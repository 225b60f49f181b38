#include "support/unanswered_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fakes {

UnansweredPort::UnansweredPort() {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A backlog of 0 holds one connection nobody accepts; the SYN of every
    // later one is dropped, and its connect stays in progress.
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listenFd_, 0) != 0) {
        return;
    }
    socklen_t length = sizeof(address);
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    fillerFd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fillerFd_ < 0 || connect(fillerFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return;
    port_ = ntohs(address.sin_port);
}

UnansweredPort::~UnansweredPort() {
    if (fillerFd_ >= 0) close(fillerFd_);
    if (listenFd_ >= 0) close(listenFd_);
}

}  // namespace fakes
