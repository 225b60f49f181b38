// Inside the socket layer only: the system's IPv4 address record, which
// Winsock and POSIX sockets share, for the backend-neutral half
// (socket_address.cpp) and each backend.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "platform/socket.h"

namespace telvaro {
namespace platform {

sockaddr_in ToSockaddr(const Ipv4Endpoint& ep);
Ipv4Endpoint FromSockaddr(const sockaddr_in& sa);

// Held around a name look-up and the host name's read: Winsock must be
// started for them, by whatever thread asks. Each backend gives it.
class LookupScope {
public:
    LookupScope();
    ~LookupScope();
    LookupScope(const LookupScope&) = delete;
    LookupScope& operator=(const LookupScope&) = delete;

private:
    bool started_ = false;
};

}  // namespace platform
}  // namespace telvaro
