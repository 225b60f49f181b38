#include "channel/base_rtp_channel.h"

#include <algorithm>

#include "core/transport_mode.h"
#include "platform/clock.h"
#include "platform/name_lookup.h"
#include "platform/socket.h"
#include "platform/thread_cancel.h"
#include "util/text.h"

namespace telvaro {

CBaseRTPChannel::CBaseRTPChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : CBaseCameraChannel(driver, channelNumber, sink) {}

CBaseRTPChannel::~CBaseRTPChannel() { Stop(); }

void CBaseRTPChannel::OnThreadForced() {
    // The thread ended without its own teardown: end the session and the
    // receiving threads now, while the whole channel still exists.
    SetState(kStateStopped);
    CloseTransport();
    DeleteReceiver();
}

bool CBaseRTPChannel::Interleaved() const { return transportMode_ == kRtpOverRtsp || transportMode_ == kRtpOverTcp; }

void CBaseRTPChannel::ConnectAndWait(uint32_t noData) {
    CEvent* stopOrFrame[2] = {&stopEvent_, &frameEvent_};
    attemptStart_ = platform::MonotonicMilliseconds();
    if (Connect()) {
        // The no-data time-out counts from the moment the stream plays:
        // a camera that is slow to answer its set-up is still recorded.
        const uint64_t connected = platform::MonotonicMilliseconds();
        const bool playing = WaitForPlay();
        // In slices, so that a session the camera ends before its first
        // frame is not waited for to the end.
        int woke = -1;
        std::string ended;
        const uint64_t played = platform::MonotonicMilliseconds();
        while (playing) {
            const uint64_t waited = platform::MonotonicMilliseconds() - played;
            const uint64_t slice = waited >= noData ? 0 : std::min<uint64_t>(noData - waited, 250);
            woke = WaitAny(stopOrFrame, static_cast<uint32_t>(slice));
            if (woke != -1 || waited >= noData) break;
            if (endEvent_.IsSet() && !(ended = TakeSessionEnd()).empty()) break;
        }
        if (playing && woke == 1) {
            SetState(kStateStreaming);
            reportedFailures_.clear();
        } else if (!stopEvent_.IsSet()) {
            FailureReason reason = ended.empty() ? SessionFailure()
                                                 : FailureReason{kFailureRefused, "the camera ended the session: " + ended};
            if (reason.Empty()) reason = attemptFailure_;
            if (reason.Empty()) {
                reason = {kFailureNoAnswer, FormatText("no frame within the no-data time-out of %u ms", noData)};
            }
            ReportAttemptFailure(reason);
            // A camera that refuses the session (wrong password, say) is
            // asked again no more often than once per no-data time-out,
            // however fast it refused.
            const uint64_t elapsed = platform::MonotonicMilliseconds() - connected;
            if (!playing && elapsed < noData) stopEvent_.Wait(static_cast<uint32_t>(noData - elapsed));
        }
    } else if (!stopEvent_.IsSet()) {
        ReportAttemptFailure(attemptFailure_.Empty() ? FailureReason{kFailureNoAnswer, "the connection attempt failed"}
                                                    : attemptFailure_);
    }
}

bool CBaseRTPChannel::WaitPass(uint32_t ms, std::string& ended) {
    CEvent* stopOrEnd[2] = {&stopEvent_, &endEvent_};
    const uint64_t start = platform::MonotonicMilliseconds();
    for (;;) {
        const uint64_t elapsed = platform::MonotonicMilliseconds() - start;
        if (elapsed >= ms) return false;
        const int woke = WaitAny(stopOrEnd, static_cast<uint32_t>(ms - elapsed));
        if (woke == 0) return true;
        if (woke == -1) return false;
        ended = TakeSessionEnd();
        if (stopEvent_.IsSet()) return true;
        if (!ended.empty()) return false;
    }
}

std::string CBaseRTPChannel::TakeSessionEnd() {
    uint32_t ssrc = 0;
    uint64_t packetsAtBye = 0;
    {
        std::lock_guard<std::mutex> guard(endLock_);
        if (!endReason_.empty()) return endReason_;
        if (!byePending_) {
            endEvent_.Reset();
            return std::string();
        }
        byePending_ = false;
        endEvent_.Reset();
        ssrc = byeSsrc_;
        packetsAtBye = packetsAtBye_;
    }
    // A BYE for another source, or before any media, ends nothing here.
    if (packetsAtBye == 0 || ssrc != lastSsrc_.load()) return std::string();
    if (stopEvent_.Wait(kByeGraceMs) || packets_.load() != packetsAtBye) return std::string();
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&ssrc);
    return FormatText("RTCP BYE from SSRC %02X%02X%02X%02X and no media after it", b[0], b[1], b[2], b[3]);
}

