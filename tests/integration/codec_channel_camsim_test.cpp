// The PSIA codec channels against the simulated camera, with short device
// clocks: configuration, streaming, supervision and reconnection.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera.h"
#include "channel/h264_channel_rtsp.h"
#include "channel/jpeg_channel_rtsp.h"
#include "channel/mpeg4_channel_rtsp.h"
#include "platform/process.h"
#include "rtpkit/clip.h"
#include "support/channel_probe.h"
#include "support/fake_driver.h"
#include "support/test_rtsp_server.h"
#include "support/udp_peer.h"
#include "support/video_decoder.h"
#include "support/wait_until.h"

namespace {

using telvaro::CHANNEL_PARAMS;

using fakes::Params;
using fakes::Probe;

// How many of the requests a camera logged (camsim's or a scripted one's)
// used the method.
template <typename Requests>
size_t CountMethod(const Requests& requests, const char* method) {
    return static_cast<size_t>(
        std::count_if(requests.begin(), requests.end(), [&](const auto& r) { return r.method == method; }));
}

// The driver's configuration file, named after the driver, next to the test
// program: every channel gets the transport mode written; removed at the end.
class ModeFile {
public:
    ModeFile(fakes::FakeDriver& driver, const std::string& name)
        : path_(telvaro::platform::ExecutableDirectory() + name + ".xml") {
        driver.name = name;
    }
    ~ModeFile() { std::remove(path_.c_str()); }
    void Write(const char* mode) {
        std::ofstream(path_, std::ios::trunc) << "<Configuration><Device><VideoChannel><RTPMode>" << mode
                                              << "</RTPMode></VideoChannel></Device></Configuration>";
    }

private:
    std::string path_;
};

class CodecChannelTest : public ::testing::Test {
protected:
    void StartCamera(camsim::Codec codec, uint32_t width = 640, uint32_t height = 480, int jpegQ = 255) {
        camsim::ChannelConfig channel;
        channel.codec = codec;
        channel.width = width;
        channel.height = height;
        channel.jpegQ = jpegQ;
        config.channels = {channel};
        camera.reset(new camsim::Camera(config));
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
        telvaro::DEVICE_INFO info;
        info.address = "127.0.0.1";
        info.port = camera->HttpPort();
        info.userName = config.user;
        info.password = config.password;
        info.timeout = 1000;
        info.noDataTimeout = 1500;
        driver.SetDeviceInfo(info);
        driver.allocator = &allocator;
        driver.SetParameter(1, "0");
        driver.SetParameter(2, "1;" + std::to_string(camera->RtspPort()) + ";VBR;64;8192;20,40,60,80,100");
    }
    void TearDown() override {
        if (camera) camera->Stop();
    }
    size_t Puts() { return CountMethod(camera->Requests(), "PUT"); }
    camsim::ChannelConfig CameraChannel() {
        camsim::ChannelConfig c;
        camera->GetChannel(1, c);
        return c;
    }

