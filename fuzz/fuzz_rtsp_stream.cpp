// Arbitrary bytes as the RTSP connection of the interleaved transport: the
// first byte sets the chunk size the stream is fed in, and every delivered
// packet is read whole, so that any pointer past a frame shows up.
#include <cstddef>
#include <cstdint>

#include "rtsp/rtsp_stream_parser.h"

namespace {

class TouchingUser : public telvaro::IRTPReceiverUser {
public:
    void OnRTPPacket(const telvaro::RTPPacket* packet) override {
        volatile uint32_t sum = 0;
        for (uint32_t i = 0; i < packet->payloadLength; ++i) sum = sum + packet->payload[i];
    }
    void OnRTPPacketFrom(const telvaro::platform::Ipv4Endpoint*, const telvaro::RTPPacket*) override {
        __builtin_trap();
    }
    void OnReceiveTimeout() override {}
    void OnReceiveClosed() override {}
    void SetMediaConfig(const telvaro::MediaConfig&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t chunk = static_cast<size_t>(data[0]) + 1;
    TouchingUser user;
    telvaro::CRTSPStreamParser parser(&user);
    for (size_t at = 1; at < size; at += chunk) {
        const size_t left = size - at;
        parser.Feed(data + at, left < chunk ? left : chunk);
    }
    return 0;
}
