#include "camsim/camera.h"

#include <set>

#include "camsim/camera_context.h"
#include "camsim/http_service.h"
#include "camsim/rtsp_server.h"

namespace camsim {

Camera::Camera(CameraConfig config) : context_(std::make_unique<CameraContext>(config)) {}

Camera::~Camera() { Stop(); }

bool Camera::Start(std::string* error) {
    Stop();
    const CameraConfig& config = context_->config;
    std::set<uint32_t> ids;
    for (const ChannelConfig& c : config.channels) {
        if (!ids.insert(c.id).second) {
            if (error) *error = "channel id " + std::to_string(c.id) + " is used twice";
            return false;
        }
    }
    if (!context_->clips.Open(config.clipFolder.empty() ? CAMSIM_DEFAULT_CLIP_DIR : config.clipFolder, error))
        return false;
    // A clip named for a channel is read now, as a camera's encoder runs
    // before anyone asks for its stream: the first DESCRIBE does not wait
    // for the file to be parsed.
    for (const ChannelConfig& c : config.channels)
        if (!c.clipFile.empty()) context_->clips.Pick(c.codec, c.width, c.height, c.clipFile);
    {
        std::lock_guard<std::mutex> lock(context_->stopMutex);
        context_->stopping = false;
    }
    rtsp_ = std::make_unique<RtspServer>(*context_);
    if (!rtsp_->Start(error)) {
        rtsp_.reset();
        return false;
    }
    context_->rtspPort = rtsp_->Port();
    http_ = std::make_unique<HttpService>(*context_, [this] { Reboot(); });
    if (!http_->Start(error)) {
        http_.reset();
        rtsp_.reset();
        return false;
    }
    context_->httpPort = http_->Port();
    return true;
}

void Camera::Stop() {
    context_->SignalStop();
    if (http_) http_->Stop();
    if (rtsp_) rtsp_->Stop();
    http_.reset();
    rtsp_.reset();
}

// A reboot applies the changes that waited for it and, as on a real camera,
// ends every stream.
void Camera::Reboot() {
    context_->channels.ApplyPending();
    if (rtsp_) rtsp_->DropConnections();
}

const CameraConfig& Camera::Config() const { return context_->config; }
uint16_t Camera::HttpPort() const { return context_->httpPort; }
uint16_t Camera::RtspPort() const { return context_->rtspPort; }

std::string Camera::HttpUrl() const {
    return "http://" + context_->config.address + ":" + std::to_string(HttpPort());
}

std::string Camera::StreamUrl(uint32_t channelId) const {
    ChannelConfig c;
    Codec codec = context_->channels.Get(channelId, c) ? c.codec : Codec::H264;
    return "rtsp://" + context_->config.address + ":" + std::to_string(RtspPort()) + "/PSIA/Streaming/channels/" +
           std::to_string(channelId) + "?videoCodecType=" + CodecName(codec);
}

Faults& Camera::GetFaults() { return context_->faults; }

void Camera::DropRtspConnections() {
    if (rtsp_) rtsp_->DropConnections();
}

bool Camera::GetChannel(uint32_t id, ChannelConfig& channel) const { return context_->channels.Get(id, channel); }
std::vector<ChannelConfig> Camera::Channels() const { return context_->channels.All(); }
bool Camera::SetChannel(const ChannelConfig& channel) { return context_->channels.Set(channel); }

bool Camera::SetInput(uint32_t id, bool active) { return context_->io.SetInput(id, active); }
bool Camera::ToggleInputEvery(uint32_t id, uint32_t periodMs) { return context_->io.ToggleInputEvery(id, periodMs); }

bool Camera::InputActive(uint32_t id) const {
    bool active = false;
    return context_->io.InputActive(id, active) && active;
}

bool Camera::OutputHigh(uint32_t id) const {
    bool high = false;
    return context_->io.OutputHigh(id, high) && high;
}

std::vector<OutputTrigger> Camera::OutputTriggers() const { return context_->io.Triggers(); }
std::vector<LoggedRequest> Camera::Requests() const { return context_->log.All(); }
void Camera::ClearRequests() { context_->log.Clear(); }
uint32_t Camera::Reboots() const { return context_->reboots; }
size_t Camera::RtspSessions() const { return rtsp_ ? rtsp_->SessionCount() : 0; }
uint64_t Camera::RtpPacketsSent() const { return context_->rtpPacketsSent; }
uint64_t Camera::RtcpPacketsReceived() const { return context_->rtcpPacketsReceived; }
std::map<uint32_t, uint64_t> Camera::FramesSent() const { return context_->FramesSent(); }

}  // namespace camsim
