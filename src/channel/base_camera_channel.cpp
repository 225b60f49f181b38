#include "channel/base_camera_channel.h"

#include <cctype>
#include <string>

#include "platform/socket.h"
#include "psia/text.h"
#include "thread/file_time.h"

namespace telvaro {

CBaseCameraChannel::CBaseCameraChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : channelNumber_(channelNumber), driver_(driver), sink_(sink) {}

CBaseCameraChannel::~CBaseCameraChannel() { Stop(); }

void CBaseCameraChannel::OnStopRequested() {}

bool CBaseCameraChannel::StartThread() {
    stopEvent_.Reset();
    return platform::NativeThread::Start([this] { Run(); }, "Camera channel", false, &thread_) != nullptr;
}

bool CBaseCameraChannel::Start(const CHANNEL_PARAMS& params) {
    Stop();
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
    SetState(kStateStopped);
    StopThread();
    // Copied once the old session's threads, which read them, are gone.
    params_.frameInterval = params.frameInterval;
    params_.width = params.width;
    params_.height = params.height;
    return StartThread();
}

void CBaseCameraChannel::StopThread() {
    stopEvent_.Set();
    if (!thread_) return;
    OnStopRequested();
    const uint32_t bound = driver_ ? driver_->GetDeviceInfo().timeout * 2 : 10000;
    if (!thread_->Join(bound)) thread_->Terminate();
    thread_.reset();
}

int32_t CBaseCameraChannel::GetState() {
    CLockScope scope(stateLock_);
    return state_;
}

void CBaseCameraChannel::SetState(int32_t state) {
    CLockScope scope(stateLock_);
    state_ = state;
}

void CBaseCameraChannel::TouchData() {
    uint64_t now = GetCurrentFileTime();
    CLockScope scope(dataLock_);
    lastData_ = now;
}

uint32_t CBaseCameraChannel::MillisecondsSinceData() {
    uint64_t now = GetCurrentFileTime();
    CLockScope scope(dataLock_);
    if (now <= lastData_) return 0;
    return static_cast<uint32_t>((now - lastData_) / 10000);
}

void CBaseCameraChannel::SetCameraState(bool online) {
    // Every delivered frame asks to go online: most calls change nothing.
    if (online_.load() == online) return;
    std::lock_guard<std::mutex> guard(reportLock_);
    if (online && stopping_) return;
    if (online_.load() == online) return;
    online_.store(online);
    if (!driver_) return;

    const std::string address = driver_->GetDeviceInfo().address;
    std::string name = driver_->GetChannelCount() > 1
                           ? FormatText("Video-server %s (channel %u)", address.c_str(), channelNumber_)
                           : FormatText("Camera %s", address.c_str());
    static const char* const kWhere = "telvaro::CBaseCameraChannel::SetCameraState";
    if (online) {
        driver_->DebugMessage(3, "%s: %s is online", kWhere, name.c_str());
        return;
    }
    switch (GetState()) {
        case kStateStopped:
            driver_->DebugMessage(3, "%s: %s is offline. Channel was stopped", kWhere, name.c_str());
            break;
        case kStateSignalLost:
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            driver_->DebugMessage(1, "%s: Signal was lost for %s", kWhere, name.c_str());
            break;
        default:
            driver_->DebugMessage(1, "%s: %s is offline or failed", kWhere, name.c_str());
            break;
    }
}

}  // namespace telvaro