    camsim::CameraConfig config;
    std::unique_ptr<camsim::Camera> camera;
    fakes::FakeDriver driver;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeStreamSink sink;
};
TEST_F(CodecChannelTest, ConfigureChangesTheCameraOnlyWhenAComparedFieldDiffers) {
    StartCamera(camsim::Codec::H264);
    Probe<telvaro::CH264ChannelRTSP> channel(&driver, 0, &sink);
    // The camera's channel already is H.264, 640x480, 25 fps, VBR, quality 60
    // (quality 50 picks 60 of 20..100).
    channel.Use(Params(640, 480, 40, 50));
    ASSERT_TRUE(channel.Configure());
    EXPECT_EQ(Puts(), 0u);
    // The bit rate takes no part in the comparison.
    camsim::ChannelConfig c = CameraChannel();
    c.constantBitRate = 100;
    c.keyFrameInterval = 5;
    camera->SetChannel(c);
    ASSERT_TRUE(channel.Configure());
    EXPECT_EQ(Puts(), 0u);

    channel.Use(Params(1280, 720, 100, 90));
    ASSERT_TRUE(channel.Configure());
    EXPECT_EQ(Puts(), 1u);
    c = CameraChannel();
    EXPECT_EQ(c.width, 1280u);
    EXPECT_EQ(c.height, 720u);
    EXPECT_EQ(c.maxFrameRate, 1000u);
    EXPECT_EQ(c.fixedQuality, 100u);
    EXPECT_EQ(c.constantBitRate, 8192u);  // the capability text's highest bit rate goes with a change

    // A camera that cannot be read fails the attempt.
    camera->Stop();
    EXPECT_FALSE(channel.Configure());
}

TEST_F(CodecChannelTest, ConfigureReachesTheListFallbackAndTheReboot) {
    StartCamera(camsim::Codec::H264);
    Probe<telvaro::CJPEGChannelRTSP> channel(&driver, 0, &sink);
    channel.Use(Params(640, 480, 40, 50));
    camera->GetFaults().channelPut = camsim::ChannelPutFault::MethodNotAllowed;
    ASSERT_TRUE(channel.Configure());
    std::vector<std::string> puts;
    for (const auto& r : camera->Requests())
        if (r.method == "PUT") puts.push_back(r.target);
    EXPECT_EQ(puts, (std::vector<std::string>{"/PSIA/Streaming/channels/1", "/PSIA/Streaming/channels"}));
    EXPECT_EQ(CameraChannel().codec, camsim::Codec::Mjpeg);

    camera->GetFaults().channelPut = camsim::ChannelPutFault::RebootRequired;
    channel.Use(Params(1280, 720, 40, 50));
    ASSERT_TRUE(channel.Configure());
    EXPECT_EQ(camera->Reboots(), 1u);
    EXPECT_EQ(CameraChannel().width, 1280u);

    // A refused change does not stop the attempt.
    camera->GetFaults().channelPut = camsim::ChannelPutFault::InvalidOperation;
    channel.Use(Params(640, 480, 40, 50));
    EXPECT_TRUE(channel.Configure());
    EXPECT_EQ(CameraChannel().width, 1280u);
}

// Each codec over UDP: frames reach the sink and decode at the size asked for.
TEST_F(CodecChannelTest, EachCodecStreamsDecodableFramesAtTheRequestedSize) {
    struct Case {
        camsim::Codec codec;
        uint32_t width, height;
        int jpegQ;
        fakes::VideoDecoder::Codec decoder;
        uint32_t keyFourcc;
    } cases[] = {
        {camsim::Codec::H264, 640, 480, 255, fakes::VideoDecoder::Codec::H264, telvaro::kFourCCH264},
        {camsim::Codec::Mpeg4, 1280, 720, 255, fakes::VideoDecoder::Codec::Mpeg4, telvaro::kFourCCDIVX},
        {camsim::Codec::Mjpeg, 640, 480, 0, fakes::VideoDecoder::Codec::Jpeg, telvaro::kFourCCJPEG},
    };
    for (const auto& c : cases) {
        // The camera starts at another size: the channel must reconfigure it.
        StartCamera(c.codec, 320, 240, c.jpegQ);
        sink.Clear();
        driver.ClearMessages();
        std::unique_ptr<telvaro::CCommonChannelRTSP> channel;
        if (c.codec == camsim::Codec::H264) channel.reset(new telvaro::CH264ChannelRTSP(&driver, 0, &sink));
        if (c.codec == camsim::Codec::Mpeg4) channel.reset(new telvaro::CMPEG4ChannelRTSP(&driver, 0, &sink));
        if (c.codec == camsim::Codec::Mjpeg) channel.reset(new telvaro::CJPEGChannelRTSP(&driver, 0, &sink));
        ASSERT_TRUE(channel->Start(Params(c.width, c.height)));
        ASSERT_TRUE(sink.WaitForFrames(12, 10000)) << static_cast<int>(c.codec);
        EXPECT_EQ(channel->GetState(), telvaro::kStateStreaming);
        EXPECT_GE(channel->GetRtpPort(), 3556);
        channel->Stop();
        auto frames = sink.Frames();
        EXPECT_EQ(frames[0].fourcc, c.keyFourcc);
        fakes::VideoDecoder decoder(c.decoder);
        for (const auto& f : frames) {
            ASSERT_TRUE(decoder.Decode(f.data)) << decoder.LastError();
            EXPECT_EQ(f.width, c.width);
            EXPECT_EQ(f.height, c.height);
        }
        decoder.Flush();
        ASSERT_FALSE(decoder.Pictures().empty());
        for (const auto& p : decoder.Pictures()) {
            EXPECT_EQ(p.width, static_cast<int>(c.width));
            EXPECT_EQ(p.height, static_cast<int>(c.height));
        }
        EXPECT_EQ(driver.CountMessages("is online"), 1u);
        EXPECT_EQ(driver.CountMessages("offline. Channel was stopped"), 1u);
        EXPECT_EQ(allocator.allocations.load(), allocator.releases.load());
        camera->Stop();
        camera.reset();
    }
}

// A camera that announces its parameter sets only in the session
// description: the channel hands them to the depacketizer, which puts them in
// front of every key frame.
TEST_F(CodecChannelTest, ParameterSetsFromTheSessionDescriptionAlone) {
    StartCamera(camsim::Codec::H264);
    camsim::ChannelConfig c = CameraChannel();
    c.parameterSetsInBand = false;
    camera->SetChannel(c);
    telvaro::CH264ChannelRTSP h264(&driver, 0, &sink);
    ASSERT_TRUE(h264.Start(Params(640, 480)));
    ASSERT_TRUE(sink.WaitForFrames(12, 10000));
    h264.Stop();
    auto frames = sink.Frames();
    EXPECT_EQ(frames[0].fourcc, telvaro::kFourCCH264);
    // The camera's own sequence parameter set, not one made up for the size.
    rtpkit::Clip clip;
    ASSERT_TRUE(rtpkit::LoadClip(std::string(OMBRELIX_TESTDATA_DIR) + "/h264_baseline_640x480.h264", clip));
    std::vector<uint8_t> sps = {0, 0, 1};
    sps.insert(sps.end(), clip.sps.begin(), clip.sps.end());
    ASSERT_GE(frames[0].data.size(), sps.size());
    EXPECT_TRUE(std::equal(sps.begin(), sps.end(), frames[0].data.begin()));
    fakes::VideoDecoder decoder(fakes::VideoDecoder::Codec::H264);
    for (const auto& f : frames) ASSERT_TRUE(decoder.Decode(f.data)) << decoder.LastError();
    decoder.Flush();
    ASSERT_FALSE(decoder.Pictures().empty());
    EXPECT_EQ(decoder.Pictures()[0].width, 640);
}

TEST_F(CodecChannelTest, SilenceLosesTheSignalAndFramesBringItBack) {
    StartCamera(camsim::Codec::H264);
    telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(640, 480)));
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.GetState() == telvaro::kStateStreaming; }, 8000));
    camera->GetFaults().silent = true;
    // State 2 lasts until the next pass starts a new attempt (state 3).
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.GetState() != telvaro::kStateStreaming; }, 4000));
    ASSERT_TRUE(driver.WaitForMessage("Signal was lost", 6000));
    ASSERT_TRUE(sink.WaitForSignalLost(1, 3000));
    camera->GetFaults().silent = false;
    ASSERT_TRUE(fakes::WaitUntil([&] { return driver.CountMessages("is online") == 2; }, 10000));
    // The receive thread reports the first frame; the channel thread marks
    // the stream as it wakes for it.
    EXPECT_TRUE(fakes::WaitUntil([&] { return channel.GetState() == telvaro::kStateStreaming; }, 3000))
        << channel.GetState();
    channel.Stop();
    EXPECT_EQ(driver.CountMessages("Signal was lost"), 1u);
}

