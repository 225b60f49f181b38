// The RTSP and RTP side of the camera simulator, through a hand-written
// client that sends what the driver sends, and a real decoder for the media.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "camsim/camera.h"
#include "camsim/text_util.h"
#include "camsim_clients.h"
#include "rtpkit/clip.h"
#include "support/video_decoder.h"

namespace {

using camsim_test::RtpHeader;
using camsim_test::RtspClient;
using camsim_test::RtspReply;
using Bytes = std::vector<uint8_t>;

std::string TestClip(const char* name) { return std::string(OMBRELIX_TESTDATA_DIR) + "/" + name; }

camsim::CameraConfig ThreeCodecs() {
    camsim::CameraConfig config;
    config.channels.clear();
    const camsim::Codec codecs[] = {camsim::Codec::H264, camsim::Codec::Mpeg4, camsim::Codec::Mjpeg};
    for (uint32_t i = 0; i < 3; ++i) {
        camsim::ChannelConfig c;
        c.id = i + 1;
        c.codec = codecs[i];
        config.channels.push_back(c);
    }
    return config;
}

// H.264 access units rebuilt from RTP payloads (RFC 6184 single NAL, STAP-A, FU-A).
std::vector<Bytes> H264Frames(const std::vector<Bytes>& packets) {
    std::vector<Bytes> frames;
    Bytes frame;
    for (const Bytes& p : packets) {
        RtpHeader h;
        if (!camsim_test::ParseRtp(p, h) || p.size() < 14) continue;
        const uint8_t* payload = p.data() + 12;
        size_t n = p.size() - 12;
        uint8_t type = payload[0] & 0x1F;
        if (type >= 1 && type <= 23) {
            frame.insert(frame.end(), {0, 0, 1});
            frame.insert(frame.end(), payload, payload + n);
        } else if (type == 24) {
            for (size_t i = 1; i + 2 <= n;) {
                size_t size = static_cast<size_t>(payload[i]) << 8 | payload[i + 1];
                frame.insert(frame.end(), {0, 0, 1});
                frame.insert(frame.end(), payload + i + 2, payload + std::min(n, i + 2 + size));
                i += 2 + size;
            }
        } else if (type == 28) {
            if (payload[1] & 0x80) frame.insert(frame.end(), {0, 0, 1, static_cast<uint8_t>((payload[0] & 0xE0) | (payload[1] & 0x1F))});
            frame.insert(frame.end(), payload + 2, payload + n);
        }
        if (h.marker) {
            frames.push_back(frame);
            frame.clear();
        }
    }
    return frames;
}

class CamsimRtsp : public ::testing::Test {
protected:
    void StartCamera(camsim::CameraConfig config) {
        camera_ = std::make_unique<camsim::Camera>(config);
        std::string error;
        ASSERT_TRUE(camera_->Start(&error)) << error;
    }
    std::string StreamUrl(uint32_t channel, const char* codec) const {
        return "rtsp://127.0.0.1:" + std::to_string(camera_->RtspPort()) + "/PSIA/Streaming/channels/" +
               std::to_string(channel) + "?videoCodecType=" + codec;
    }
    // DESCRIBE, SETUP and PLAY without authentication; gives the session id.
    std::string Play(RtspClient& client, const std::string& url, const std::string& transport,
                     RtspReply* setupReply = nullptr, RtspReply* playReply = nullptr) {
        EXPECT_TRUE(client.Connect(camera_->RtspPort()));
        EXPECT_EQ(client.Request("DESCRIBE", url, "Accept: application/sdp\r\n").status, 200);
        RtspReply setup = client.Request("SETUP", url + "/trackID=1", "Transport: " + transport + "\r\n");
        EXPECT_EQ(setup.status, 200) << setup.head;
        std::string session = setup.Header("Session");
        session = session.substr(0, session.find(';'));
        RtspReply play = client.Request("PLAY", url + "/", "Session: " + session + "\r\nRange: npt=0.000-\r\n");
        EXPECT_EQ(play.status, 200) << play.head;
        if (setupReply) *setupReply = setup;
        if (playReply) *playReply = play;
        return session;
    }
    std::unique_ptr<camsim::Camera> camera_;
};

TEST_F(CamsimRtsp, DescribeIsChallengedThenAnsweredWithTheSessionDescription) {
    struct Case {
        uint32_t channel;
        const char* codec;
        bool parameterSetsInSdp;
        std::vector<std::string> expected;
        std::vector<std::string> absent;
    } cases[] = {
        {1, "H.264", true, {"m=video 0 RTP/AVP 96\r\n", "a=rtpmap:96 H264/90000\r\n",
                            "a=fmtp:96 packetization-mode=1;profile-level-id=42C01E;sprop-parameter-sets="}, {}},
        {1, "H.264", false, {"a=rtpmap:96 H264/90000\r\n"}, {"a=fmtp"}},
        {2, "MPEG4", true, {"a=rtpmap:96 MP4V-ES/90000\r\n", "a=fmtp:96 profile-level-id=1;config=000001B0"}, {}},
        {2, "MPEG4", false, {"a=rtpmap:96 MP4V-ES/90000\r\n"}, {"a=fmtp", "config="}},
        {3, "MJPEG", true, {"m=video 0 RTP/AVP 26\r\n", "a=rtpmap:26 JPEG/90000\r\n"}, {"a=fmtp"}},
    };
    rtpkit::Clip h264;
    ASSERT_TRUE(rtpkit::LoadClip(TestClip("h264_baseline_640x480.h264"), h264));
    rtpkit::Clip mpeg4;
    ASSERT_TRUE(rtpkit::LoadClip(TestClip("mpeg4_sp_640x480.m4v"), mpeg4));
    for (const Case& c : cases) {
        camsim::CameraConfig config = ThreeCodecs();
        for (auto& ch : config.channels) ch.parameterSetsInSdp = c.parameterSetsInSdp;
        StartCamera(config);
        std::string url = StreamUrl(c.channel, c.codec);
        RtspClient client;
        ASSERT_TRUE(client.Connect(camera_->RtspPort()));
        RtspReply challenge = client.Request("DESCRIBE", url, "Accept: application/sdp\r\n");
        ASSERT_EQ(challenge.status, 401);
        EXPECT_EQ(challenge.Header("CSeq"), "1");
        auto offered = challenge.Headers("WWW-Authenticate");
        ASSERT_EQ(offered.size(), 2u);
        EXPECT_EQ(offered[0].rfind("Digest realm=\"Camsim RTSP Server\", nonce=\"", 0), 0u) << offered[0];
        EXPECT_EQ(offered[1], "Basic realm=\"Camsim RTSP Server\"");

        std::string forged = "Digest realm=\"Camsim RTSP Server\", nonce=\"" + std::string(32, 'a') + "\"";
        EXPECT_EQ(client.Request("DESCRIBE", url,
                                 camsim_test::DigestAuthorization(forged, "admin", "admin", "DESCRIBE", url))
                      .status,
                  401);
        RtspReply wrong = client.Request(
            "DESCRIBE", url, camsim_test::DigestAuthorization(offered[0], "admin", "nope", "DESCRIBE", url));
        EXPECT_EQ(wrong.status, 401);
        RtspReply ok = client.Request(
            "DESCRIBE", url,
            camsim_test::DigestAuthorization(offered[0], "admin", "admin", "DESCRIBE", url) + "Accept: application/sdp\r\n");
        ASSERT_EQ(ok.status, 200) << ok.head;
        EXPECT_EQ(ok.Header("CSeq"), "4");
        EXPECT_EQ(ok.Header("Content-Base"), url + "/");
        EXPECT_EQ(ok.Header("Content-Type"), "application/sdp");
        EXPECT_EQ(ok.Header("Content-Length"), std::to_string(ok.body.size()));
        EXPECT_EQ(ok.body.rfind("v=0\r\n", 0), 0u);
        EXPECT_NE(ok.body.find("a=control:*\r\n"), std::string::npos);
        EXPECT_NE(ok.body.find("a=control:trackID=1\r\n"), std::string::npos);
        for (const std::string& e : c.expected) EXPECT_NE(ok.body.find(e), std::string::npos) << e << "\n" << ok.body;
        for (const std::string& a : c.absent) EXPECT_EQ(ok.body.find(a), std::string::npos) << a << "\n" << ok.body;
        if (c.parameterSetsInSdp && c.channel == 1) {
            std::string sets = "sprop-parameter-sets=" + camsim::Base64Encode(h264.sps) + "," +
                               camsim::Base64Encode(h264.pps) + "\r\n";
            EXPECT_NE(ok.body.find(sets), std::string::npos) << ok.body;
        }
        if (c.parameterSetsInSdp && c.channel == 2) {
            EXPECT_NE(ok.body.find("config=" + camsim::HexEncode(mpeg4.config, true) + "\r\n"), std::string::npos);
        }
        // Basic answers are taken as well.
        RtspReply basic = client.Request("DESCRIBE", url, "Authorization: Basic YWRtaW46YWRtaW4=\r\n");
        EXPECT_EQ(basic.status, 200);
    }
}

TEST_F(CamsimRtsp, UdpStreamIsContinuousDecodableAndReportedOn) {
    camsim::CameraConfig config;
    config.rtspAuth.clear();
    StartCamera(config);
    camsim_test::UdpPair udp;
    ASSERT_TRUE(udp.Ok());
    RtspClient client;
    RtspReply setup, play;
    std::string url = StreamUrl(1, "H.264");
    std::string session = Play(client, url,
                               "RTP/AVP;unicast;client_port=" + std::to_string(udp.RtpPort()) + "-" +
                                   std::to_string(udp.RtpPort() + 1),
                               &setup, &play);
    EXPECT_EQ(setup.Header("Session"), session + ";timeout=60");
    std::string transport = setup.Header("Transport");
    size_t sp = transport.find("server_port=");
    ASSERT_NE(sp, std::string::npos) << transport;
    uint16_t serverPort = static_cast<uint16_t>(std::atoi(transport.c_str() + sp + 12));
    EXPECT_EQ(serverPort % 2, 0);
    std::string rtpInfo = play.Header("RTP-Info");
    EXPECT_EQ(rtpInfo.rfind("url=" + url + "/trackID=1;seq=", 0), 0u) << rtpInfo;
    uint32_t firstSequence = static_cast<uint32_t>(std::atoi(rtpInfo.c_str() + rtpInfo.find("seq=") + 4));
    uint32_t firstTimestamp = static_cast<uint32_t>(std::strtoul(rtpInfo.c_str() + rtpInfo.find("rtptime=") + 8, nullptr, 10));

    sockaddr_in from{};
    auto packets = udp.Receive(700, false, 100000, &from);
    ASSERT_GT(packets.size(), 20u);
    EXPECT_EQ(ntohs(from.sin_port), serverPort);
    RtpHeader first;
    ASSERT_TRUE(camsim_test::ParseRtp(packets[0], first));
    EXPECT_EQ(first.sequence, firstSequence);
    EXPECT_EQ(first.timestamp, firstTimestamp);
    RtpHeader previous = first;
    int frames = first.marker ? 1 : 0;
    for (size_t i = 1; i < packets.size(); ++i) {
        RtpHeader h;
        ASSERT_TRUE(camsim_test::ParseRtp(packets[i], h));
        EXPECT_EQ(h.payloadType, 96);
        EXPECT_EQ(h.ssrc, first.ssrc);
        EXPECT_EQ(h.sequence, static_cast<uint16_t>(previous.sequence + 1));
        // A new time stamp exactly when the previous packet ended a frame: 25 fps is 3600 ticks.
        EXPECT_EQ(h.timestamp - previous.timestamp, previous.marker ? 3600u : 0u);
        frames += h.marker ? 1 : 0;
        previous = h;
    }
    EXPECT_GE(frames, 14);  // 0.7 s at 25 fps, less start-up
    fakes::VideoDecoder decoder(fakes::VideoDecoder::Codec::H264);
    for (const Bytes& f : H264Frames(packets)) ASSERT_TRUE(decoder.Decode(f)) << decoder.LastError();
    ASSERT_TRUE(decoder.Flush());
    ASSERT_FALSE(decoder.Pictures().empty());
    EXPECT_EQ(decoder.Pictures()[0].width, 640);
    EXPECT_EQ(decoder.Pictures()[0].height, 480);

    auto reports = udp.Receive(2500, true, 1, &from);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(ntohs(from.sin_port), serverPort + 1);
    const Bytes& sr = reports[0];
    ASSERT_GE(sr.size(), 28u);
    EXPECT_EQ(sr[0], 0x80);
    EXPECT_EQ(sr[1], 200);
    EXPECT_EQ((sr[2] << 8 | sr[3]), 6);
    EXPECT_EQ(static_cast<uint32_t>(sr[4]) << 24 | static_cast<uint32_t>(sr[5]) << 16 | static_cast<uint32_t>(sr[6]) << 8 | sr[7],
              first.ssrc);
    EXPECT_EQ(sr[28 + 1], 202);  // source description follows in the same datagram

    EXPECT_EQ(client.Request("TEARDOWN", url + "/", "Session: " + session + "\r\n").status, 200);
    udp.Receive(100);
    EXPECT_TRUE(udp.Receive(300).empty());
    EXPECT_EQ(camera_->RtspSessions(), 0u);
}

TEST_F(CamsimRtsp, InterleavedDeliveryOnTheChannelsAsked) {
    struct Case {
        std::string transport;
        uint8_t rtp, rtcp;
        bool lowerCaseUrl;  // as a client that keeps the Content-Base in lower case asks
    } cases[] = {
        {"RTP/AVP/TCP;unicast;interleaved=0-1", 0, 1, true},
        {"RTP/AVP/TCP;unicast", 0, 1, false},
        {"RTP/AVP/TCP;unicast;interleaved=4-5", 4, 5, false},
    };
    for (const Case& c : cases) {
        camsim::CameraConfig config = ThreeCodecs();
        config.rtspAuth.clear();
        config.channels[2].jpegQ = 0;  // the clip's own Q: tables computed by the receiver
        StartCamera(config);
        RtspClient client;
        RtspReply setup;
        std::string url = StreamUrl(3, "MJPEG");
        Play(client, c.lowerCaseUrl ? camsim::ToLower(url) : url, c.transport, &setup);
        EXPECT_NE(setup.Header("Transport").find("interleaved=" + std::to_string(c.rtp) + "-" + std::to_string(c.rtcp)),
                  std::string::npos);
        bool sawReport = false;
        int rtp = 0;
        for (int i = 0; i < 200 && !(sawReport && rtp > 10); ++i) {
            uint8_t channel = 0;
            Bytes packet;
            ASSERT_TRUE(client.ReadInterleaved(channel, packet)) << c.transport;
            if (channel == c.rtcp) {
                EXPECT_EQ(packet[1], 200);
                sawReport = true;
                continue;
            }
            ASSERT_EQ(channel, c.rtp);
            RtpHeader h;
            ASSERT_TRUE(camsim_test::ParseRtp(packet, h));
            EXPECT_EQ(h.payloadType, 26);
            // RFC 2435 main header: type 1 (4:2:0), Q 50, 640 x 480 in 8-pixel units.
            EXPECT_EQ(packet[12 + 4], 1);
            EXPECT_EQ(packet[12 + 5], 50);
            EXPECT_EQ(packet[12 + 6], 80);
            EXPECT_EQ(packet[12 + 7], 60);
            ++rtp;
        }
        EXPECT_TRUE(sawReport);
    }
}

// A request that names neither ports nor channels gets UDP from the server's
// ports and no destination, as GStreamer's server answers it.
TEST_F(CamsimRtsp, TransportWithoutPortsGetsUdpWithoutDestination) {
    camsim::CameraConfig config = ThreeCodecs();
    config.rtspAuth.clear();
    StartCamera(config);
    RtspClient client;
    RtspReply setup;
    Play(client, StreamUrl(1, "H.264"), "RTP/AVP;unicast", &setup);
    const std::string transport = setup.Header("Transport");
    EXPECT_EQ(transport.rfind("RTP/AVP;unicast;server_port=", 0), 0u) << transport;
    EXPECT_EQ(transport.find("interleaved"), std::string::npos);
    EXPECT_EQ(transport.find("client_port"), std::string::npos);
}

// Only requests that name a session keep it: media flowing on an
// interleaved connection does not.
TEST_F(CamsimRtsp, SessionsWithoutKeepAliveTimeOut) {
    for (bool interleaved : {false, true}) {
        SCOPED_TRACE(interleaved ? "interleaved" : "UDP");
        camsim::CameraConfig config;
        config.rtspAuth.clear();
        config.sessionTimeoutSeconds = 1;
        StartCamera(config);
        camsim_test::UdpPair keptUdp, idleUdp;
        RtspClient kept, idle;
        auto transport = [&](const camsim_test::UdpPair& u) {
            if (interleaved) return std::string("RTP/AVP/TCP;unicast;interleaved=0-1");
            return "RTP/AVP;unicast;client_port=" + std::to_string(u.RtpPort()) + "-" + std::to_string(u.RtpPort() + 1);
        };
        // RTP packets that arrive for a client within ms.
        auto mediaWithin = [&](RtspClient& client, camsim_test::UdpPair& udp, int ms) {
            if (!interleaved) return udp.Receive(ms).size();
            size_t count = 0;
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            for (;;) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
                uint8_t channel = 0;
                Bytes packet;
                if (left.count() <= 0 || !client.ReadInterleaved(channel, packet, static_cast<int>(left.count()))) break;
                if (channel == 0) ++count;
            }
            return count;
        };
        std::string url = StreamUrl(1, "H.264");
        std::string keptSession = Play(kept, url, transport(keptUdp));
        std::string idleSession = Play(idle, url, transport(idleUdp));
        for (int i = 0; i < 6; ++i) {
            mediaWithin(idle, idleUdp, 300);
            EXPECT_EQ(kept.Request("OPTIONS", url + "/", "Session: " + keptSession + "\r\n").status, 200);
        }
        mediaWithin(idle, idleUdp, 100);
        EXPECT_EQ(mediaWithin(idle, idleUdp, 300), 0u);
        EXPECT_EQ(idle.Request("OPTIONS", url + "/", "Session: " + idleSession + "\r\n").status, 454);
        EXPECT_GT(mediaWithin(kept, keptUdp, 300), 0u);
    }
}

