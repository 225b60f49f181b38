#include "channel/base_rtp_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "media/jpeg_media_parser.h"
#include "platform/native_thread.h"
#include "platform/socket.h"
#include "support/fake_driver.h"
#include "support/wait_until.h"

namespace {

using telvaro::CHANNEL_PARAMS;

constexpr uint32_t kNoData = 300;

// A channel whose connection always works and whose frames the test delivers
// itself, as a receiving thread would.
class SupervisedChannel : public telvaro::CBaseRTPChannel {
public:
    SupervisedChannel(telvaro::IDriver* driver, fakes::FakeStreamSink* sink) : CBaseRTPChannel(driver, 0, sink) {}
    ~SupervisedChannel() override { Stop(); }
    bool Configure() override {
        ++connects;
        return configureResult;
    }
    void OnVideoPacket(const telvaro::RTPPacket* packet) override {
        ++packets;
        if (mediaParser_) mediaParser_->OnPacket(packet);
    }
    void InstallJpegParser() { mediaParser_.reset(new telvaro::CJpegRTPMediaParser(driver_, "Ombrelix")); }
    // Delivers one frame through the channel's hand-over.
    bool Deliver() {
        fakes::FakeSample sample(telvaro::kFourCCJPEG, 16, "Ombrelix");
        sample.SetLength(4);
        return OnFrame(&sample);
    }
    std::atomic<int> connects{0};
    std::atomic<int> packets{0};
    std::atomic<bool> configureResult{true};
};

// Feeds frames every 40 ms while running.
class FrameFeeder {
public:
    explicit FrameFeeder(SupervisedChannel* channel) : channel_(channel) {}
    ~FrameFeeder() { Pause(); }
    void Resume() {
        if (thread_) return;
        run_ = true;
        thread_ = telvaro::platform::NativeThread::Start([this] {
            while (run_) {
                channel_->Deliver();
                telvaro::platform::SleepMs(40);
            }
        }, "feeder");
    }
    void Pause() {
        run_ = false;
        if (thread_) thread_->Join(telvaro::platform::kInfinite);
        thread_.reset();
    }

private:
    SupervisedChannel* channel_;
    std::atomic<bool> run_{false};
    std::shared_ptr<telvaro::platform::NativeThread> thread_;
};

class RtpChannelTest : public ::testing::Test {
protected:
    RtpChannelTest() {
        telvaro::DEVICE_INFO info;
        info.address = "127.0.0.1";
        info.timeout = 200;
        info.noDataTimeout = kNoData;
        driver.SetDeviceInfo(info);
        params.width = 640;
        params.height = 480;
        params.frameInterval = 40;
    }
    size_t Count(const std::string& fragment) { return driver.CountMessages(fragment); }
    fakes::FakeDriver driver;
    fakes::FakeStreamSink sink;
    CHANNEL_PARAMS params;
};

TEST_F(RtpChannelTest, ACameraThatNeverSendsKeepsReconnectingAndReportsSignalLossToTheSinkOnly) {
    SupervisedChannel channel(&driver, &sink);
    ASSERT_TRUE(channel.Start(params));
    ASSERT_TRUE(sink.WaitForSignalLost(2, 6000));
    EXPECT_GE(channel.connects, 2);
    EXPECT_NE(channel.GetState(), telvaro::kStateStreaming);
    channel.Stop();
    // Never online, so never reported offline either; why the attempts fail
    // is told once, whatever their number.
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, 3);
    EXPECT_NE(messages[0].text.find("no frame within the no-data time-out"), std::string::npos) << messages[0].text;
}

TEST_F(RtpChannelTest, SilenceLosesTheSignalOnceAndFramesBringItBack) {
    SupervisedChannel channel(&driver, &sink);
    FrameFeeder feeder(&channel);
    ASSERT_TRUE(channel.Start(params));
    feeder.Resume();
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.GetState() == telvaro::kStateStreaming; }, 3000));
    EXPECT_EQ(Count("is online"), 1u);
    const int connectsWhileStreaming = channel.connects;

    feeder.Pause();
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.GetState() == telvaro::kStateSignalLost ||
                                              channel.connects > connectsWhileStreaming; }, 3000));
    ASSERT_TRUE(driver.WaitForMessage("Signal was lost", 4000));
    ASSERT_TRUE(sink.WaitForSignalLost(1, 2000));
    // The next attempt may already have said why it failed.
    auto messages = driver.Messages();
    auto lost = std::find_if(messages.begin(), messages.end(), [](const auto& m) {
        return m.text == "telvaro::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1";
    });
    ASSERT_NE(lost, messages.end());
    EXPECT_EQ(lost->type, 1);

    feeder.Resume();
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.GetState() == telvaro::kStateStreaming; }, 4000));
    EXPECT_EQ(Count("is online"), 2u);
    EXPECT_EQ(Count("Signal was lost"), 1u);
    feeder.Pause();
    channel.Stop();
}

TEST_F(RtpChannelTest, StopWhileStreamingReportsStoppedOnceAndMeetsItsBound) {
    SupervisedChannel channel(&driver, &sink);
    FrameFeeder feeder(&channel);
    ASSERT_TRUE(channel.Start(params));
    feeder.Resume();
    // The feeder reports the camera online after the frame that wakes the
    // channel thread; a stop in between would leave both notices out.
    ASSERT_TRUE(fakes::WaitUntil(
        [&] { return channel.GetState() == telvaro::kStateStreaming && Count("is online") == 1; }, 3000));
    auto start = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 200 + 300));
    // Frames still arriving after Stop do not bring the camera back online.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    feeder.Pause();
    EXPECT_EQ(Count("is online"), 1u);
    EXPECT_EQ(Count("is offline. Channel was stopped"), 1u);
    EXPECT_EQ(driver.Messages().size(), 2u);
    EXPECT_EQ(channel.GetState(), telvaro::kStateStopped);
}

