// The PSIA codec channels' own rules: the quality and frame rate picked
// from the capability text, the session parameters, and a stop during a
// crawling PSIA exchange. Against the simulated camera they are tested in
// tests/integration/codec_channel_camsim_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "channel/h264_channel_rtsp.h"
#include "channel/mpeg4_channel_rtsp.h"
#include "support/channel_probe.h"
#include "support/fake_driver.h"
#include "support/test_http_server.h"

namespace {

using telvaro::CHANNEL_PARAMS;

using fakes::Params;
using fakes::Probe;

class CodecChannelTest : public ::testing::Test {
protected:
    fakes::FakeStreamSink sink;
};

TEST(CodecChannelRules, QualityPickAndFrameRate) {
    using telvaro::CCommonChannelRTSP;
    struct Case {
        const char* options;
        uint32_t quality;
        uint32_t expected;
    } picks[] = {{"10,50,90", 50, 50}, {"10,50,90", 60, 50},   {"10,50,90", 80, 90}, {"1,5000", 50, 2500},
                 {"", 50, 0},          {"x, 0, ,7", 20, 7},    {" 30 ,10", 0, 10},   {"10,50,90", 150, 90},
                 {"40,20", 50, 20},    {"1,2,3,1000", 100, 1000}};
    for (const auto& c : picks)
        EXPECT_EQ(CCommonChannelRTSP::PickFixedQuality(c.options, c.quality), c.expected) << c.options << " q" << c.quality;
    struct Rate {
        uint32_t interval;
        uint32_t expected;
    } rates[] = {{0, 100}, {40, 2500}, {333, 300}, {1000, 100}, {67, 1500}, {3000, 0}, {1, 100000}};
    for (const auto& r : rates) EXPECT_EQ(CCommonChannelRTSP::MaxFrameRateFor(r.interval), r.expected) << r.interval;
}

TEST_F(CodecChannelTest, SessionParametersComeFromTheCapabilityText) {
    fakes::FakeDriver plain;
    Probe<telvaro::CH264ChannelRTSP> empty(&plain, 0, &sink);
    telvaro::RtspParams params;
    empty.PrepareSession(params);
    EXPECT_EQ(params.serverPort, 554);
    EXPECT_EQ(params.urlPath, "/PSIA/Streaming/channels/0?videoCodecType=H.264");
    empty.Use(Params(640, 480, 40, 50));
    telvaro::StreamingChannelSettings wanted = empty.WantedSettings(empty.ReadCapabilities());
    EXPECT_EQ(wanted.fixedQuality, 0u);
    EXPECT_EQ(wanted.constantBitRate, 0u);

    plain.SetParameter(3, "101;8554;VBR,CBR;64;4096;10,50,90");
    Probe<telvaro::CMPEG4ChannelRTSP> second(&plain, 1, &sink);
    second.Use(Params(1280, 720, 333, 80));
    second.PrepareSession(params);
    EXPECT_EQ(params.serverPort, 8554);
    EXPECT_EQ(params.urlPath, "/PSIA/Streaming/channels/101?videoCodecType=MPEG4");
    wanted = second.WantedSettings(second.ReadCapabilities());
    EXPECT_EQ(wanted.id, 101u);
    EXPECT_TRUE(wanted.enabled);
    EXPECT_TRUE(wanted.videoEnabled);
    EXPECT_EQ(wanted.videoCodecType, "MPEG4");
    EXPECT_EQ(wanted.videoResolutionWidth, 1280u);
    EXPECT_EQ(wanted.videoResolutionHeight, 720u);
    EXPECT_EQ(wanted.videoQualityControlType, "VBR");
    EXPECT_EQ(wanted.constantBitRate, 4096u);
    EXPECT_EQ(wanted.fixedQuality, 90u);
    EXPECT_EQ(wanted.maxFrameRate, 300u);
    EXPECT_EQ(wanted.keyFrameInterval, 1000u);
}

// A camera that answers its PSIA requests at a crawl while the host stops
// the channel: the stop ends the exchange and the thread, within its bound.
TEST(CodecChannelStop, ACrawlingCameraDoesNotHoldUpTheStop) {
    fakes::TestHttpServer server;
    ASSERT_TRUE(server.Start());
    server.SetHandler([](const fakes::RecordedRequest&) {
        return fakes::DribbledReply(200, "<StreamingChannel><id>1</id></StreamingChannel>", 300, 40);
    });
    fakes::FakeDriver driver;
    telvaro::DEVICE_INFO info;
    info.address = "127.0.0.1";
    info.port = server.Port();
    info.timeout = 1000;
    driver.SetDeviceInfo(info);
    driver.SetParameter(2, "1;554;VBR;64;8192;20,40,60");
    fakes::FakeStreamSink sink;
    auto* channel = new telvaro::CH264ChannelRTSP(&driver, 0, &sink);
    ASSERT_TRUE(channel->Start(Params(640, 480)));
    ASSERT_TRUE(server.WaitForRequests(1, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto start = std::chrono::steady_clock::now();
    channel->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(channel->ThreadAbandoned());
    delete channel;  // under ASan: nothing runs in it any more
    EXPECT_EQ(server.RequestCount(), 1u);
    server.Stop();
}

}  // namespace
