#include "channel/base_camera_channel.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/clock.h"
#include "platform/socket.h"
#include "util/text.h"

namespace telvaro {

CBaseCameraChannel::CBaseCameraChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : channelNumber_(channelNumber), driver_(driver), sink_(sink) {}

CBaseCameraChannel::~CBaseCameraChannel() { Stop(); }

void CBaseCameraChannel::OnStopRequested() {}

void CBaseCameraChannel::OnThreadForced() {}

bool CBaseCameraChannel::StartThread() {
    // A thread that could not be ended may still be in the channel: a second
    // one beside it would share its transport.
    if (abandoned_) return false;
    stopEvent_.Reset();
    stopRequested_ = false;
    return thread_.Start([this] { Run(); }, "Camera channel");
}

bool CBaseCameraChannel::AcceptsSettings(const CHANNEL_PARAMS&) { return true; }

bool CBaseCameraChannel::Start(const CHANNEL_PARAMS& params) {
    Stop();
    if (!AcceptsSettings(params)) return false;
    params_ = params;
    if (!winsockStarted_) winsockStarted_ = platform::SocketStartup();
    {
        std::lock_guard<std::mutex> guard(reportLock_);
        stopping_ = false;
    }
    if (StartThread()) return true;
    if (winsockStarted_) {
        platform::SocketCleanup();
        winsockStarted_ = false;
    }
    return false;
}

void CBaseCameraChannel::Stop() {
    SetState(kStateStopped);
    {
        std::lock_guard<std::mutex> guard(reportLock_);
        stopping_ = true;
    }
    SetCameraState(false);
    StopThread();
    if (winsockStarted_) {
        platform::SocketCleanup();
        winsockStarted_ = false;
    }
}

bool CBaseCameraChannel::Restart(const CHANNEL_PARAMS& params) {
    CHANNEL_PARAMS next = params_;
    next.frameInterval = params.frameInterval;
    next.width = params.width;
    next.height = params.height;
    // Refused settings leave the running session as it is.
    if (!AcceptsSettings(next)) return false;
    SetState(kStateStopped);
    StopThread();
    // Copied once the old session's threads, which read them, are gone.
    params_.frameInterval = params.frameInterval;
    params_.width = params.width;
    params_.height = params.height;
    return StartThread();
}

void CBaseCameraChannel::StopThread() {
    thread_.RequestStop();
    if (!thread_.HasThread()) return;
    OnStopRequested();
    const uint32_t bound = driver_ ? driver_->GetDeviceInfo().timeout * 2 : 10000;
    switch (thread_.Join(bound)) {
        case thread::CThreadOwner::StopResult::Forced: OnThreadForced(); break;
        case thread::CThreadOwner::StopResult::Ended: break;
        default: MarkAbandoned();
    }
}

ChannelState CBaseCameraChannel::GetState() {
    CLockScope scope(stateLock_);
    return state_;
}

void CBaseCameraChannel::SetState(ChannelState state) {
    CLockScope scope(stateLock_);
    state_ = state;
}

// The no-data clock is monotonic: a step of the wall clock must neither
// drop a healthy stream nor keep a dead one.
void CBaseCameraChannel::TouchData() {
    uint64_t now = platform::MonotonicMilliseconds();
    CLockScope scope(dataLock_);
    lastData_ = now;
}

uint32_t CBaseCameraChannel::MillisecondsSinceData() {
    uint64_t now = platform::MonotonicMilliseconds();
    CLockScope scope(dataLock_);
    if (now <= lastData_) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(now - lastData_, 0xFFFFFFFFu));
}

void CBaseCameraChannel::SetCameraState(bool online) {
    // Every delivered frame asks to go online: most calls change nothing.
    if (online_.load() == online) return;
    {
        std::lock_guard<std::mutex> guard(reportLock_);
        if (online && stopping_) return;
        if (online_.load() == online) return;
        online_.store(online);
        if (!driver_) return;
        pendingReports_.push_back(MakeReport(online));
        // A thread that is handing reports to the host already takes this
        // one too, in order; the host is never called under the lock.
        if (delivering_) return;
        delivering_ = true;
    }
    DeliverReports();
}

std::string CBaseCameraChannel::DeviceName() const {
    const std::string address = driver_->GetDeviceInfo().address;
    return driver_->GetChannelCount() > 1 ? FormatText("Video-server %s (channel %u)", address.c_str(), channelNumber_)
                                          : FormatText("Camera %s", address.c_str());
}

CBaseCameraChannel::Report CBaseCameraChannel::MakeReport(bool online) {
    std::string name = DeviceName();
    static const char* const kWhere = "telvaro::CBaseCameraChannel::SetCameraState";
    if (online) return {kMessageNotice, FormatText("%s: %s is online", kWhere, name.c_str())};
    switch (GetState()) {
        case kStateStopped:
            return {kMessageNotice, FormatText("%s: %s is offline. Channel was stopped", kWhere, name.c_str())};
        case kStateSignalLost:
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            return {kMessageFailure, FormatText("%s: Signal was lost for %s", kWhere, name.c_str())};
        default:
            return {kMessageFailure, FormatText("%s: %s is offline or failed", kWhere, name.c_str())};
    }
}

void CBaseCameraChannel::DeliverReports() {
    for (;;) {
        Report report;
        {
            std::lock_guard<std::mutex> guard(reportLock_);
            if (pendingReports_.empty()) {
                delivering_ = false;
                return;
            }
            report = std::move(pendingReports_.front());
            pendingReports_.pop_front();
        }
        driver_->DebugMessage(report.type, "%s", report.text.c_str());
    }
}

}  // namespace telvaro
