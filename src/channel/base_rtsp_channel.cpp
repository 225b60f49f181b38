#include "channel/base_rtsp_channel.h"

#include "thread/thread_owner.h"
#include "util/text.h"

namespace telvaro {

CBaseRTSPChannel::CBaseRTSPChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : CBaseRTPChannel(driver, channelNumber, sink) {}

CBaseRTSPChannel::~CBaseRTSPChannel() { Stop(); }

bool CBaseRTSPChannel::CreateReceiver() {
    if (!CBaseRTPChannel::CreateReceiver()) return false;
    if (!Interleaved()) {
        rtcpHandler_.reset(new CRTCPHandler());
        rtcpHandler_->SetByeListener([this](uint32_t ssrc) { OnPeerBye(ssrc); });
    }
    client_.reset(new CBaseRTSPClient());
    return true;
}

namespace {

const char* OpenFailureText(CUDPPort::OpenResult result) {
    switch (result) {
        case CUDPPort::OpenResult::AlreadyOpen: return "the receiver is open already";
        case CUDPPort::OpenResult::BadAddress: return "the local address cannot be used";
        case CUDPPort::OpenResult::SocketFailed: return "no UDP socket";
        case CUDPPort::OpenResult::OptionFailed: return "the UDP socket cannot be set up";
        case CUDPPort::OpenResult::ThreadFailed: return "the receive thread cannot be started";
        default: return "the port cannot be opened";
    }
}

}  // namespace

bool CBaseRTSPChannel::FindPortPair() {
    CEvent* stopOrData[2] = {&stopEvent_, &dataEvent_};
    for (uint32_t port = kFirstPort; port <= kLastPort; port += 2) {
        if (stopEvent_.IsSet()) return false;
        dataEvent_.Reset();
        if (!receiver_->Open(0, std::string(), static_cast<uint16_t>(port))) {
            // A port in use moves the search on; anything else is the reason.
            const CUDPPort* udp = receiver_->GetPort();
            if (udp && udp->GetLastOpenResult() != CUDPPort::OpenResult::BindFailed) {
                NoteAttemptFailure({kFailureNoAnswer, FormatText("UDP port %u: %s", port,
                                                                 OpenFailureText(udp->GetLastOpenResult()))});
            }
            continue;
        }
        const int woke = WaitAny(stopOrData, kPortProbeMs);
        if (woke == 0) return false;
        if (woke == -1) {
            if (rtcpHandler_->Start(static_cast<uint16_t>(port + 1))) {
                rtpPort_ = static_cast<uint16_t>(port);
                rtcpPort_ = static_cast<uint16_t>(port + 1);
                return true;
            }
            // A handler that opened its socket but not its thread starts afresh.
            rtcpHandler_.reset(new CRTCPHandler());
            rtcpHandler_->SetByeListener([this](uint32_t ssrc) { OnPeerBye(ssrc); });
        }
        receiver_->Close();
    }
    return false;
}

bool CBaseRTSPChannel::OpenTransport() {
    if (receiver_ && rtcpHandler_ && !FindPortPair()) {
        NoteAttemptFailure({kFailureNoAnswer, FormatText("no free UDP port pair from %u to %u", kFirstPort, kLastPort + 1)});
        return false;
    }
    if (stopEvent_.IsSet() || !client_) return false;
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    RtspParams params;
    params.host = device.address;
    params.hostAddress = cameraAddress_;
    params.userName = device.userName;
    params.password = device.password;
    params.connectTimeoutMs = device.timeout;
    params.clientRtpPort = rtpPort_;
    params.clientRtcpPort = rtcpPort_;
    PrepareSession(params);
    if (client_->Open(params, this, transportMode_)) return true;
    NoteAttemptFailure(client_->LastFailure());
    return false;
}

FailureReason CBaseRTSPChannel::SessionFailure() { return client_ ? client_->LastFailure() : FailureReason(); }

FailureReason CBaseRTSPChannel::ControlFailure() { return rtcpHandler_ ? rtcpHandler_->LastFailure() : FailureReason(); }

bool CBaseRTSPChannel::WaitForPlay() {
    if (!client_) return false;
    CEvent* stopOrSetUp[2] = {&stopEvent_, &client_->SetupEnded()};
    const uint32_t bound = client_->SetupBoundMs();
    const int woke = WaitAny(stopOrSetUp, bound);
    if (woke == 0) return false;
    if (client_->Playing()) return true;
    if (woke == -1) {
        NoteAttemptFailure({kFailureNoAnswer, FormatText("the RTSP session was not set up within %u ms", bound)});
    }
    return false;
}

void CBaseRTSPChannel::CloseTransport() {
    if (client_) client_->Close();
    if (rtcpHandler_) {
        rtcpHandler_->RequestStop();
        rtcpHandler_->Join();
    }
    if (receiver_) receiver_->Close();
    rtpPort_ = 0;
    rtcpPort_ = 0;
}

void CBaseRTSPChannel::DeleteReceiver() {
    // A client or handler whose thread could not be ended may still be in
    // use by it: it is kept rather than freed, and so is the channel, which
    // the client's thread calls back (interleaved media, configuration).
    if (client_ && client_->Abandoned() && client_->IsRunning()) {
        thread::CThreadOwner::KeepForever(std::move(client_));
        MarkAbandoned();
    }
    if (rtcpHandler_ && rtcpHandler_->Abandoned()) thread::CThreadOwner::KeepForever(std::move(rtcpHandler_));
    client_.reset();
    rtcpHandler_.reset();
    CBaseRTPChannel::DeleteReceiver();
}

void CBaseRTSPChannel::PrepareSession(RtspParams&) {}

}  // namespace telvaro
