// Receives RTP on a UDP port and reports parsed packets to its user.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "rtp/rtp_port.h"
#include "rtp/rtp_receiver_user.h"
#include "rtp/udp_port.h"

namespace telvaro {

class CRTPReceiver : public IRTPPortUser {
public:
    CRTPReceiver();
    ~CRTPReceiver() override;
    CRTPReceiver(const CRTPReceiver&) = delete;
    CRTPReceiver& operator=(const CRTPReceiver&) = delete;

    // reuse 0 opens a new port; any other value reopens the port already
    // held and fails without one. On failure the port is closed and deleted.
    bool Open(int32_t reuse, const std::string& address, uint16_t port);
    // Closes and deletes the port. Not for the receiver's own callbacks:
    // the port's thread would be left inside a deleted port.
    void Close();

    // Set before Open; the user must stay alive until Close returns.
    void SetUser(IRTPReceiverUser* user) { user_.store(user); }
    // Null when closed.
    CUDPPort* GetPort() const { return port_.get(); }

    void OnPacket(IRTPPort* port, const platform::Ipv4Endpoint& sender, const uint8_t* data,
                  uint32_t length) override;
    void OnTimeout(IRTPPort* port) override;
    void OnClosed(IRTPPort* port) override;

private:
    std::unique_ptr<CUDPPort> port_;
    std::atomic<IRTPReceiverUser*> user_{nullptr};
};

}  // namespace telvaro
