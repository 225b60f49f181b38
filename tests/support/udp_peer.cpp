#include "support/udp_peer.h"

namespace fakes {

using telvaro::platform::Ipv4Endpoint;

uint32_t LoopbackAddress() {
    uint32_t address = 0;
    telvaro::platform::ParseIpv4Address("127.0.0.1", address);
    return address;
}

UdpPeer::UdpPeer() : socket_(telvaro::platform::OpenUdpSocket()) {
    Ipv4Endpoint local{LoopbackAddress(), 0};
    telvaro::platform::BindSocket(socket_, local);
    telvaro::platform::SetReceiveTimeout(socket_, 2000);
    if (telvaro::platform::LocalEndpoint(socket_, local)) port_ = local.port;
}

UdpPeer::~UdpPeer() { telvaro::platform::CloseSocket(socket_); }

bool UdpPeer::Send(uint16_t port, const std::vector<uint8_t>& bytes) {
    int n = telvaro::platform::SendBytesTo(socket_, bytes.data(), bytes.size(), Ipv4Endpoint{LoopbackAddress(), port});
    return n == static_cast<int>(bytes.size());
}

std::vector<uint8_t> UdpPeer::Receive() {
    uint8_t buffer[2048];
    telvaro::platform::SocketError err;
    int n = telvaro::platform::ReceiveDatagram(socket_, buffer, sizeof(buffer), nullptr, &err);
    return n > 0 ? std::vector<uint8_t>(buffer, buffer + n) : std::vector<uint8_t>();
}

}  // namespace fakes
