// The library, loaded through its exports as a recorder host does, streaming
// from VLC's RTSP stream output, a peer this project did not write: H.264,
// MPEG-4 and MJPEG files served as they are, over UDP (VLC has no
// interleaved mode), with and without RTSP Basic. Every recording lasts
// more than three of VLC's session time-outs (3 s here), which VLC counts
// from the last request it counts (GET_PARAMETER, not OPTIONS): a
// keep-alive it does not count, or one too late, ends the session and the
// video. The PSIA side is camsim's.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera.h"
#include "support/library_host.h"
#include "support/peer_recording.h"
#include "support/vlc_rtsp_peer.h"

namespace {

using fakes::VideoDecoder;

constexpr uint16_t kWidth = 320;
constexpr uint16_t kHeight = 240;
constexpr int kFps = 25;
constexpr int kSessionTimeoutSeconds = 3;
constexpr auto kRecording = std::chrono::seconds(3 * kSessionTimeoutSeconds + 1);
constexpr int kFirstFrameTimeoutMs = 8000;

struct Case {
    const char* peer;  // the peer's codec
    const char* name;
    camsim::Codec camera;
    int32_t host;
    VideoDecoder::Codec decoder;
    bool basic;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (bool basic : {false, true}) {
        cases.push_back({"h264", "H.264", camsim::Codec::H264, fakes::kCodecH264, VideoDecoder::Codec::H264, basic});
        cases.push_back({"mpeg4", "MPEG-4", camsim::Codec::Mpeg4, fakes::kCodecMpeg4, VideoDecoder::Codec::Mpeg4, basic});
        cases.push_back({"mjpeg", "JPEG", camsim::Codec::Mjpeg, fakes::kCodecJpeg, VideoDecoder::Codec::Jpeg, basic});
    }
    return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name << (c.basic ? " basic" : " none"); }

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(info.param.peer) + (info.param.basic ? "_basic" : "_none");
}

// VLC and camsim, which holds the channel settings, both with the host's
// credentials; VLC with a session time-out of kSessionTimeoutSeconds.
struct Peers {
    fakes::VlcRtspPeer vlc;
    camsim::Camera camera;
    Peers(const char* codec, bool basic, const std::string& password)
        : vlc(VlcOptions(codec, basic, password)), camera(CameraOptions(password)) {}
    static fakes::VlcRtspPeer::Options VlcOptions(const char* codec, bool basic, const std::string& password) {
        fakes::VlcRtspPeer::Options options;
        options.codec = codec;
        if (basic) options.user = "admin", options.password = password;
        options.width = kWidth;
        options.height = kHeight;
        options.fps = kFps;
        options.sessionTimeoutSeconds = kSessionTimeoutSeconds;
        return options;
    }
    static camsim::CameraConfig CameraOptions(const std::string& password) {
        camsim::CameraConfig config;
        config.password = password;
        return config;
    }
};

class VlcInterop : public ::testing::TestWithParam<Case> {
protected:
    void TearDown() override {
        std::remove(fakes::ConfigurationFile().c_str());
        const Case& c = GetParam();
        fakes::PrintSessionLine("VLC", c.name, c.basic ? "basic" : "none", "RTPoverUDP", "Long", fps_, gapMs_,
                                HasFailure());
    }
    double fps_ = 0;
    int64_t gapMs_ = 0;
};

TEST_P(VlcInterop, RecordsWholeFramesPastThreeSessionTimeOuts) {
    const Case& c = GetParam();
    const std::string password = "vlc-Peer7";
    Peers peers(c.peer, c.basic, password);
    std::string error;
    ASSERT_TRUE(peers.vlc.Start(&error)) << error;
    ASSERT_TRUE(peers.camera.Start(&error)) << error;
    fakes::WriteConfiguration(peers.camera.HttpPort(), "RTPoverUDP");

    fakes::LibraryHost host(kWidth, kHeight, kFps);
    host.device.connection.codec = c.host;
    ASSERT_TRUE(host.Start(peers.camera.HttpPort(), peers.vlc.Port(), "admin", password));
    const bool streamed = host.sink.WaitForFrames(1, kFirstFrameTimeoutMs);
    const auto first = std::chrono::steady_clock::now();
    if (streamed) std::this_thread::sleep_for(kRecording);
    const auto last = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(last - first).count();
    host.Stop();
    const std::string story = host.Story() + peers.vlc.Log();
    ASSERT_TRUE(streamed) << "no frame within " << kFirstFrameTimeoutMs << " ms\n" << story;
    const auto frames = host.sink.Frames();
    gapMs_ = fakes::LongestGapMs(frames, last);
    fps_ = frames.size() / seconds;
    EXPECT_LE(gapMs_, 1000) << story;
    EXPECT_GE(fps_, 0.9 * kFps) << story;
    EXPECT_EQ(host.allocator.allocations.load(), host.allocator.releases.load());
    EXPECT_EQ(fakes::RecordingFault(c.decoder, frames, kWidth, kHeight, kFps + 1, "vlc-" + CaseName({c, 0})), "");
}

INSTANTIATE_TEST_SUITE_P(Peer, VlcInterop, ::testing::ValuesIn(Cases()), CaseName);

// VLC has no interleaved transport: it answers such a SETUP with 461, and
// the host hears it with the mode it asked for.
TEST(VlcInterleaved, IsRefusedNamingTheMode) {
    Peers peers("h264", false, "vlc-Peer7");
    std::string error;
    ASSERT_TRUE(peers.vlc.Start(&error)) << error;
    ASSERT_TRUE(peers.camera.Start(&error)) << error;
    fakes::WriteConfiguration(peers.camera.HttpPort(), "RTPoverRTSP");
    fakes::LibraryHost host(kWidth, kHeight, kFps);
    ASSERT_TRUE(host.Start(peers.camera.HttpPort(), peers.vlc.Port(), "admin", "vlc-Peer7"));
    const std::string refusal = "telvaro::CBaseRTPChannel::Connect: Camera 127.0.0.1: SETUP rtsp://127.0.0.1:" +
                                std::to_string(peers.vlc.Port()) +
                                "/PSIA/Streaming/channels/1/trackID=0 answered \"RTSP/1.0 461 Unsupported transport\" "
                                "(transport asked for: RTPoverRTSP)";
    const bool told = host.debug.WaitForText(refusal, 10000);
    host.Stop();
    std::remove(fakes::ConfigurationFile().c_str());
    EXPECT_TRUE(told) << host.Story() << peers.vlc.Log();
    EXPECT_EQ(host.sink.FrameCount(), 0u);
}

}  // namespace
