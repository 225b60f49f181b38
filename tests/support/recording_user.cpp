#include "support/recording_user.h"

#include <gtest/gtest.h>

#include "rtp/rtp_packet.h"
#include "support/test_rtsp_server.h"

namespace fakes {

void RecordingUser::OnRTPPacket(const telvaro::RTPPacket* packet) {
    std::lock_guard<std::mutex> lock(mu_);
    sequences_.push_back(packet->sequenceNumber);
}

// The RTSP client itself hands over only interleaved packets, which have
// no UDP sender.
void RecordingUser::OnRTPPacketFrom(const telvaro::platform::Ipv4Endpoint*, const telvaro::RTPPacket*) {
    ADD_FAILURE();
}

void RecordingUser::SetMediaConfig(const telvaro::MediaConfig& config) {
    std::lock_guard<std::mutex> lock(mu_);
    config_ = config;
    ++configCalls_;
    if (server_) requestsAtConfig_ = server_->RequestCount();
}

std::vector<uint16_t> RecordingUser::Sequences() {
    std::lock_guard<std::mutex> lock(mu_);
    return sequences_;
}

telvaro::MediaConfig RecordingUser::Config() {
    std::lock_guard<std::mutex> lock(mu_);
    return config_;
}

int RecordingUser::ConfigCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    return configCalls_;
}

size_t RecordingUser::RequestsAtConfig() {
    std::lock_guard<std::mutex> lock(mu_);
    return requestsAtConfig_;
}

void RecordingUser::OnSessionEnded(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mu_);
    if (sessionEnds_++ == 0) sessionEnd_ = reason;
}

void RecordingUser::OnPeerBye(uint32_t ssrc) {
    std::lock_guard<std::mutex> lock(mu_);
    byes_.push_back(ssrc);
}

std::string RecordingUser::SessionEnd() {
    std::lock_guard<std::mutex> lock(mu_);
    return sessionEnd_;
}

int RecordingUser::SessionEnds() {
    std::lock_guard<std::mutex> lock(mu_);
    return sessionEnds_;
}

std::vector<uint32_t> RecordingUser::Byes() {
    std::lock_guard<std::mutex> lock(mu_);
    return byes_;
}

}  // namespace fakes
