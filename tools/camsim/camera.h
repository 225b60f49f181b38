// A simulated PSIA camera: PSIA resources over HTTP, an RTSP server that
// streams the clips over RTP (UDP or interleaved), RTCP sender reports,
// digital I/O and fault switches. Start it on 127.0.0.1 with system-chosen
// ports, point a client at HttpPort() and RtspPort(), and inspect what the
// client sent with Requests().
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camsim/camera_config.h"
#include "camsim/faults.h"
#include "camsim/io_ports.h"
#include "camsim/request_log.h"

namespace camsim {

struct CameraContext;
class HttpService;
class RtspServer;

class Camera {
public:
    explicit Camera(CameraConfig config = CameraConfig());
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    bool Start(std::string* error = nullptr);
    // Ends every connection, session and thread; returns when they are gone.
    void Stop();

    const CameraConfig& Config() const;
    uint16_t HttpPort() const;
    uint16_t RtspPort() const;
    std::string HttpUrl() const;  // http://address:port
    // rtsp://address:port/PSIA/Streaming/channels/<id>?videoCodecType=<the channel's codec>
    std::string StreamUrl(uint32_t channelId) const;

    Faults& GetFaults();
    // Closes every RTSP connection now, as a network failure would.
    void DropRtspConnections();

    bool GetChannel(uint32_t id, ChannelConfig& channel) const;
    std::vector<ChannelConfig> Channels() const;
    bool SetChannel(const ChannelConfig& channel);

    bool SetInput(uint32_t id, bool active);
    // The input flips every periodMs; 0 stops the schedule.
    bool ToggleInputEvery(uint32_t id, uint32_t periodMs);
    bool InputActive(uint32_t id) const;
    bool OutputHigh(uint32_t id) const;
    std::vector<OutputTrigger> OutputTriggers() const;

    std::vector<LoggedRequest> Requests() const;
    void ClearRequests();
    uint32_t Reboots() const;
    size_t RtspSessions() const;
    uint64_t RtpPacketsSent() const;
    uint64_t RtcpPacketsReceived() const;
    // Frames sent so far, by channel id.
    std::map<uint32_t, uint64_t> FramesSent() const;

private:
    void Reboot();

    std::unique_ptr<CameraContext> context_;
    std::unique_ptr<RtspServer> rtsp_;
    std::unique_ptr<HttpService> http_;
};

}  // namespace camsim
