// The library, loaded through its exports as a recorder host does, streaming
// from GStreamer's RTSP server (gst-rtsp-server), a peer this project did not
// write: every codec, RTSP authentication scheme and transport mode, and a
// password the server refuses. The PSIA side (channel settings over HTTP) is
// camsim's; the channel's capability text sends the RTSP session to the
// GStreamer server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera.h"
#include "support/gst_rtsp_peer.h"
#include "support/library_host.h"
#include "support/peer_recording.h"
#include "support/wait_until.h"

namespace {

using fakes::ConfigurationFile;
using fakes::VideoDecoder;
using fakes::WriteConfiguration;

constexpr uint16_t kWidth = 320;
constexpr uint16_t kHeight = 240;
constexpr int kFps = 25;
constexpr auto kStreamTime = std::chrono::seconds(3);
constexpr int kFirstFrameTimeoutMs = 8000;

// The host of these tests: channel 0 asks for the served size and rate.
struct LibraryHost : fakes::LibraryHost {
    LibraryHost() : fakes::LibraryHost(kWidth, kHeight, kFps) {}
};

struct Codec {
    const char* peer;  // the server's --codec
    const char* name;
    camsim::Codec camera;
    int32_t host;
    VideoDecoder::Codec decoder;
};
const Codec kH264{"h264", "H.264", camsim::Codec::H264, fakes::kCodecH264, VideoDecoder::Codec::H264};
const Codec kH264NoAud{"h264-noaud", "H.264-noAUD", camsim::Codec::H264, fakes::kCodecH264,
                       VideoDecoder::Codec::H264};
const Codec kJpeg{"jpeg", "JPEG", camsim::Codec::Mjpeg, fakes::kCodecJpeg, VideoDecoder::Codec::Jpeg};
const Codec kMpeg4{"mpeg4", "MPEG-4", camsim::Codec::Mpeg4, fakes::kCodecMpeg4, VideoDecoder::Codec::Mpeg4};

struct Case {
    Codec codec;
    const char* auth;       // the server's --auth
    const char* transport;  // RTPMode of the driver configuration file
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.codec.name << " " << c.auth << " " << c.transport; }

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Codec& codec : {kH264, kJpeg, kMpeg4})
        for (const char* auth : {"none", "basic", "digest"})
            for (const char* transport : {"RTPoverUDP", "RTPoverTCP", "RTPoverRTSP"})
                cases.push_back({codec, auth, transport});
    // Without access-unit delimiters: each scheme and each mode once.
    cases.push_back({kH264NoAud, "none", "RTPoverUDP"});
    cases.push_back({kH264NoAud, "basic", "RTPoverTCP"});
    cases.push_back({kH264NoAud, "digest", "RTPoverRTSP"});
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = std::string(info.param.codec.peer) + "_" + info.param.auth + "_" + info.param.transport;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

class GStreamerInterop : public ::testing::TestWithParam<Case> {
protected:
    void TearDown() override {
        std::remove(ConfigurationFile().c_str());
        const Case& c = GetParam();
        std::printf("[ interop  ] %-11s %-6s %-11s %5.1f fps  %s\n", c.codec.name, c.auth, c.transport, fps_,
                    HasFailure() ? "FAIL" : "pass");
    }
    double fps_ = 0;
};

