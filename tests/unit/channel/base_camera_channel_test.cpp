#include "channel/base_camera_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "platform/socket.h"
#include "util/text.h"
#include "support/fake_driver.h"
#include "support/wait_until.h"
#include "support/sanitizers.h"

namespace {

using telvaro::CHANNEL_PARAMS;
using Clock = std::chrono::steady_clock;

// Waits for its stop event unless told to ignore it.
class TestChannel : public telvaro::CBaseCameraChannel {
public:
    TestChannel(telvaro::IDriver* driver, uint32_t number, fakes::FakeStreamSink* sink)
        : CBaseCameraChannel(driver, number, sink) {}
    ~TestChannel() override { Stop(); }
    int32_t Run() override {
        ++runs;
        if (ignoreStop) {
            for (;;) telvaro::platform::SleepMs(10);
        }
        stopEvent_.Wait(telvaro::kWaitForever);
        return 0;
    }
    void OnStopRequested() override { ++stopRequests; }
    std::atomic<int> runs{0};
    std::atomic<int> stopRequests{0};
    bool ignoreStop = false;
};

CHANNEL_PARAMS Params(uint32_t interval, uint32_t quality, uint32_t w, uint32_t h) {
    CHANNEL_PARAMS p;
    p.frameInterval = interval;
    p.quality = quality;
    p.width = w;
    p.height = h;
    return p;
}

class ChannelTest : public ::testing::Test {
protected:
    ChannelTest() {
        telvaro::DEVICE_INFO info;
        info.address = "10.0.0.5";
        info.timeout = 200;
        driver.SetDeviceInfo(info);
    }
    fakes::FakeDriver driver;
    fakes::FakeStreamSink sink;
};

TEST_F(ChannelTest, CameraStateMessagesAreExact) {
    struct Case {
        uint32_t channels;
        uint32_t number;
        telvaro::ChannelState state;  // state before the offline report
        int32_t offlineType;
        const char* online;
        const char* offline;
    } cases[] = {
        {1, 0, telvaro::kStateStopped, 3, "telvaro::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online",
         "telvaro::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline. Channel was stopped"},
        {1, 0, telvaro::kStateSignalLost, 1, "telvaro::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online",
         "telvaro::CBaseCameraChannel::SetCameraState: Signal was lost for camera 10.0.0.5"},
        {1, 0, telvaro::kStateStreaming, 1, "telvaro::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online",
         "telvaro::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline or failed"},
        {4, 2, telvaro::kStateSignalLost, 1,
         "telvaro::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 2) is online",
         "telvaro::CBaseCameraChannel::SetCameraState: Signal was lost for video-server 10.0.0.5 (channel 2)"},
        {4, 3, telvaro::kStateStopped, 3,
         "telvaro::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 3) is online",
         "telvaro::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 3) is offline. Channel was stopped"},
    };
    for (const auto& c : cases) {
        driver.channels = c.channels;
        driver.ClearMessages();
        TestChannel channel(&driver, c.number, &sink);
        channel.SetCameraState(true);
        channel.SetCameraState(true);  // no change, no report
        channel.SetState(c.state);
        channel.SetCameraState(false);
        channel.SetCameraState(false);
        auto messages = driver.Messages();
        ASSERT_EQ(messages.size(), 2u) << c.online;
        EXPECT_EQ(messages[0].type, 3);
        EXPECT_EQ(messages[0].text, c.online);
        EXPECT_EQ(messages[1].type, c.offlineType);
        EXPECT_EQ(messages[1].text, c.offline);
    }
}

TEST_F(ChannelTest, StopOfAChannelNeverOnlineSendsNothing) {
    TestChannel channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(40, 50, 640, 480)));
    channel.Stop();
    EXPECT_TRUE(driver.Messages().empty());
    EXPECT_EQ(channel.GetState(), telvaro::kStateStopped);
}

TEST_F(ChannelTest, StartOnARunningChannelStopsItFirst) {
    TestChannel channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(40, 50, 640, 480)));
    channel.SetCameraState(true);
    ASSERT_TRUE(channel.Start(Params(40, 50, 640, 480)));
    auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[1].text.find("is offline. Channel was stopped"), std::string::npos);
    EXPECT_EQ(channel.stopRequests, 1);
    // The new thread runs.
    for (int i = 0; i < 100 && channel.runs < 2; ++i) telvaro::platform::SleepMs(5);
    EXPECT_EQ(channel.runs, 2);
    channel.Stop();
}

TEST_F(ChannelTest, AStoppedChannelDoesNotGoOnlineUntilStarted) {
    TestChannel channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(40, 50, 640, 480)));
    channel.SetCameraState(true);
    channel.Stop();
    channel.SetCameraState(true);  // a late frame after Stop
    ASSERT_EQ(driver.Messages().size(), 2u);
    ASSERT_TRUE(channel.Start(Params(40, 50, 640, 480)));
    channel.SetCameraState(true);
    EXPECT_EQ(driver.Messages().size(), 3u);
    channel.Stop();
}

