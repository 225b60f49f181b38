// A whole RTSP exchange: the RTSP client talks to a loopback peer that
// answers its n-th request with the n-th reply cut out of the input, so the
// client's state over several replies (CSeq, challenge and retry, Content-
// Base, session, Transport check, interleaved stream after PLAY, keep-alive)
// meets what no single-parser target can give it.
//
// Input: byte 0 picks the transport mode (bits 0-1) and whether the peer
// closes after its last reply or holds the connection (bit 2); the rest is
// cut into replies at every "\n%%\n". Each input ends within a second: the
// receive time-out is 25 ms, and a set-up that outlasts 5 s is a fault.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "driver/config_file.h"
#include "rtsp/rtsp_client.h"
#include "support/hostile_rtsp_peer.h"

namespace {

using namespace telvaro;

class TouchingUser : public IRTPReceiverUser {
public:
    void OnRTPPacket(const RTPPacket* packet) override {
        volatile uint32_t sum = 0;
        for (uint32_t i = 0; i < packet->payloadLength; ++i) sum = sum + packet->payload[i];
    }
    void OnRTPPacketFrom(const platform::Ipv4Endpoint*, const RTPPacket*) override { __builtin_trap(); }
    void OnReceiveTimeout() override {}
    void OnReceiveClosed() override {}
    void SetMediaConfig(const MediaConfig& config) override {
        if (config.sps.size() > CRTSPResponseParser::kMaxParameterSetSize) __builtin_trap();
        volatile size_t touched = config.sps.size() + config.pps.size() + config.config.size();
        (void)touched;
    }
};

fakes::HostileRtspPeer& Peer() {
    static fakes::HostileRtspPeer* peer = [] {
        auto* p = new fakes::HostileRtspPeer();
        if (!p->Start()) __builtin_trap();
        return p;
    }();
    return *peer;
}

template <typename Pred>
void WaitFor(Pred pred, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const TransportMode modes[4] = {kRtpOverUdp, kRtpOverTcp, kRtpOverRtsp, kRtpOverTcp};
    const TransportMode mode = modes[data[0] & 3];
    fakes::HostileScript script;
    script.closeAfterReplies = (data[0] & 4) == 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string cut = "\n%%\n";
    for (size_t at = 0;;) {
        const size_t next = text.find(cut, at);
        script.replies.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) break;
        at = next + cut.size();
    }

    fakes::HostileRtspPeer& peer = Peer();
    peer.SetScript(script);
    const uint64_t finished = peer.FinishedConnections();
    RtspParams params;
    params.host = "127.0.0.1";
    params.serverPort = peer.Port();
    params.urlPath = "/PSIA/Streaming/channels/1";
    params.userName = "admin";
    params.password = "secret";
    params.clientRtpPort = 3556;
    params.clientRtcpPort = 3557;
    params.connectTimeoutMs = 1000;
    params.receiveTimeoutMs = 25;
    TouchingUser user;
    {
        CBaseRTSPClient client;
        if (client.Open(params, &user, mode)) {
            // The set-up is bounded by its receive time-outs (150 ms here).
            if (!client.SetupEnded().Wait(5000)) __builtin_trap();
            if (client.Playing() && mode != kRtpOverUdp) {
                // Let the stream after the PLAY reply be read to its end.
                WaitFor([&] { return peer.FinishedConnections() > finished; }, 150);
                std::this_thread::sleep_for(std::chrono::milliseconds(2 * params.receiveTimeoutMs));
            }
            client.Close();
            if (client.IsRunning()) __builtin_trap();
        }
    }
    // The next input gets a conversation of its own.
    WaitFor([&] { return peer.FinishedConnections() > finished; }, 1000);
    return 0;
}