TEST_P(GStreamerInterop, StreamsWholeFramesAtTheServedRate) {
    const Case& c = GetParam();
    fakes::GstRtspPeer::Options options;
    options.codec = c.codec.peer;
    options.auth = c.auth;
    options.password = "gst-peer";
    options.width = kWidth;
    options.height = kHeight;
    options.fps = kFps;
    options.lifetimeSeconds = 60;
    fakes::GstRtspPeer peer(options);
    std::string error;
    ASSERT_TRUE(peer.Start(&error)) << error;

    // The camera's channel starts with another codec and size, so that only
    // the driver's settings over HTTP bring it to what is asked for.
    camsim::CameraConfig config;
    config.password = options.password;
    config.channels[0].codec = c.codec.camera == camsim::Codec::H264 ? camsim::Codec::Mjpeg : camsim::Codec::H264;
    config.channels[0].width = 640;
    config.channels[0].height = 480;
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start(&error)) << error;
    WriteConfiguration(camera.HttpPort(), c.transport);

    LibraryHost host;
    fakes::FakeDebugSink& debug = host.debug;
    fakes::FakeSampleAllocator& allocator = host.allocator;
    fakes::FakeStreamSink& sink = host.sink;
    host.device.connection.codec = c.codec.host;
    ASSERT_TRUE(host.Start(camera.HttpPort(), peer.Port(), options.user, options.password));

    const bool streamed = sink.WaitForFrames(1, kFirstFrameTimeoutMs);
    if (streamed) {
        const auto first = std::chrono::steady_clock::now();
        const size_t before = sink.FrameCount();
        std::this_thread::sleep_for(kStreamTime);
        const size_t after = sink.FrameCount();
        fps_ = static_cast<double>(after - before) /
               std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
    }
    host.Stop();
    // What the driver reported and what the server saw, for a failure.
    std::ostringstream story;
    for (const auto& r : debug.Records()) story << "driver: " << r.text << "\n";
    story << peer.Log();
    ASSERT_TRUE(streamed) << "no frame within " << kFirstFrameTimeoutMs << " ms\n" << story.str();
    EXPECT_GE(fps_, 0.9 * kFps) << story.str();
    EXPECT_EQ(allocator.allocations.load(), allocator.releases.load());
    // A sound stream gives the depacketizer nothing to complain about.
    EXPECT_EQ(story.str().find("depacketizer:"), std::string::npos) << story.str();

    camsim::ChannelConfig channel;
    ASSERT_TRUE(camera.GetChannel(1, channel));
    EXPECT_EQ(channel.codec, c.codec.camera);
    EXPECT_EQ(channel.width, kWidth);
    EXPECT_EQ(channel.height, kHeight);

    EXPECT_EQ(fakes::RecordingFault(c.codec.decoder, sink.Frames(), kWidth, kHeight, kFps + 1,
                                    CaseName(::testing::TestParamInfo<Case>(c, 0))),
              "");
}

INSTANTIATE_TEST_SUITE_P(Matrix, GStreamerInterop, ::testing::ValuesIn(Cases()), CaseName);

// A password the server's Digest realm refuses: the host hears which request
// was refused with the server's own status line, once although the channel
// tries again, and never the password. camsim, on the PSIA side, takes it.
TEST(GStreamerAuthentication, AWrongPasswordIsReportedOnceAndNeverShown) {
    fakes::GstRtspPeer::Options options;
    options.auth = "digest";
    options.password = "gst-Right7";
    options.lifetimeSeconds = 60;
    fakes::GstRtspPeer peer(options);
    std::string error;
    ASSERT_TRUE(peer.Start(&error)) << error;
    const std::string password = "host-Wrong7";
    camsim::CameraConfig config;
    config.password = password;
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start(&error)) << error;

    LibraryHost host;
    fakes::FakeDebugSink& debug = host.debug;
    ASSERT_TRUE(host.Start(camera.HttpPort(), peer.Port(), options.user, password));

    // Each attempt is refused twice, the second time with the credentials;
    // the next attempt comes no sooner than a no-data time-out (10 s here).
    const std::string refused = "answered \"RTSP/1.0 401";
    auto refusals = [&] {
        const std::string log = peer.Log();
        const std::string status = "code:   '401'";
        size_t n = 0;
        for (size_t at = log.find(status); at != std::string::npos; at = log.find(status, at + 1)) ++n;
        return n;
    };
    const bool retried = fakes::WaitUntil([&] { return refusals() >= 4; }, 20000);
    // The second attempt's report, were there one, follows its refusal at once.
    EXPECT_FALSE(fakes::WaitUntil([&] { return debug.CountContaining(refused) > 1; }, 500));
    host.Stop();
    ASSERT_TRUE(retried) << peer.Log();

    size_t found = 0;
    for (const auto& r : debug.Records()) {
        EXPECT_EQ(r.text.find(password), std::string::npos) << r.text;
        if (r.text.find(refused) == std::string::npos) continue;
        ++found;
        EXPECT_EQ(r.level, 3);
        EXPECT_EQ(r.text, "telvaro::CBaseRTPChannel::Connect: Camera 127.0.0.1: DESCRIBE rtsp://127.0.0.1:" +
                              std::to_string(peer.Port()) +
                              "/PSIA/Streaming/channels/1?videoCodecType=H.264 answered \"RTSP/1.0 401 Unauthorized\"");
    }
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(host.sink.FrameCount(), 0u);
}