// A datagram that ends the RTCP side reaches the host as the cause, once,
// while the media goes on.
TEST_F(CodecChannelTest, AnEndedRtcpSideIsToldOnceAndTheMediaGoesOn) {
    StartCamera(camsim::Codec::H264);
    telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(640, 480)));
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.GetState() == telvaro::kStateStreaming; }, 8000));
    const unsigned rtcp = channel.GetRtpPort() + 1u;
    fakes::UdpPeer intruder;
    ASSERT_TRUE(intruder.Send(static_cast<uint16_t>(rtcp), std::vector<uint8_t>(10, 0x80)));
    const std::string reason = "telvaro::CBaseRTPChannel::Run: Camera 127.0.0.1: RTCP on UDP port " +
                               std::to_string(rtcp) + " ended: a datagram of 10 bytes, too short for an RTCP report";
    ASSERT_TRUE(driver.WaitForMessage(reason, 3000));
    const size_t frames = sink.Frames().size();
    EXPECT_TRUE(sink.WaitForFrames(frames + 50, 5000)) << "media stops with RTCP";
    channel.Stop();
    EXPECT_EQ(driver.CountMessages(reason), 1u);
    EXPECT_EQ(driver.CountMessages("is online"), 1u) << "the session went on";
}

// Each failed attempt tells the host why, once per cause until the channel
// streams again, and never with the password.
TEST_F(CodecChannelTest, FailedAttemptsSayWhyOncePerCause) {
    struct Case {
        const char* name;
        std::function<void()> breakIt;
        std::string reason;  // "" for the closed RTSP port, known only once it is found
    } cases[] = {
        {"silence", [this] { camera->GetFaults().silent = true; },
         "no frame within the no-data time-out of 1500 ms"},
        {"wrong password",
         [this] {
             telvaro::DEVICE_INFO info = driver.GetDeviceInfo();
             info.password = "wrong-Secret9";
             driver.SetDeviceInfo(info);
         },
         "GET /PSIA/Streaming/channels/1 answered HTTP 401"},
        {"closed RTSP port", nullptr, ""},
    };
    fakes::RefusedPort refused;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config.password = "pw-Secret9";
        StartCamera(camsim::Codec::H264);
        driver.ClearMessages();
        std::string reason = c.reason;
        if (c.breakIt) {
            c.breakIt();
        } else {
            const uint16_t closed = refused.Port();
            driver.SetParameter(2, "1;" + std::to_string(closed) + ";VBR;64;8192;20,40,60,80,100");
            reason = "RTSP 127.0.0.1:" + std::to_string(closed) + ": the connection was refused";
        }
        telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
        ASSERT_TRUE(channel.Start(Params(640, 480)));
        ASSERT_TRUE(fakes::WaitUntil([&] { return CountMethod(camera->Requests(), "GET") >= 3; }, 15000));
        channel.Stop();
        size_t found = 0;
        for (const auto& m : driver.Messages()) {
            EXPECT_EQ(m.text.find("Secret9"), std::string::npos) << m.text;
            if (m.text.find(reason) == std::string::npos) continue;
            ++found;
            EXPECT_EQ(m.type, 3);
            EXPECT_EQ(m.text, "telvaro::CBaseRTPChannel::Connect: Camera 127.0.0.1: " + reason);
        }
        EXPECT_EQ(found, 1u);
        camera->Stop();
    }
}

