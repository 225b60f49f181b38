// An RTP receiver user that keeps what an RTSP client hands it: the packets'
// sequence numbers and the stream's media configuration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/media_config.h"
#include "rtp/rtp_receiver_user.h"

namespace fakes {

class TestRtspServer;

class RecordingUser : public telvaro::IRTPReceiverUser {
public:
    // With a server, the number of requests it had seen when the media
    // configuration came is kept too.
    explicit RecordingUser(TestRtspServer* server = nullptr) : server_(server) {}
    void OnRTPPacket(const telvaro::RTPPacket* packet) override;
    void OnRTPPacketFrom(const telvaro::platform::Ipv4Endpoint*, const telvaro::RTPPacket*) override;
    void OnReceiveTimeout() override {}
    void OnReceiveClosed() override {}
    void SetMediaConfig(const telvaro::MediaConfig& config) override;
    void OnSessionEnded(const std::string& reason) override;
    void OnPeerBye(uint32_t ssrc) override;

    std::vector<uint16_t> Sequences();
    telvaro::MediaConfig Config();
    int ConfigCalls();
    size_t RequestsAtConfig();
    // The reason of the first session end, and how many were told.
    std::string SessionEnd();
    int SessionEnds();
    std::vector<uint32_t> Byes();

private:
    TestRtspServer* server_;
    std::mutex mu_;
    std::vector<uint16_t> sequences_;
    telvaro::MediaConfig config_;
    int configCalls_ = 0;
    size_t requestsAtConfig_ = 0;
    std::string sessionEnd_;
    int sessionEnds_ = 0;
    std::vector<uint32_t> byes_;
};

}  // namespace fakes
