// A source of RTP datagrams and the object it reports to.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace telvaro {

class IRTPPortUser;

class IRTPPort {
public:
    virtual ~IRTPPort() = default;
    // An empty address means any local address.
    virtual bool Open(const std::string& address, uint16_t port) = 0;
    virtual void Close() = 0;
    // Set before Open; the user must outlive the open port.
    virtual void SetUser(IRTPPortUser* user) = 0;
};

// Called on the port's receive thread, except OnClosed from Close, which
// runs on the thread that closes the port.
class IRTPPortUser {
public:
    virtual ~IRTPPortUser() = default;
    // data is valid only during the call.
    virtual void OnPacket(IRTPPort* port, const platform::Ipv4Endpoint& sender, const uint8_t* data,
                          uint32_t length) = 0;
    // Nothing arrived within the port's wait time-out.
    virtual void OnTimeout(IRTPPort* port) = 0;
    // Reception on the port has ended.
    virtual void OnClosed(IRTPPort* port) = 0;
};

}  // namespace telvaro