// Sessions that outlive the server's time-out (3 s here, set on every
// session), and sessions the server ends: dropped from its pool (later
// requests get 454) or its connection closed, 3 s after each PLAY. A
// recording outlives three time-outs with no gap above 1 s and the served
// rate; one whose sessions end picks up the next session within 3 s (plus
// the UDP port probe) and says why.
struct SessionCase {
    const char* scenario;  // "Long", "Ended" or "Closed"
    const char* transport;
};

class GStreamerSessions : public ::testing::TestWithParam<SessionCase> {
protected:
    void TearDown() override {
        std::remove(ConfigurationFile().c_str());
        const SessionCase& c = GetParam();
        fakes::PrintSessionLine("GStreamer", "H.264", "none", c.transport, c.scenario, fps_, gapMs_, HasFailure());
    }
    double fps_ = 0;
    int64_t gapMs_ = 0;
};

TEST_P(GStreamerSessions, RecordingOutlivesTheSession) {
    const SessionCase& c = GetParam();
    const std::string scenario = c.scenario;
    fakes::GstRtspPeer::Options options;
    options.fps = kFps;
    options.lifetimeSeconds = 60;
    options.sessionTimeoutSeconds = 3;
    if (scenario == "Ended") options.endSessionsAfterSeconds = 3;
    if (scenario == "Closed") options.closeClientsAfterSeconds = 3;
    fakes::GstRtspPeer peer(options);
    std::string error;
    ASSERT_TRUE(peer.Start(&error)) << error;
    camsim::CameraConfig config;
    config.password = options.password;
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start(&error)) << error;
    WriteConfiguration(camera.HttpPort(), c.transport);

    LibraryHost host;
    host.sink.keepData = true;
    ASSERT_TRUE(host.Start(camera.HttpPort(), peer.Port(), options.user, options.password));
    const bool streamed = host.sink.WaitForFrames(1, kFirstFrameTimeoutMs);
    const auto first = std::chrono::steady_clock::now();
    if (streamed) std::this_thread::sleep_for(std::chrono::seconds(scenario == "Long" ? 10 : 8));
    const auto last = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(last - first).count();
    host.Stop();
    std::ostringstream story;
    for (const auto& r : host.debug.Records()) story << "driver: " << r.text << "\n";
    story << peer.Log();
    ASSERT_TRUE(streamed) << story.str();
    const auto frames = host.sink.Frames();
    gapMs_ = fakes::LongestGapMs(frames, last);
    fps_ = frames.size() / seconds;
    if (scenario == "Long") {
        EXPECT_LE(gapMs_, 1000) << story.str();
        EXPECT_GE(fps_, 0.9 * kFps) << story.str();
        EXPECT_EQ(story.str().find("ended the session"), std::string::npos) << story.str();
        return;
    }
    const bool udp = std::string(c.transport) == "RTPoverUDP";
    EXPECT_LE(gapMs_, 3000 + (udp ? 2000 : 0)) << story.str();
    const std::string cause = scenario == "Closed" ? "the camera closed the RTSP connection" : "";
    bool told = false;
    for (const auto& r : host.debug.Records()) {
        if (r.text.find("the camera ended the session: ") != std::string::npos &&
            r.text.find(cause) != std::string::npos) told = true;
    }
    EXPECT_TRUE(told) << story.str();
}

std::vector<SessionCase> SessionCases() {
    std::vector<SessionCase> cases;
    for (const char* scenario : {"Long", "Ended", "Closed"})
        for (const char* transport : {"RTPoverUDP", "RTPoverTCP", "RTPoverRTSP"}) cases.push_back({scenario, transport});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Peer, GStreamerSessions, ::testing::ValuesIn(SessionCases()),
                         [](const ::testing::TestParamInfo<SessionCase>& info) {
                             return std::string(info.param.scenario) + "_" + info.param.transport;
                         });

}  // namespace
