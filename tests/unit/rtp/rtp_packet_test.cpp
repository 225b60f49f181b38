#include "rtp/rtp_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using telvaro::ParseRTPHeader;
using telvaro::RTPPacket;

// Fixed header with the given first byte and length; the rest is a running
// byte pattern so that offsets can be recognised.
std::vector<uint8_t> Packet(uint8_t byte0, size_t length) {
    std::vector<uint8_t> p(length);
    for (size_t i = 0; i < length; ++i) p[i] = static_cast<uint8_t>(i);
    p[0] = byte0;
    return p;
}

// Sets the extension header that follows the CSRC list.
std::vector<uint8_t> WithExtension(std::vector<uint8_t> p, size_t at, uint16_t words) {
    p[at + 2] = static_cast<uint8_t>(words >> 8);
    p[at + 3] = static_cast<uint8_t>(words);
    return p;
}

struct HeaderCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool accepted;
    size_t payloadOffset;
};

TEST(RTPHeader, EdgeCasesOfLengthVersionCsrcAndExtension) {
    const HeaderCase cases[] = {
        {"header only", Packet(0x80, 12), false, 0},
        {"one payload byte", Packet(0x80, 13), true, 12},
        {"version 0", Packet(0x00, 13), false, 0},
        {"version 1", Packet(0x40, 13), false, 0},
        {"version 3", Packet(0xC0, 13), false, 0},
        {"two CSRCs, list cut short", Packet(0x82, 19), false, 0},
        {"two CSRCs, nothing after them", Packet(0x82, 20), true, 20},
        {"fifteen CSRCs", Packet(0x8F, 73), true, 72},
        {"fifteen CSRCs, list cut short", Packet(0x8F, 71), false, 0},
        {"extension header cut short", Packet(0x90, 15), false, 0},
        {"empty extension", WithExtension(Packet(0x90, 17), 12, 0), true, 16},
        {"extension past the end", WithExtension(Packet(0x90, 19), 12, 1), false, 0},
        {"extension exactly to the end", WithExtension(Packet(0x90, 20), 12, 1), true, 20},
        {"two CSRCs and one extension word", WithExtension(Packet(0x92, 40), 20, 1), true, 28},
        {"huge extension length", WithExtension(Packet(0x90, 64), 12, 0xFFFF), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RTPPacket packet;
        packet.payloadLength = 77;  // must not survive the parse
        const bool ok = ParseRTPHeader(c.bytes.data(), c.bytes.size(), packet);
        ASSERT_EQ(ok, c.accepted);
        if (!ok) {
            EXPECT_EQ(packet.payload, nullptr);
            EXPECT_EQ(packet.payloadLength, 0u);
            EXPECT_EQ(packet.csrcCount, 0u);
            continue;
        }
        EXPECT_EQ(packet.payload, c.bytes.data() + c.payloadOffset);
        EXPECT_EQ(packet.payloadLength, c.bytes.size() - c.payloadOffset);
    }
}

TEST(RTPHeader, FieldsAreReadFromTheirBytes) {
    // V=2 P=1 X=1 CC=2, M=1 PT=96, seq 0xABCD, ts 0x01020304, SSRC 11 22 33 44.
    std::vector<uint8_t> p = {0xB2, 0xE0, 0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44,
                              0xC1, 0xC1, 0xC1, 0xC1, 0xC2, 0xC2, 0xC2, 0xC2,  // CSRCs
                              0xBE, 0xDE, 0x00, 0x01, 0xE1, 0xE2, 0xE3, 0xE4,  // extension
                              0x55, 0x66, 0x00, 0x00, 0x03};                    // payload, 3 padding octets
    RTPPacket packet;
    ASSERT_TRUE(ParseRTPHeader(p.data(), p.size(), packet));
    EXPECT_TRUE(packet.marker);
    EXPECT_TRUE(packet.padding);
    EXPECT_EQ(packet.payloadType, 96);
    EXPECT_EQ(packet.sequenceNumber, 0xABCD);
    EXPECT_EQ(packet.timeStamp, 0x01020304u);
    EXPECT_EQ(std::memcmp(&packet.ssrc, p.data() + 8, 4), 0);
    EXPECT_EQ(packet.csrcCount, 2);
    EXPECT_EQ(packet.csrcList, p.data() + 12);
    EXPECT_EQ(std::memcmp(&packet.extensionProfile, p.data() + 20, 2), 0);
    EXPECT_EQ(packet.extensionLength, 1);
    EXPECT_EQ(packet.extensionData, p.data() + 24);
    // Padding octets stay in the payload.
    ASSERT_EQ(packet.payloadLength, 5u);
    EXPECT_EQ(packet.payload, p.data() + 28);
    EXPECT_EQ(packet.payload[4], 0x03);
}

TEST(RTPHeader, PlainPacketHasNoListsAndClearFlags) {
    std::vector<uint8_t> p = Packet(0x80, 14);
    p[1] = 0x1A;
    RTPPacket packet;
    ASSERT_TRUE(ParseRTPHeader(p.data(), p.size(), packet));
    EXPECT_FALSE(packet.marker);
    EXPECT_FALSE(packet.padding);
    EXPECT_EQ(packet.payloadType, 0x1A);
    EXPECT_EQ(packet.csrcList, nullptr);
    EXPECT_EQ(packet.extensionData, nullptr);
    EXPECT_EQ(packet.extensionLength, 0);
    EXPECT_EQ(packet.extensionProfile, 0);
}

TEST(RTPHeader, NullBufferIsRejected) {
    RTPPacket packet;
    EXPECT_FALSE(ParseRTPHeader(nullptr, 100, packet));
}

}  // namespace
