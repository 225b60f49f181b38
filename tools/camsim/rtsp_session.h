// One RTSP session: its transport (UDP port pairs or interleaved channels),
// its RTP stream, and the thread that sends the stream while it plays.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera_context.h"
#include "camsim/rtp_stream.h"
#include "camsim/socket_writer.h"

namespace camsim {

class RtspSession {
public:
    RtspSession(std::string id, uint32_t channelId, std::unique_ptr<RtpStream> stream, CameraContext& context);
    ~RtspSession();
    RtspSession(const RtspSession&) = delete;
    RtspSession& operator=(const RtspSession&) = delete;

    const std::string& Id() const { return id_; }
    uint32_t ChannelId() const { return channelId_; }
    // Binds an even/odd server port pair on the camera's address.
    bool SetupUdp(const sockaddr_in& clientRtp, const sockaddr_in& clientRtcp, uint16_t& serverRtpPort,
                  uint16_t& serverRtcpPort);
    void SetupInterleaved(std::shared_ptr<SocketWriter> writer, uint8_t rtpChannel, uint8_t rtcpChannel);

    // Where the stream continues: RTP-Info values for the PLAY answer.
    void NextPosition(uint16_t& sequence, uint32_t& timestamp) const;
    uint32_t Ssrc() const;
    void Play();
    void Pause();
    void Stop();

    void Touch();
    bool IdleLongerThan(std::chrono::seconds timeout) const;

private:
    void Send();
    bool SendRtp(const std::vector<const rtpkit::Bytes*>& packets);
    void SendRtcp(const rtpkit::Bytes& packet);
    void DrainRtcp();

    const std::string id_;
    const uint32_t channelId_;
    CameraContext& context_;

    mutable std::mutex streamMutex_;
    std::unique_ptr<RtpStream> stream_;

    int rtpSocket_ = -1;
    int rtcpSocket_ = -1;
    sockaddr_in clientRtp_{};
    sockaddr_in clientRtcp_{};
    std::shared_ptr<SocketWriter> writer_;
    uint8_t rtpChannel_ = 0;
    uint8_t rtcpChannel_ = 1;

    std::mutex threadMutex_;
    std::thread sender_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool stopSending_ = false;

    mutable std::mutex touchMutex_;
    std::chrono::steady_clock::time_point lastTouch_;
};

}  // namespace camsim
