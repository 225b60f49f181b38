#include "channel/base_rtp_channel.h"

#include "core/transport_mode.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/thread_cancel.h"
#include "util/text.h"

namespace telvaro {

namespace {

uint32_t ResolveCamera(IDriver* driver) { return driver ? platform::ResolveHost(driver->GetDeviceInfo().address) : 0; }

}  // namespace

CBaseRTPChannel::CBaseRTPChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : CBaseCameraChannel(driver, channelNumber, sink), cameraAddress_(ResolveCamera(driver)) {}

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
    if (Connect()) {
        // The no-data time-out counts from the moment the stream plays:
        // a camera that is slow to answer its set-up is still recorded.
        const uint64_t connected = platform::MonotonicMilliseconds();
        const bool playing = WaitForPlay();
        if (playing && WaitAny(stopOrFrame, noData) == 1) {
            SetState(kStateStreaming);
            reportedFailures_.clear();
        } else if (!stopEvent_.IsSet()) {
            FailureReason reason = SessionFailure();
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

int32_t CBaseRTPChannel::Run() {
    TouchData();
    for (;;) {
        const uint32_t noData = driver_->GetDeviceInfo().noDataTimeout;
        if (GetState() != kStateStreaming) ConnectAndWait(noData);
        const bool stopping = stopEvent_.Wait(1000);
        if (!stopping) ReportParserFailure();
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
    transportMode_ = driver_->GetRtpMode(channelNumber_);
    if (Configure() && CreateReceiver() && OpenTransport()) return true;
    SetState(kStateStopped);
    CloseTransport();
    DeleteReceiver();
    return false;
}

FailureReason CBaseRTPChannel::SessionFailure() { return FailureReason(); }

bool CBaseRTPChannel::WaitForPlay() { return !stopEvent_.IsSet(); }

void CBaseRTPChannel::NoteAttemptFailure(const FailureReason& reason) {
    if (attemptFailure_.Empty()) attemptFailure_ = reason;
}

void CBaseRTPChannel::ReportAttemptFailure(const FailureReason& reason) {
    ReportOnce("telvaro::CBaseRTPChannel::Connect", reason.text);
}

void CBaseRTPChannel::ReportParserFailure() {
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