// A camera that answers every request late, though within every time-out:
// its RTSP set-up (DESCRIBE, 401, DESCRIBE, SETUP, PLAY) takes longer than
// the no-data time-out, which counts from PLAY on, so it is still recorded.
TEST_F(CodecChannelTest, ACameraSlowToSetUpIsRecordedInEachTransport) {
    ModeFile file(driver, "OmbrelixSlowCamera");
    for (const char* mode : {"RTPoverUDP", "RTPoverTCP"}) {
        SCOPED_TRACE(mode);
        file.Write(mode);
        StartCamera(camsim::Codec::H264);
        // Four RTSP round trips of 700 ms each against 1500 ms without data.
        camera->GetFaults().replyDelayMs = 700;
        sink.Clear();
        telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
        ASSERT_TRUE(channel.Start(Params(640, 480)));
        EXPECT_TRUE(sink.WaitForFrames(5, 15000));
        channel.Stop();
        EXPECT_EQ(CountMethod(camera->Requests(), "PLAY"), 1u);
        camera->Stop();
    }
}

// A camera that refuses the session at once is asked again only after the
// no-data time-out, as when the wait for frames ended each attempt.
TEST_F(CodecChannelTest, ARefusedSessionIsRetriedOncePerNoDataTimeOut) {
    ModeFile file(driver, "OmbrelixRefusedSession");
    file.Write("RTPoverTCP");
    StartCamera(camsim::Codec::H264);
    fakes::TestRtspServer refusing;
    refusing.SetHandler(
        [](const fakes::RtspRequest& r) { return fakes::RtspAnswer(fakes::TestRtspServer::Reply(404, r.cseq)); });
    ASSERT_TRUE(refusing.Start());
    driver.SetParameter(2, "1;" + std::to_string(refusing.Port()) + ";VBR;64;8192;20,40,60,80,100");
    telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(640, 480)));
    // Three refusals give two gaps, and the second one was reported, or not,
    // before the third attempt began.
    ASSERT_TRUE(fakes::WaitUntil([&] { return CountMethod(refusing.Requests(), "DESCRIBE") >= 3; }, 8000));
    channel.Stop();
    std::vector<std::chrono::steady_clock::time_point> describes;
    for (const auto& r : refusing.Requests())
        if (r.method == "DESCRIBE") describes.push_back(r.received);
    ASSERT_GE(describes.size(), 2u);
    EXPECT_LE(describes.size(), 3u);
    for (size_t i = 1; i < describes.size(); ++i) {
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(describes[i] - describes[i - 1]).count(), 1500);
    }
    EXPECT_EQ(driver.CountMessages("answered \"RTSP/1.0 404"), 1u);
    refusing.Stop();
}