TEST_F(ChannelTest, RestartKeepsQualityAndReportsNothing) {
    TestChannel channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(40, 70, 640, 480)));
    channel.SetCameraState(true);
    channel.SetState(telvaro::kStateStreaming);
    ASSERT_TRUE(channel.Restart(Params(100, 0, 1280, 720)));
    CHANNEL_PARAMS p = channel.GetParams();
    EXPECT_EQ(p.frameInterval, 100u);
    EXPECT_EQ(p.quality, 70u);
    EXPECT_EQ(p.width, 1280u);
    EXPECT_EQ(p.height, 720u);
    EXPECT_EQ(channel.GetState(), telvaro::kStateStopped);
    EXPECT_EQ(driver.Messages().size(), 1u);
    for (int i = 0; i < 100 && channel.runs < 2; ++i) telvaro::platform::SleepMs(5);
    EXPECT_EQ(channel.runs, 2);
    channel.Stop();
}

TEST_F(ChannelTest, StopForcesAThreadThatIgnoresItWithinTwiceTheTimeout) {
    SKIP_FORCED_STOP_UNDER_TSAN();
    TestChannel channel(&driver, 0, &sink);
    channel.ignoreStop = true;
    ASSERT_TRUE(channel.Start(Params(40, 50, 640, 480)));
    for (int i = 0; i < 100 && channel.runs < 1; ++i) telvaro::platform::SleepMs(5);
    auto start = Clock::now();
    channel.Stop();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(took, 390);   // twice the 200 ms time-out
    EXPECT_LE(took, 1500);  // plus a short grace for the forced stop
}

TEST_F(ChannelTest, EachStartedChannelHoldsOneSocketRegistration) {
    int before = telvaro::platform::SocketUsers();
    {
        TestChannel a(&driver, 0, &sink);
        TestChannel b(&driver, 1, &sink);
        ASSERT_TRUE(a.Start(Params(40, 50, 640, 480)));
        ASSERT_TRUE(a.Start(Params(40, 50, 640, 480)));  // restart through Start keeps one
        ASSERT_TRUE(b.Start(Params(40, 50, 640, 480)));
        ASSERT_TRUE(b.Restart(Params(40, 0, 640, 480)));
        EXPECT_EQ(telvaro::platform::SocketUsers(), before + 2);
        a.Stop();
        EXPECT_EQ(telvaro::platform::SocketUsers(), before + 1);
    }
    EXPECT_EQ(telvaro::platform::SocketUsers(), before);
}

TEST_F(ChannelTest, DataClockMeasuresSinceTheLastFrame) {
    TestChannel channel(&driver, 0, &sink);
    channel.TouchData();
    EXPECT_LT(channel.MillisecondsSinceData(), 50u);
    telvaro::platform::SleepMs(120);
    EXPECT_GE(channel.MillisecondsSinceData(), 115u);
    channel.TouchData();
    EXPECT_LT(channel.MillisecondsSinceData(), 50u);
}

// A driver whose debug sink blocks until released, as a host's sink that
// waits for a lock the host holds while it stops the channel.
class BlockingDriver : public fakes::FakeDriver {
public:
    void DebugMessage(telvaro::DebugMessageType type, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        std::string text = telvaro::FormatTextV(format, args);
        va_end(args);
        entered = true;
        release.Wait(telvaro::kWaitForever);
        FakeDriver::DebugMessage(type, "%s", text.c_str());
    }
    std::atomic<bool> entered{false};
    telvaro::CManualEvent release;
};

TEST(ChannelReports, StopDoesNotWaitForAHostSinkThatIsBusy) {
    BlockingDriver driver;
    telvaro::DEVICE_INFO info;
    info.address = "10.0.0.5";
    info.timeout = 200;
    driver.SetDeviceInfo(info);
    fakes::FakeStreamSink sink;
    TestChannel channel(&driver, 0, &sink);
    ASSERT_TRUE(channel.Start(Params(40, 50, 640, 480)));
    // A frame-delivering thread reports the camera online; the host's sink
    // does not return.
    auto reporter = telvaro::platform::NativeThread::Start([&] { channel.SetCameraState(true); }, "reporter");
    ASSERT_TRUE(fakes::WaitUntil([&] { return driver.entered.load(); }, 2000));
    auto start = Clock::now();
    channel.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    driver.release.Set();
    ASSERT_TRUE(reporter->Join(2000));
    auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].text.find("is online"), std::string::npos);
    EXPECT_NE(messages[1].text.find("is offline. Channel was stopped"), std::string::npos);
}

// Threads racing online and offline reports: every change is reported
// exactly once, so the reports alternate and end with the final state.
TEST_F(ChannelTest, RacingStateReportsAlternate) {
    TestChannel channel(&driver, 0, &sink);
    channel.SetState(telvaro::kStateSignalLost);
    std::vector<std::shared_ptr<telvaro::platform::NativeThread>> threads;
    for (int t = 0; t < 6; ++t) {
        threads.push_back(telvaro::platform::NativeThread::Start([&channel, t] {
            std::mt19937 rng(static_cast<unsigned>(t));
            for (int i = 0; i < 3000; ++i) channel.SetCameraState(rng() % 2 == 0);
        }, "racer"));
    }
    for (auto& th : threads) ASSERT_TRUE(th->Join(30000));
    auto messages = driver.Messages();
    ASSERT_FALSE(messages.empty());
    for (size_t i = 0; i < messages.size(); ++i) {
        bool online = messages[i].text.find("is online") != std::string::npos;
        EXPECT_EQ(online, i % 2 == 0) << "report " << i << ": " << messages[i].text;
    }
    bool lastOnline = messages.back().text.find("is online") != std::string::npos;
    EXPECT_EQ(lastOnline, channel.IsOnline());
}

}  // namespace
