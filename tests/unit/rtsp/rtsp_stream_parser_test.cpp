#include "rtsp/rtsp_stream_parser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/test_rtsp_server.h"

namespace {

using namespace telvaro;
using Bytes = std::vector<uint8_t>;

Bytes MakeRtp(uint16_t seq, size_t payload, uint8_t fill = 0x5A) {
    Bytes p(12 + payload, fill);
    p[0] = 0x80;
    p[1] = 96;
    p[2] = static_cast<uint8_t>(seq >> 8);
    p[3] = static_cast<uint8_t>(seq);
    for (int i = 4; i < 12; ++i) p[i] = static_cast<uint8_t>(i);
    return p;
}

Bytes Frame(uint8_t channel, const Bytes& payload) {
    std::string f = fakes::TestRtspServer::Interleaved(channel, payload);
    return Bytes(f.begin(), f.end());
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class Recorder : public IRTPReceiverUser {
public:
    struct Packet {
        uint16_t sequence;
        Bytes payload;
        bool operator==(const Packet& o) const { return sequence == o.sequence && payload == o.payload; }
        // Sequence, size, the first bytes and a checksum of all of them: two
        // packets that differ anywhere print differently, in one short line.
        friend void PrintTo(const Packet& p, std::ostream* os) {
            uint32_t fnv = 2166136261u;
            for (uint8_t b : p.payload) fnv = (fnv ^ b) * 16777619u;
            *os << "{seq " << p.sequence << ", " << p.payload.size() << " bytes" << std::hex;
            for (size_t i = 0; i < p.payload.size() && i < 6; ++i) *os << " " << static_cast<int>(p.payload[i]);
            *os << (p.payload.size() > 6 ? " ..." : "") << ", fnv1a " << fnv << std::dec << "}";
        }
    };
    void OnRTPPacket(const RTPPacket* packet) override {
        packets.push_back({packet->sequenceNumber, Bytes(packet->payload, packet->payload + packet->payloadLength)});
    }
    void OnRTPPacketFrom(const platform::Ipv4Endpoint*, const RTPPacket*) override { ADD_FAILURE(); }
    void OnReceiveTimeout() override {}
    void OnReceiveClosed() override {}
    void SetMediaConfig(const MediaConfig&) override {}
    std::vector<Packet> packets;
};

std::vector<uint16_t> Sequences(const Recorder& r) {
    std::vector<uint16_t> out;
    for (const auto& p : r.packets) out.push_back(p.sequence);
    return out;
}

TEST(RtspStreamParser, Frames) {
    struct Case {
        const char* name;
        std::vector<Bytes> chunks;
        std::vector<uint16_t> delivered;
    } cases[] = {
        {"a frame over three chunks", {{0x24, 0x00}, {0x00, 0x0D}, MakeRtp(7, 1)}, {7}},
        {"the length bytes in different chunks", {{0x24, 0x00, 0x00}, {0x0D}, MakeRtp(7, 1)}, {7}},
        {"a header-only packet is not RTP", {Frame(0, Bytes(MakeRtp(7, 0)))}, {}},
        {"a frame of channel 1 is passed over whole",
         {Join({Frame(1, {0x24, 0x00, 0x00, 0x0D}), Frame(0, MakeRtp(8, 1))})}, {8}},
        {"channel 2 is not a frame", {Join({{0x24, 0x02, 0x00, 0x04, 1, 2, 3, 4}, Frame(0, MakeRtp(9, 3))})}, {9}},
        {"an empty frame is discarded", {Join({{0x24, 0x00, 0x00, 0x00}, Frame(0, MakeRtp(10, 2))})}, {10}},
        {"a marker that starts again", {Join({{0x24, 0x24, 0x24}, Frame(0, MakeRtp(11, 2))})}, {11}},
        {"an RTSP reply before the media",
         {Join({Text("RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 12$AB;timeout=60\r\n\r\n"), Frame(0, MakeRtp(12, 5))})},
         {12}},
        {"a packet of another RTP version is dropped",
         {Join({Frame(0, Bytes{0x40, 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 9}), Frame(0, MakeRtp(13, 1))})}, {13}},
        {"the largest frame", {Frame(0, MakeRtp(14, 0xFFFF - 12))}, {14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        CRTSPStreamParser parser(&recorder);
        for (const Bytes& chunk : c.chunks) parser.Feed(chunk.data(), chunk.size());
        EXPECT_EQ(Sequences(recorder), c.delivered);
    }
}

TEST(RtspStreamParser, SplitAtEveryByte) {
    const Bytes a = MakeRtp(1, 20, 0x24);
    const Bytes b = MakeRtp(2, 1400, 0x00);
    const Bytes c = MakeRtp(3, 1, 0x11);
    const Bytes stream = Join({Text("RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n"), Frame(0, a),
                               Frame(1, {0x81, 0xC8, 0x24, 0x00, 0x00, 0x06, 0x24, 0x00}), Frame(0, b),
                               {0x24, 0x24, 0x00, 0x00, 0x00}, Frame(0, c)});
    const std::vector<Recorder::Packet> expected = {{1, Bytes(a.begin() + 12, a.end())},
                                                    {2, Bytes(b.begin() + 12, b.end())},
                                                    {3, Bytes(c.begin() + 12, c.end())}};
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Recorder recorder;
        CRTSPStreamParser parser(&recorder);
        parser.Feed(stream.data(), cut);
        parser.Feed(stream.data() + cut, stream.size() - cut);
        ASSERT_EQ(Sequences(recorder), (std::vector<uint16_t>{1, 2, 3})) << "cut at " << cut;
        ASSERT_EQ(recorder.packets, expected) << "cut at " << cut;
    }
    Recorder recorder;
    CRTSPStreamParser parser(&recorder);
    for (uint8_t byte : stream) parser.Feed(&byte, 1);
    EXPECT_EQ(Sequences(recorder), (std::vector<uint16_t>{1, 2, 3}));
    EXPECT_EQ(recorder.packets, expected);
}

// No data in the middle of a frame changes nothing; without a user the
// packets are dropped.
TEST(RtspStreamParser, WithoutUserOrData) {
    CRTSPStreamParser silent(nullptr);
    const Bytes frame = Frame(0, MakeRtp(1, 4));
    silent.Feed(frame.data(), frame.size());
    Recorder recorder;
    CRTSPStreamParser parser(&recorder);
    parser.Feed(frame.data(), 5);
    parser.Feed(nullptr, 10);
    parser.Feed(frame.data() + 5, frame.size() - 5);
    EXPECT_EQ(Sequences(recorder), std::vector<uint16_t>{1});
}

}  // namespace
