// The part of the socket layer that Winsock and POSIX sockets spell alike:
// addresses, names and byte order.
#include "platform/socket_address.h"

#include <cstdio>
#include <cstring>

namespace telvaro {
namespace platform {

sockaddr_in ToSockaddr(const Ipv4Endpoint& ep) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = ep.address;
    sa.sin_port = htons(ep.port);
    return sa;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& sa) {
    Ipv4Endpoint ep;
    ep.address = sa.sin_addr.s_addr;
    ep.port = ntohs(sa.sin_port);
    return ep;
}

bool BindSocket(SocketHandle s, const Ipv4Endpoint& local) {
    sockaddr_in sa = ToSockaddr(local);
    return bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
}

bool LocalEndpoint(SocketHandle s, Ipv4Endpoint& local) {
    sockaddr_in sa;
    socklen_t len = sizeof(sa);
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
    local = FromSockaddr(sa);
    return true;
}

uint32_t ResolveIpv4(const std::string& host) {
    if (host.empty()) return 0;
    LookupScope scope;
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return 0;
    uint32_t address = 0;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr) {
            address = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(result);
    return address;
}

bool ParseIpv4Address(const std::string& text, uint32_t& address) {
    const auto a = inet_addr(text.c_str());
    if (a == INADDR_NONE) return false;
    address = static_cast<uint32_t>(a);
    return true;
}

std::string FormatIpv4(uint32_t address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return buffer;
}

bool ReadHostName(std::string& name) {
    LookupScope scope;
    char buffer[129] = {0};
    if (gethostname(buffer, 128) != 0) return false;
    name.assign(buffer);
    return true;
}

uint16_t HostToNetwork16(uint16_t v) { return htons(v); }
uint32_t HostToNetwork32(uint32_t v) { return htonl(v); }
uint16_t NetworkToHost16(uint16_t v) { return ntohs(v); }
uint32_t NetworkToHost32(uint32_t v) { return ntohl(v); }

}  // namespace platform
}  // namespace telvaro
