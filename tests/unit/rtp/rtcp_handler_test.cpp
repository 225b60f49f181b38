#include "rtp/rtcp_handler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace {

using namespace telvaro;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

uint32_t ReadBigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

Bytes BigEndian(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

Bytes Slice(const Bytes& b, size_t from, size_t count) { return Bytes(b.begin() + from, b.begin() + from + count); }

// A sender report (RFC 3550 section 6.4.1) from SSRC 11 22 33 44 with the
// NTP time stamp A0 .. A7.
Bytes SenderReport() {
    return {0x80, 0xC8, 0x00, 0x06, 0x11, 0x22, 0x33, 0x44, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5,
            0xA6, 0xA7, 0x00, 0x01, 0x5F, 0x90, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x40, 0x00};
}

// Checks a source description with one CNAME item and returns its length.
size_t CheckSourceDescription(const uint8_t* sdes, size_t available, uint32_t ssrc, const std::string& name) {
    EXPECT_EQ(sdes[0], 0x81);
    EXPECT_EQ(sdes[1], 202);
    const size_t length = (static_cast<size_t>((sdes[2] << 8) | sdes[3]) + 1) * 4;
    EXPECT_EQ(length, available) << "length field must match the bytes sent";
    if (length != available) return 0;
    EXPECT_EQ(ReadBigEndian32(sdes + 4), ssrc);
    EXPECT_EQ(sdes[8], 1);  // CNAME
    EXPECT_EQ(sdes[9], name.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sdes + 10), sdes[9]), name);
    const size_t end = 10 + sdes[9];
    EXPECT_GE(length, end + 1) << "the item list needs its terminating zero";
    for (size_t i = end; i < length; ++i) EXPECT_EQ(sdes[i], 0) << "padding byte " << i;
    EXPECT_LT(length - end, 5u) << "no more padding than the boundary needs";
    return length;
}

