#include "rtp/rtp_receiver.h"

namespace telvaro {

CRTPReceiver::CRTPReceiver() = default;

CRTPReceiver::~CRTPReceiver() { Close(); }

bool CRTPReceiver::Open(int32_t reuse, const std::string& address, uint16_t port) {
    if (reuse == 0) {
        // A port still held is closed first: its thread must not outlive it.
        Close();
        port_.reset(new CUDPPort());
    } else if (!port_) {
        return false;
    }
    port_->SetUser(this);
    if (port_->Open(address, port)) return true;
    Close();
    return false;
}

void CRTPReceiver::Close() {
    if (!port_) return;
    // The port joins its thread, so nothing reads the pointer any more once
    // it is cleared.
    port_->Close();
    port_.reset();
}

void CRTPReceiver::OnPacket(IRTPPort* port, const platform::Ipv4Endpoint& sender, const uint8_t* data,
                            uint32_t length) {
    if (port != port_.get()) return;
    RTPPacket packet;
    if (!ParseRTPHeader(data, length, packet)) return;
    IRTPReceiverUser* user = user_.load();
    if (user) user->OnRTPPacketFrom(&sender, &packet);
}

void CRTPReceiver::OnTimeout(IRTPPort* port) {
    if (port != port_.get()) return;
    IRTPReceiverUser* user = user_.load();
    if (user) user->OnReceiveTimeout();
}

void CRTPReceiver::OnClosed(IRTPPort* port) {
    if (port != port_.get()) return;
    IRTPReceiverUser* user = user_.load();
    if (user) user->OnReceiveClosed();
}

}  // namespace telvaro