TEST_F(CamsimRtsp, MediaAndConnectionFaults) {
    camsim::CameraConfig config;
    config.rtspAuth.clear();
    StartCamera(config);
    camsim_test::UdpPair udp;
    RtspClient client;
    std::string url = StreamUrl(1, "H.264");
    Play(client, url, "RTP/AVP;unicast;client_port=" + std::to_string(udp.RtpPort()) + "-" + std::to_string(udp.RtpPort() + 1));
    udp.Receive(200);

    camera_->GetFaults().rtpLossPercent = 50;
    udp.Receive(50);
    auto lossy = udp.Receive(1000);
    ASSERT_GT(lossy.size(), 10u);
    RtpHeader a, b;
    camsim_test::ParseRtp(lossy.front(), a);
    camsim_test::ParseRtp(lossy.back(), b);
    double kept = static_cast<double>(lossy.size()) / static_cast<uint16_t>(b.sequence - a.sequence + 1);
    EXPECT_GT(kept, 0.3);
    EXPECT_LT(kept, 0.7);
    camera_->GetFaults().rtpLossPercent = 0;

    camera_->GetFaults().silent = true;
    udp.Receive(100);
    EXPECT_TRUE(udp.Receive(400).empty());
    camera_->GetFaults().silent = false;
    EXPECT_FALSE(udp.Receive(300).empty());

    camera_->DropRtspConnections();
    EXPECT_TRUE(client.ClosedByServer(1000));
    udp.Receive(100);
    EXPECT_TRUE(udp.Receive(300).empty());

    camera_->GetFaults().refuseRtsp = true;
    RtspClient refused;
    ASSERT_TRUE(refused.Connect(camera_->RtspPort()));
    EXPECT_TRUE(refused.ClosedByServer(1000));
    camera_->GetFaults().refuseRtsp = false;

    camera_->GetFaults().replyDelayMs = 300;
    RtspClient slow;
    ASSERT_TRUE(slow.Connect(camera_->RtspPort()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(slow.Request("OPTIONS", url).status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(CamsimRtsp, BadRequestsGetErrorsAndTheServerCarriesOn) {
    camsim::CameraConfig config;
    config.rtspAuth.clear();
    StartCamera(config);
    std::string url = StreamUrl(1, "H.264");
    struct Case {
        std::string request;
        int status;  // 0: the connection is closed without a reply
    } cases[] = {
        {"DESCRIBE rtsp://127.0.0.1/PSIA/Streaming/channels/9 RTSP/1.0\r\nCSeq: 1\r\n\r\n", 404},
        {"DESCRIBE " + url.substr(0, url.find('?')) + "?videoCodecType=H.265 RTSP/1.0\r\nCSeq: 1\r\n\r\n", 404},
        {"DESCRIBE rtsp://127.0.0.1/other RTSP/1.0\r\nCSeq: 1\r\n\r\n", 404},
        {"SETUP " + url + "/trackID=1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP;multicast\r\n\r\n", 461},
        {"SETUP " + url + "/trackID=1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP;unicast;client_port=x-y\r\n\r\n", 461},
        {"SETUP " + url + "/trackID=1 RTSP/1.0\r\nCSeq: 1\r\nSession: 1234\r\nTransport: RTP/AVP/TCP\r\n\r\n", 454},
        {"PLAY " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n", 454},
        {"TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 1\r\nSession: nope\r\n\r\n", 454},
        {"RECORD " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n", 501},
        {"OPTIONS * RTSP/2.0\r\nCSeq: 1\r\n\r\n", 505},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", 400},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 1\r\nContent-Length: 99999999\r\n\r\n", 413},
        {std::string("\x00\x01\x02\xff garbage without end", 24) + std::string(20000, 'A'), 0},
        {"$\x01\x00\x04xxxx$\x00\x00\x02", -1},  // a client's interleaved frames are skipped
    };
    for (const Case& c : cases) {
        RtspClient client;
        ASSERT_TRUE(client.Connect(camera_->RtspPort()));
        ASSERT_TRUE(client.SendRaw(c.request));
        if (c.status > 0) {
            EXPECT_EQ(client.ReadReply().status, c.status) << c.request.substr(0, 60);
        } else if (c.status == 0) {
            EXPECT_TRUE(client.ClosedByServer(2000));
        }
        RtspClient next;
        ASSERT_TRUE(next.Connect(camera_->RtspPort()));
        EXPECT_EQ(next.Request("OPTIONS", url).status, 200) << c.request.substr(0, 60);
    }
}

TEST_F(CamsimRtsp, ServesSeveralClientsAndChannelsAtOnceAndStopsPromptly) {
    camsim::CameraConfig config = ThreeCodecs();
    config.rtspAuth.clear();
    StartCamera(config);
    const char* codecs[] = {"H.264", "MPEG4", "MJPEG"};
    camsim_test::UdpPair udp[3];
    RtspClient clients[4];
    for (uint32_t i = 0; i < 3; ++i) {
        Play(clients[i], StreamUrl(i + 1, codecs[i]),
             "RTP/AVP;unicast;client_port=" + std::to_string(udp[i].RtpPort()) + "-" + std::to_string(udp[i].RtpPort() + 1));
    }
    Play(clients[3], StreamUrl(1, "H.264"), "RTP/AVP/TCP;unicast;interleaved=0-1");
    EXPECT_EQ(camera_->RtspSessions(), 4u);
    std::set<uint32_t> ssrcs;
    const int payloadTypes[] = {96, 96, 26};
    for (int i = 0; i < 3; ++i) {
        auto packets = udp[i].Receive(300);
        ASSERT_FALSE(packets.empty()) << codecs[i];
        RtpHeader h;
        ASSERT_TRUE(camsim_test::ParseRtp(packets[0], h));
        EXPECT_EQ(h.payloadType, payloadTypes[i]);
        ssrcs.insert(h.ssrc);
    }
    uint8_t channel = 0;
    Bytes packet;
    ASSERT_TRUE(clients[3].ReadInterleaved(channel, packet));
    RtpHeader h;
    ASSERT_TRUE(camsim_test::ParseRtp(packet, h));
    ssrcs.insert(h.ssrc);
    EXPECT_EQ(ssrcs.size(), 4u);

    auto start = std::chrono::steady_clock::now();
    camera_->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    for (auto& c : clients) EXPECT_TRUE(c.ClosedByServer(500));
}

// A padded channel sends the bit rate asked for in valid H.264 (filler
// NAL units a decoder accepts), and a frame limit holds over every session.
TEST_F(CamsimRtsp, PaddedBitRateAndFrameLimit) {
    camsim::CameraConfig config;
    config.rtspAuth.clear();
    config.channels[0].paddedBitRateKbps = 4000;  // 20000 bytes a frame at 25 fps
    config.channels[0].frameLimit = 10;
    StartCamera(config);
    const std::string transport = "RTP/AVP;unicast;client_port=";
    camsim_test::UdpPair udp;
    RtspClient client;
    const std::string session = Play(
        client, StreamUrl(1, "H.264"), transport + std::to_string(udp.RtpPort()) + "-" + std::to_string(udp.RtpPort() + 1));
    const auto packets = udp.Receive(800);
    size_t payload = 0;
    for (const Bytes& p : packets) payload += p.size() - 12;
    const std::vector<Bytes> frames = H264Frames(packets);
    EXPECT_EQ(frames.size(), 10u);
    EXPECT_NEAR(static_cast<double>(payload), 10 * 20000.0, 20000.0);
    fakes::VideoDecoder decoder(fakes::VideoDecoder::Codec::H264);
    for (const Bytes& f : frames) ASSERT_TRUE(decoder.Decode(f)) << decoder.LastError();
    ASSERT_TRUE(decoder.Flush());
    EXPECT_EQ(decoder.Pictures().size(), 10u);
    EXPECT_EQ(camera_->FramesSent().at(1), 10u);

    EXPECT_EQ(client.Request("TEARDOWN", StreamUrl(1, "H.264") + "/", "Session: " + session + "\r\n").status, 200);
    RtspClient again;
    Play(again, StreamUrl(1, "H.264"), transport + std::to_string(udp.RtpPort()) + "-" + std::to_string(udp.RtpPort() + 1));
    EXPECT_TRUE(udp.Receive(300).empty());
}

}  // namespace