TEST_F(CodecChannelTest, ADroppedRtspConnectionIsReconnected) {
    StartCamera(camsim::Codec::H264);
    telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(640, 480)));
    ASSERT_TRUE(sink.WaitForFrames(5, 8000));
    camera->DropRtspConnections();
    // Frames counted from the new session's PLAY on cannot come over the
    // dropped one.
    ASSERT_TRUE(fakes::WaitUntil([&] { return CountMethod(camera->Requests(), "PLAY") >= 2; }, 12000));
    const size_t before = sink.FrameCount();
    ASSERT_TRUE(sink.WaitForFrames(before + 10, 12000));
    EXPECT_GE(CountMethod(camera->Requests(), "DESCRIBE"), 2u);
    channel.Stop();
}

TEST_F(CodecChannelTest, StopWhileStreamingMeetsItsBoundAndReportsOnce) {
    StartCamera(camsim::Codec::H264);
    telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(640, 480)));
    ASSERT_TRUE(sink.WaitForFrames(3, 8000));
    auto start = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].type, 3);
    EXPECT_EQ(messages[1].text, "telvaro::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped");
    // The session was torn down (the camera logs it on a thread of its own).
    EXPECT_TRUE(fakes::WaitUntil([&] { return CountMethod(camera->Requests(), "TEARDOWN") > 0; }));
}

TEST_F(CodecChannelTest, ARestartWithAnotherSizeReconfiguresTheCamera) {
    StartCamera(camsim::Codec::H264);
    telvaro::CH264ChannelRTSP channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(640, 480)));
    ASSERT_TRUE(sink.WaitForFrames(3, 8000));
    ASSERT_TRUE(channel.Restart(Params(1280, 720, 40, 0)));
    ASSERT_TRUE(fakes::WaitUntil([&] {
        auto frames = sink.Frames();
        return !frames.empty() && frames.back().width == 1280;
    }, 10000));
    channel.Stop();
    EXPECT_EQ(CameraChannel().width, 1280u);
    EXPECT_EQ(CameraChannel().height, 720u);
    EXPECT_EQ(channel.GetParams().quality, 50u);  // the restart kept the channel's own quality
    EXPECT_EQ(CameraChannel().fixedQuality, 60u);
}

}  // namespace
