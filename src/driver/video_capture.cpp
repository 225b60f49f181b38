#include "driver/video_capture.h"

#include "channel/base_camera_channel.h"
#include "thread/thread_owner.h"

namespace telvaro {

CIPVideoCapture::CIPVideoCapture(uint32_t channelCount, ICustomCreator* factory)
    : factory_(factory), channels_(channelCount) {
    placeOps_.reserve(channelCount);
    for (uint32_t i = 0; i < channelCount; ++i) placeOps_.emplace_back(new std::mutex());
}

CIPVideoCapture::~CIPVideoCapture() {
    for (uint32_t i = 0; i < GetChannelCount(); ++i) StopChannel(i);
}

uint32_t CIPVideoCapture::GetChannelCount() { return static_cast<uint32_t>(channels_.size()); }

std::shared_ptr<ICameraChannel> CIPVideoCapture::Lookup(uint32_t channel) {
    CLockScope scope(lock_);
    if (channel >= channels_.size()) return nullptr;
    return channels_[channel];
}

bool CIPVideoCapture::StartChannel(uint32_t channel, ipcapture::IStreamSink* sink,
                                   ipcapture::IStreamConfig* settings) {
    if (channel >= GetChannelCount()) return false;
    std::lock_guard<std::mutex> ops(*placeOps_[channel]);
    StopChannelLocked(channel);
    if (!factory_ || !settings) return false;
    ipcapture::IStreamRateConfig* rate = settings->GetRateConfig();
    ipcapture::IStreamImageConfig* image = settings->GetImageConfig();
    ipcapture::IImageSize* size = image ? image->GetSize() : nullptr;
    if (!rate || !size) return false;

    std::shared_ptr<ICameraChannel> created(factory_->CreateChannel(channel, sink));
    if (!created) return false;
    CHANNEL_PARAMS params;
    params.frameInterval = rate->GetFrameInterval();
    params.quality = rate->GetQuality();
    params.width = size->GetWidth();
    params.height = size->GetHeight();
    bool started = created->Start(params);
    {
        CLockScope scope(lock_);
        channels_[channel] = created;
    }
    return started;
}

bool CIPVideoCapture::StopChannel(uint32_t channel) {
    if (channel >= GetChannelCount()) return false;
    std::lock_guard<std::mutex> ops(*placeOps_[channel]);
    return StopChannelLocked(channel);
}

bool CIPVideoCapture::StopChannelLocked(uint32_t channel) {
    std::shared_ptr<ICameraChannel> taken;
    {
        CLockScope scope(lock_);
        taken.swap(channels_[channel]);
    }
    if (!taken) return false;
    taken->Stop();
    KeepIfAbandoned(taken);
    taken.reset();
    return true;
}

void CIPVideoCapture::KeepIfAbandoned(const std::shared_ptr<ICameraChannel>& channel) {
    auto* base = dynamic_cast<CBaseCameraChannel*>(channel.get());
    if (!base || !base->ThreadAbandoned()) return;
    // A thread that could not be ended may still run in the channel.
    thread::CThreadOwner::KeepForever(channel);
}

bool CIPVideoCapture::ChangeChannel(uint32_t channel, ipcapture::IImageSize* size, uint32_t frameInterval) {
    if (channel >= GetChannelCount()) return false;
    std::lock_guard<std::mutex> ops(*placeOps_[channel]);
    std::shared_ptr<ICameraChannel> found = Lookup(channel);
    if (!found || !size) return false;
    CHANNEL_PARAMS params;
    params.frameInterval = frameInterval;
    params.quality = 0;  // the channel keeps its own quality
    params.width = size->GetWidth();
    params.height = size->GetHeight();
    return found->Restart(params);
}

bool CIPVideoCapture::GetChannelStatus(uint32_t channel, uint32_t* state, uint32_t* errorCode, char* text,
                                       uint32_t textSize) {
    if (errorCode) *errorCode = 0;
    if (textSize > 0 && text) text[0] = '\0';
    std::shared_ptr<ICameraChannel> found = Lookup(channel);
    if (!found) return false;
    const ChannelState code = found->GetState();
    // The host knows no "stopped": a stopped or connecting channel is one
    // without signal to it.
    if (state) *state = static_cast<uint32_t>(code == kStateStopped ? kStateSignalLost : code);
    return true;
}

}  // namespace telvaro