void CBaseRTPChannel::OnSessionEnded(const std::string& reason) {
    std::lock_guard<std::mutex> guard(endLock_);
    if (endReason_.empty()) endReason_ = reason.empty() ? std::string("the session ended") : reason;
    endEvent_.Set();
}

void CBaseRTPChannel::OnPeerBye(uint32_t ssrc) {
    std::lock_guard<std::mutex> guard(endLock_);
    byePending_ = true;
    byeSsrc_ = ssrc;
    packetsAtBye_ = packets_.load();
    endEvent_.Set();
}

int32_t CBaseRTPChannel::Run() {
    TouchData();
    for (;;) {
        const uint32_t noData = driver_->GetDeviceInfo().noDataTimeout;
        if (GetState() != kStateStreaming) ConnectAndWait(noData);
        std::string ended;
        const bool stopping = WaitPass(1000, ended);
        if (!stopping && !ended.empty()) {
            // As after the no-data time-out: a new attempt, but no sooner
            // than a pass after the last one began.
            ReportOnce("telvaro::CBaseRTPChannel::Run", "the camera ended the session: " + ended);
            SetState(kStateSignalLost);
            const uint64_t sinceAttempt = platform::MonotonicMilliseconds() - attemptStart_;
            if (sinceAttempt < 1000 && stopEvent_.Wait(static_cast<uint32_t>(1000 - sinceAttempt))) break;
            continue;
        }
        if (!stopping) ReportStreamFailures();
        if (MillisecondsSinceData() <= noData) {
            if (stopping) break;
            continue;
        }
        if (stopping) break;
        SetState(kStateSignalLost);
        if (MillisecondsSinceData() <= 2 * noData) continue;
        if (sink_) sink_->OnSignalLost();
        SetCameraState(false);
    }
    SetState(kStateStopped);
    CloseTransport();
    DeleteReceiver();
    SetCameraState(false);
    return 0;
}

bool CBaseRTPChannel::Connect() {
    attemptFailure_ = FailureReason();
    if (mediaParser_) mediaParser_->ClearFailure();
    SetState(kStateStopped);
    CloseTransport();
    DeleteReceiver();
    frameEvent_.Reset();
    {
        // Whatever the last session's threads said is over with them.
        std::lock_guard<std::mutex> guard(endLock_);
        endReason_.clear();
        byePending_ = false;
        endEvent_.Reset();
    }
    packets_ = 0;
    transportMode_ = driver_->GetRtpMode(channelNumber_);
    if (ResolveCamera() && Configure() && CreateReceiver() && OpenTransport()) return true;
    SetState(kStateStopped);
    CloseTransport();
    DeleteReceiver();
    return false;
}

bool CBaseRTPChannel::ResolveCamera() {
    // Anew at every attempt: a camera's name may come to stand for another
    // address. Never longer than the device's time-out, and a stop ends the
    // wait at once.
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    cameraAddress_ = platform::ResolveIpv4Within(device.address, device.timeout, &stopRequested_);
    if (cameraAddress_ != 0) return true;
    NoteAttemptFailure({kFailureNotResolved,
                        FormatText("the camera's address \"%s\" was not resolved within %u ms",
                                   device.address.c_str(), static_cast<unsigned>(device.timeout))});
    return false;
}

