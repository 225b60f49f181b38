// The RTSP client against the simulated camera: Digest authentication, the
// three transport modes, and sessions kept alive past the camera's time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera.h"
#include "core/transport_mode.h"
#include "rtp/rtp_packet.h"
#include "rtsp/rtsp_client.h"
#include "support/recording_user.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace {

using namespace telvaro;
using fakes::RecordingUser;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char kPath[] = "/PSIA/Streaming/channels/1";

// A client's parameters for the simulated camera's first stream, with its
// credentials.
RtspParams CamsimParams(const camsim::Camera& camera) {
    RtspParams params;
    params.host = "127.0.0.1";
    params.serverPort = camera.RtspPort();
    params.urlPath = kPath;
    params.userName = camera.Config().user;
    params.password = camera.Config().password;
    params.connectTimeoutMs = 1000;
    params.receiveTimeoutMs = 2000;
    return params;
}

// Against the simulated camera with Digest authentication: RTP arrives on
// the client ports in mode 0 and interleaved in modes 1 and 2.
TEST(RtspClient, PlaysFromCamsimInEveryMode) {
    camsim::CameraConfig config;
    config.rtspAuth = {camsim::AuthScheme::Digest};
    camsim::Camera camera(config);
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    for (TransportMode mode : {kRtpOverUdp, kRtpOverTcp, kRtpOverRtsp}) {
        SCOPED_TRACE(mode);
        camera.ClearRequests();
        fakes::UdpPeer rtp;
        fakes::UdpPeer rtcp;
        RecordingUser user;
        RtspParams params = CamsimParams(camera);
        if (mode == kRtpOverUdp) {
            params.clientRtpPort = rtp.Port();
            params.clientRtcpPort = rtcp.Port();
        }
        CBaseRTSPClient client;
        ASSERT_TRUE(client.Open(params, &user, mode));
        if (mode == kRtpOverUdp) {
            for (int i = 0; i < 5; ++i) {
                const Bytes datagram = rtp.Receive();
                RTPPacket packet;
                ASSERT_TRUE(ParseRTPHeader(datagram.data(), datagram.size(), packet));
                EXPECT_EQ(packet.payloadType, 96);
            }
        } else {
            EXPECT_TRUE(fakes::WaitUntil([&] { return user.Sequences().size() >= 5; }, 3000));
        }
        const MediaConfig media = user.Config();
        ASSERT_FALSE(media.sps.empty());
        ASSERT_FALSE(media.pps.empty());
        EXPECT_EQ(media.sps[0] & 0x1F, 7);
        EXPECT_EQ(media.pps[0] & 0x1F, 8);
        client.Close();
        EXPECT_FALSE(client.IsRunning());

        // The TEARDOWN is sent even though its reply is no longer read.
        auto rtspMethods = [&] {
            std::vector<std::string> methods;
            for (const camsim::LoggedRequest& r : camera.Requests()) {
                if (r.protocol == camsim::LoggedRequest::Protocol::Rtsp) methods.push_back(r.method);
            }
            return methods;
        };
        EXPECT_TRUE(fakes::WaitUntil([&] { return !rtspMethods().empty() && rtspMethods().back() == "TEARDOWN"; }));
        for (const camsim::LoggedRequest& r : camera.Requests()) {
            if (r.method == "SETUP") {
                EXPECT_NE(r.text.find("uri=\"" + r.target + "\""), std::string::npos) << r.text;
            }
        }
        const std::vector<std::string> methods = rtspMethods();
        ASSERT_GE(methods.size(), 4u);
        EXPECT_EQ(methods[0], "DESCRIBE");
        EXPECT_EQ(methods[1], "DESCRIBE");
        EXPECT_EQ(methods[2], "SETUP");
        EXPECT_EQ(methods[3], "PLAY");
    }
    EXPECT_TRUE(fakes::WaitUntil([&] { return camera.RtspSessions() == 0; }));
    camera.Stop();
}

// The simulated camera ends sessions that no request renewed within the
// 2 s it announces, media or not: in both interleaved modes the client keeps
// its session, and its media, with a keep-alive about every second: OPTIONS
// first, then GET_PARAMETER, which the camera's Public header lists.
TEST(RtspClient, InterleavedSessionsOutliveTheCamerasTimeOut) {
    camsim::CameraConfig config;
    config.sessionTimeoutSeconds = 2;
    camsim::Camera camera(config);
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    const TransportMode modes[] = {kRtpOverTcp, kRtpOverRtsp};
    RecordingUser users[2];
    CBaseRTSPClient clients[2];
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(clients[i].Open(CamsimParams(camera), &users[i], modes[i]));
    const Clock::time_point opened = Clock::now();
    std::this_thread::sleep_until(opened + std::chrono::milliseconds(4500));
    size_t before[2];
    for (int i = 0; i < 2; ++i) before[i] = users[i].Sequences().size();
    std::this_thread::sleep_until(opened + std::chrono::milliseconds(5500));
    for (int i = 0; i < 2; ++i) {
        // 25 frames a second, one packet or more each.
        EXPECT_GE(users[i].Sequences().size(), before[i] + 10) << "mode " << modes[i];
    }
    EXPECT_EQ(camera.RtspSessions(), 2u);
    for (CBaseRTSPClient& client : clients) client.Close();

    std::map<std::string, Clock::time_point> played;
    std::map<std::string, std::vector<Clock::time_point>> options;
    std::map<std::string, int> optionsSent;
    for (const camsim::LoggedRequest& r : camera.Requests()) {
        std::string session;
        for (const auto& header : r.headers) {
            if (header.first == "Session") session = header.second;
        }
        if (r.method == "PLAY") played[session] = r.received;
        if (r.method == "OPTIONS" || r.method == "GET_PARAMETER") options[session].push_back(r.received);
        if (r.method == "OPTIONS") ++optionsSent[session];
    }
    ASSERT_EQ(played.size(), 2u);
    for (const auto& play : played) {
        SCOPED_TRACE(play.first);
        const std::vector<Clock::time_point>& times = options[play.first];
        EXPECT_GE(times.size(), 4u);
        EXPECT_EQ(optionsSent[play.first], 1);
        Clock::time_point last = play.second;
        for (const Clock::time_point& t : times) {
            const int64_t gap = std::chrono::duration_cast<std::chrono::milliseconds>(t - last).count();
            EXPECT_GE(gap, 800);
            EXPECT_LE(gap, 1600);
            last = t;
        }
    }
    camera.Stop();
}

}  // namespace