TEST(RTCPHandler, SenderReportIsAnsweredWithReceiverReportAndSourceDescription) {
    CRTCPHandler handler;
    ASSERT_TRUE(handler.Start(0));
    const uint16_t port = handler.GetLocalPort();
    EXPECT_NE(port, 0);
    fakes::UdpPeer camera;
    ASSERT_TRUE(camera.Send(port, SenderReport()));
    Bytes reply = camera.Receive();
    ASSERT_GE(reply.size(), 32u + 12u);

    const uint32_t ssrc = handler.GetSSRC();
    EXPECT_EQ(Slice(reply, 0, 4), Bytes({0x81, 0xC9, 0x00, 0x07}));
    EXPECT_EQ(Slice(reply, 4, 4), BigEndian(ssrc));
    EXPECT_EQ(Slice(reply, 8, 4), Bytes({0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(Slice(reply, 12, 12), Bytes(12, 0));
    EXPECT_EQ(Slice(reply, 24, 4), Bytes({0xA2, 0xA3, 0xA4, 0xA5}));
    EXPECT_EQ(Slice(reply, 28, 4), Bytes({0x00, 0x00, 0x00, 0x01}));

    std::string hostName;
    if (!platform::ReadHostName(hostName)) hostName = "default";
    EXPECT_EQ(handler.GetHostName(), hostName);
    const size_t sdes = CheckSourceDescription(reply.data() + 32, reply.size() - 32, ssrc, hostName);
    EXPECT_EQ(reply.size(), 32 + sdes);

    auto stopAt = Clock::now();
    handler.RequestStop();
    EXPECT_EQ(camera.Receive(), Bytes({0x81, 0xCB, 0x00, 0x01, BigEndian(ssrc)[0], BigEndian(ssrc)[1],
                                       BigEndian(ssrc)[2], BigEndian(ssrc)[3]}));
    EXPECT_TRUE(handler.Join());
    EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(2000));
    EXPECT_FALSE(handler.IsRunning());
    EXPECT_EQ(handler.GetLocalPort(), 0) << "the thread closes its socket";
}

TEST(RTCPHandler, ElevenBytesAreAnsweredAndTenEndTheThread) {
    CRTCPHandler handler;
    ASSERT_TRUE(handler.Start(0));
    const uint16_t port = handler.GetLocalPort();
    fakes::UdpPeer camera;

    ASSERT_TRUE(camera.Send(port, Bytes({0x80, 0xC9, 0x00, 0x01, 0x55, 0x66, 0x77, 0x88, 0x01, 0x02, 0x03})));
    Bytes reply = camera.Receive();
    ASSERT_GE(reply.size(), 32u);
    EXPECT_EQ(Slice(reply, 8, 4), Bytes({0x55, 0x66, 0x77, 0x88}));
    // Bytes 11 to 13 were never sent.
    EXPECT_EQ(Slice(reply, 24, 4), Bytes({0x03, 0x00, 0x00, 0x00}));

    ASSERT_TRUE(camera.Send(port, Bytes(10, 0x80)));
    ASSERT_TRUE(fakes::WaitUntil([&] { return !handler.IsRunning(); }));
    Bytes bye = camera.Receive();
    ASSERT_EQ(bye.size(), 8u);
    EXPECT_EQ(Slice(bye, 0, 4), Bytes({0x81, 0xCB, 0x00, 0x01}));

    auto stopAt = Clock::now();
    handler.RequestStop();
    EXPECT_TRUE(handler.Join());
    EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(500));
}

// What ends the thread on its own is kept as the reason, named with its
// port; the camera's BYE and a requested stop are no failure.
TEST(RTCPHandler, AThreadThatEndsOnItsOwnSaysWhy) {
    struct Case {
        const char* name;
        Bytes datagram;  // empty: only a stop request
        telvaro::FailureKind kind;
        const char* text;  // after "RTCP on UDP port N ended: "
    } cases[] = {
        {"ten bytes", Bytes(10, 0x80), telvaro::kFailureMalformed, "a datagram of 10 bytes, too short for an RTCP report"},
        {"larger than the buffer", Bytes(5000, 0x80), telvaro::kFailureTooLarge, "a datagram larger than 4096 bytes"},
        {"the camera's BYE", Bytes({0x81, 0xCB, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44}), telvaro::kFailureNone, ""},
        {"stop requested", Bytes(), telvaro::kFailureNone, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRTCPHandler handler;
        ASSERT_TRUE(handler.Start(0));
        ASSERT_TRUE(fakes::WaitUntil([&] { return handler.IsRunning(); }));
        const uint16_t port = handler.GetLocalPort();
        fakes::UdpPeer camera;
        if (!c.datagram.empty()) {
            ASSERT_TRUE(camera.Send(port, c.datagram));
            ASSERT_TRUE(fakes::WaitUntil([&] { return !handler.IsRunning(); }));
        }
        handler.RequestStop();
        EXPECT_TRUE(handler.Join());
        const telvaro::FailureReason reason = handler.LastFailure();
        EXPECT_EQ(reason.kind, c.kind);
        if (c.kind != telvaro::kFailureNone) {
            EXPECT_EQ(reason.text, "RTCP on UDP port " + std::to_string(port) + " ended: " + c.text);
        }
        EXPECT_TRUE(handler.Open(0)) << "a new open forgets the old reason";
        EXPECT_TRUE(handler.LastFailure().Empty());
    }
}

TEST(RTCPHandler, WithoutPacketsItWaitsUntilStopped) {
    CRTCPHandler handler;
    ASSERT_TRUE(handler.Start(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_TRUE(handler.IsRunning());
    EXPECT_EQ(handler.GetLastError(), platform::SocketError::TimedOut);
    handler.RequestStop();
    EXPECT_TRUE(handler.Join());
    EXPECT_FALSE(handler.IsRunning());
    EXPECT_EQ(handler.GetLocalPort(), 0);
}

// Holds the thread at its very start, before it has said it runs.
class HeldAtStart : public CRTCPHandler {
public:
    CRecursiveLock& StateLock() { return stateLock_; }
};

// A thread that has not set its running flag is alive all the same: a timed
// out join must try to stop it, and one that cannot be stopped must be
// reported so that its handler is kept until it has ended.
TEST(RTCPHandler, JoinThatTimesOutForcesAndReportsAThreadItCannotEnd) {
    HeldAtStart handler;
    handler.StateLock().Enter();
    ASSERT_TRUE(handler.Start(0));
    const uint16_t port = handler.GetLocalPort();
    EXPECT_NE(port, 0);
    handler.RequestStop();
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(handler.Join(200));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // The join bound and the grace of the forced stop.
    EXPECT_GE(took, 2000);
    EXPECT_LT(took, 5000);
    EXPECT_TRUE(handler.Abandoned());
    EXPECT_FALSE(handler.IsRunning());
    EXPECT_EQ(handler.GetLocalPort(), port) << "the socket stays with the thread that may still use it";
#if defined(_WIN32)
    // Windows ended it with TerminateThread: gone without its own clean-up,
    // so the socket stays until the handler is closed.
    handler.StateLock().Leave();
    EXPECT_TRUE(handler.Join(0));
    EXPECT_FALSE(handler.Abandoned());
    EXPECT_EQ(handler.GetLocalPort(), port);
    return;
#endif
    EXPECT_FALSE(handler.Join(0));
    EXPECT_TRUE(handler.Abandoned());

    handler.StateLock().Leave();
    EXPECT_TRUE(fakes::WaitUntil([&] { return handler.Join(0) && !handler.Abandoned(); }));
    EXPECT_EQ(handler.GetLocalPort(), 0);
    EXPECT_FALSE(handler.IsRunning());
}

TEST(RTCPHandler, HandlersOpenedTogetherHaveTheirOwnSSRC) {
    std::set<uint32_t> seen;
    for (int i = 0; i < 4; ++i) {
        CRTCPHandler handler;
        ASSERT_TRUE(handler.Open(0));
        seen.insert(handler.GetSSRC());
    }
    EXPECT_EQ(seen.size(), 4u);
}

TEST(RTCPHandler, PortInUseMakesOpenFail) {
    CRTCPHandler first;
    ASSERT_TRUE(first.Open(0));
    CRTCPHandler second;
    EXPECT_FALSE(second.Open(first.GetLocalPort()));
    EXPECT_FALSE(second.Start(first.GetLocalPort()));
    EXPECT_FALSE(first.Open(0)) << "a socket is open already";
}

TEST(RTCPHandler, SourceDescriptionIsAValidPacketForEveryNameLength) {
    const size_t lengths[] = {0, 1, 5, 6, 7, 8, 64, 253, 254, 255};
    for (size_t n : lengths) {
        SCOPED_TRACE(n);
        std::string name(n, 'h');
        uint8_t out[CRTCPHandler::kMaxSourceDescriptionLength + 8];
        std::fill(std::begin(out), std::end(out), 0xEE);
        size_t written = CRTCPHandler::BuildSourceDescription(0xDEADBEEF, name, out);
        EXPECT_EQ(written % 4, 0u);
        EXPECT_LE(written, CRTCPHandler::kMaxSourceDescriptionLength);
        EXPECT_EQ(CheckSourceDescription(out, written, 0xDEADBEEF, name), written);
        EXPECT_EQ(out[written], 0xEE) << "nothing written past the packet";
    }
    uint8_t out[CRTCPHandler::kMaxSourceDescriptionLength];
    size_t written = CRTCPHandler::BuildSourceDescription(1, std::string(300, 'x'), out);
    EXPECT_EQ(written, CRTCPHandler::kMaxSourceDescriptionLength);
    EXPECT_EQ(CheckSourceDescription(out, written, 1, std::string(255, 'x')), written);
}

}  // namespace