FailureReason CBaseRTPChannel::SessionFailure() { return FailureReason(); }

FailureReason CBaseRTPChannel::ControlFailure() { return FailureReason(); }

bool CBaseRTPChannel::WaitForPlay() { return !stopEvent_.IsSet(); }

void CBaseRTPChannel::NoteAttemptFailure(const FailureReason& reason) {
    if (attemptFailure_.Empty()) attemptFailure_ = reason;
}

void CBaseRTPChannel::ReportAttemptFailure(const FailureReason& reason) {
    ReportOnce("telvaro::CBaseRTPChannel::Connect", reason.text);
}

void CBaseRTPChannel::ReportStreamFailures() {
    const FailureReason control = ControlFailure();
    if (!control.Empty()) ReportOnce("telvaro::CBaseRTPChannel::Run", control.text);
    if (!mediaParser_) return;
    const FailureReason failure = mediaParser_->LastFailure();
    if (!failure.Empty()) ReportOnce("telvaro::CBaseRTPChannel::FeedParser", "depacketizer: " + failure.text);
}

void CBaseRTPChannel::ReportOnce(const char* where, const std::string& reason) {
    if (!driver_ || !reportedFailures_.insert(std::string(where) + reason).second) return;
    driver_->DebugMessage(kMessageNotice, "%s: %s: %s", where, DeviceName().c_str(), reason.c_str());
}

bool CBaseRTPChannel::CreateReceiver() {
    if (Interleaved()) return true;
    receiver_.reset(new CRTPReceiver());
    receiver_->SetUser(this);
    return true;
}

bool CBaseRTPChannel::OpenTransport() { return true; }

void CBaseRTPChannel::CloseTransport() {
    if (receiver_) receiver_->Close();
}

void CBaseRTPChannel::DeleteReceiver() {
    if (!receiver_) return;
    receiver_->SetUser(nullptr);
    receiver_.reset();
}

void CBaseRTPChannel::OnRTPPacket(const RTPPacket* packet) {
    dataEvent_.Set();
    FeedParser(packet);
}

void CBaseRTPChannel::OnRTPPacketFrom(const platform::Ipv4Endpoint* sender, const RTPPacket* packet) {
    // An address that did not resolve matches no sender.
    if (!sender || cameraAddress_ == 0 || sender->address != cameraAddress_) return;
    dataEvent_.Set();
    FeedParser(packet);
}

void CBaseRTPChannel::FeedParser(const RTPPacket* packet) {
    lastSsrc_.store(packet->ssrc, std::memory_order_relaxed);
    packets_.fetch_add(1, std::memory_order_release);
    if (configPending_.load(std::memory_order_acquire)) {
        std::unique_ptr<MediaConfig> config;
        {
            std::lock_guard<std::mutex> guard(configLock_);
            config.swap(pendingConfig_);
            configPending_.store(false, std::memory_order_relaxed);
        }
        if (config && mediaParser_) mediaParser_->SetMediaConfig(*config);
    }
    OnVideoPacket(packet);
}

void CBaseRTPChannel::SetMediaConfig(const MediaConfig& config) {
    if (!mediaParser_) return;
    std::lock_guard<std::mutex> guard(configLock_);
    pendingConfig_.reset(new MediaConfig(config));
    configPending_.store(true, std::memory_order_release);
}

bool CBaseRTPChannel::OnFrame(ipcapture::IMediaSample* sample) {
    frameEvent_.Set();
    if (!sink_) return false;
    bool taken = false;
    try {
        taken = sink_->OnSample(sample);
    } catch (...) {
        platform::SwallowUnlessCancelled();
        taken = false;
    }
    if (!taken) return false;
    TouchData();
    SetCameraState(true);
    return true;
}

std::pair<uint32_t, uint32_t> CBaseRTPChannel::GetResolution() { return {params_.width, params_.height}; }

}  // namespace telvaro