// The host hears why the depacketizer refuses data once per cause, however
// often the cause comes back.
TEST_F(RtpChannelTest, ADepacketizerReasonReachesTheHostOnce) {
    SupervisedChannel channel(&driver, &sink);
    channel.InstallJpegParser();
    FrameFeeder feeder(&channel);
    ASSERT_TRUE(channel.Start(params));
    feeder.Resume();
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.GetState() == telvaro::kStateStreaming; }, 3000));
    uint8_t bytes[14] = {0x80, 0x1A, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0};  // a JPEG payload of 2 bytes
    telvaro::RTPPacket tooShort;
    ASSERT_TRUE(telvaro::ParseRTPHeader(bytes, sizeof(bytes), tooShort));
    const std::string reason = "depacketizer: an RTP/JPEG payload shorter than 4 bytes";
    for (int i = 0; i < 20; ++i) channel.OnRTPPacket(&tooShort);
    ASSERT_TRUE(driver.WaitForMessage(reason, 3000));
    // Again, over two more passes of the channel thread.
    for (int i = 0; i < 20; ++i) channel.OnRTPPacket(&tooShort);
    telvaro::platform::SleepMs(2100);
    feeder.Pause();
    channel.Stop();
    EXPECT_EQ(Count(reason), 1u);
    for (const auto& m : driver.Messages()) {
        if (m.text.find(reason) == std::string::npos) continue;
        EXPECT_EQ(m.type, telvaro::kMessageNotice);
        EXPECT_EQ(m.text, "telvaro::CBaseRTPChannel::FeedParser: Camera 127.0.0.1: " + reason);
    }
}

TEST_F(RtpChannelTest, AFailingConfigurationIsRetriedEverySecond) {
    SupervisedChannel channel(&driver, &sink);
    channel.configureResult = false;
    ASSERT_TRUE(channel.Start(params));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    channel.Stop();
    EXPECT_GE(channel.connects, 2);
    EXPECT_LE(channel.connects, 4);
    EXPECT_EQ(channel.GetState(), telvaro::kStateStopped);
}

TEST_F(RtpChannelTest, FramesTheHostRefusesDoNotCount) {
    SupervisedChannel channel(&driver, &sink);
    sink.accept = false;
    EXPECT_FALSE(channel.Deliver());
    sink.accept = true;
    sink.throwOnSample = true;
    EXPECT_FALSE(channel.Deliver());
    EXPECT_TRUE(driver.Messages().empty());
    sink.throwOnSample = false;
    EXPECT_TRUE(channel.Deliver());
    EXPECT_EQ(Count("is online"), 1u);
}

TEST_F(RtpChannelTest, UdpPacketsComeOnlyFromTheAddressTheAttemptResolved) {
    uint8_t bytes[13] = {0x80, 0x60, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0xAA};
    telvaro::RTPPacket packet;
    ASSERT_TRUE(telvaro::ParseRTPHeader(bytes, sizeof(bytes), packet));
    const telvaro::platform::Ipv4Endpoint camera{telvaro::platform::ResolveHost("127.0.0.1"), 5000};
    const telvaro::platform::Ipv4Endpoint stranger{camera.address ^ 0x01000000u, 5000};
    const telvaro::platform::Ipv4Endpoint zero{0, 5000};
    SupervisedChannel channel(&driver, &sink);
    // Construction looks nothing up: until an attempt has, nothing passes.
    channel.OnRTPPacketFrom(&camera, &packet);
    EXPECT_EQ(channel.packets, 0);
    ASSERT_TRUE(channel.Start(params));
    ASSERT_TRUE(fakes::WaitUntil([&] { return channel.connects > 0; }, 2000));
    EXPECT_EQ(channel.GetCameraAddress(), camera.address);
    channel.OnRTPPacketFrom(&stranger, &packet);
    EXPECT_EQ(channel.packets, 0);
    channel.OnRTPPacketFrom(&camera, &packet);
    EXPECT_EQ(channel.packets, 1);
    channel.OnRTPPacket(&packet);
    EXPECT_EQ(channel.packets, 2);
    channel.Stop();

    // An address that does not resolve ends each attempt before the camera
    // is asked anything, says why, and drops every UDP packet.
    telvaro::DEVICE_INFO info = driver.GetDeviceInfo();
    info.address = "";
    driver.SetDeviceInfo(info);
    SupervisedChannel unresolved(&driver, &sink);
    ASSERT_TRUE(unresolved.Start(params));
    ASSERT_TRUE(fakes::WaitUntil([&] { return Count("was not resolved within 200 ms") == 1; }, 3000));
    unresolved.OnRTPPacketFrom(&zero, &packet);
    unresolved.OnRTPPacketFrom(&camera, &packet);
    unresolved.Stop();
    EXPECT_EQ(unresolved.packets, 0);
    EXPECT_EQ(unresolved.connects, 0);
}

TEST_F(RtpChannelTest, ResolutionIsWhatTheHostAskedFor) {
    SupervisedChannel channel(&driver, &sink);
    ASSERT_TRUE(channel.Start(params));
    EXPECT_EQ(channel.GetResolution(), std::make_pair(640u, 480u));
    params.width = 1280;
    params.height = 720;
    ASSERT_TRUE(channel.Restart(params));
    EXPECT_EQ(channel.GetResolution(), std::make_pair(1280u, 720u));
    channel.Stop();
}

}  // namespace
