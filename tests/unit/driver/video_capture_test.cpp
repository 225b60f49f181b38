#include "driver/video_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "channel/base_camera_channel.h"
#include "support/fake_driver.h"
#include "support/fake_host.h"

namespace {

using telvaro::CHANNEL_PARAMS;
using telvaro::ICameraChannel;

struct Journal {
    std::mutex mu;
    std::vector<std::string> lines;
    void Add(const std::string& line) {
        std::lock_guard<std::mutex> lock(mu);
        lines.push_back(line);
    }
};

class RecordingChannel : public ICameraChannel {
public:
    RecordingChannel(Journal* journal, uint32_t index, int serial)
        : journal_(journal), name_("channel " + std::to_string(index) + "#" + std::to_string(serial)) {
        journal_->Add("create " + name_);
    }
    ~RecordingChannel() override { journal_->Add("destroy " + name_); }
    bool Start(const CHANNEL_PARAMS& p) override {
        params = p;
        journal_->Add("start " + name_ + " " + std::to_string(p.frameInterval) + "/" + std::to_string(p.quality) +
                      "/" + std::to_string(p.width) + "x" + std::to_string(p.height));
        return startResult;
    }
    void Stop() override {
        state = telvaro::kStateStopped;
        journal_->Add("stop " + name_);
    }
    bool Restart(const CHANNEL_PARAMS& p) override {
        journal_->Add("restart " + name_ + " " + std::to_string(p.frameInterval) + "/" + std::to_string(p.quality) +
                      "/" + std::to_string(p.width) + "x" + std::to_string(p.height));
        return true;
    }
    telvaro::ChannelState GetState() override { return state; }
    void SetState(telvaro::ChannelState s) override { state = s; }

    CHANNEL_PARAMS params;
    telvaro::ChannelState state = telvaro::kStateStopped;
    bool startResult = true;

private:
    Journal* journal_;
    std::string name_;
};

class Factory : public telvaro::ICustomCreator {
public:
    explicit Factory(Journal* journal) : journal_(journal) {}
    ICameraChannel* CreateChannel(uint32_t channel, telvaro::ipcapture::IStreamSink*) override {
        if (refuse) return nullptr;
        last = new RecordingChannel(journal_, channel, ++serial_);
        last->startResult = startResult;
        return last;
    }
    bool refuse = false;
    bool startResult = true;
    RecordingChannel* last = nullptr;

private:
    Journal* journal_;
    int serial_ = 0;
};

class VideoCaptureTest : public ::testing::Test {
protected:
    VideoCaptureTest() : factory(&journal), capture(4, &factory) {}
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(journal.mu);
        return journal.lines;
    }
    Journal journal;
    Factory factory;
    fakes::FakeStreamSink sink;
    fakes::FakeStreamConfig config{1280, 720, 40, 75};
    telvaro::CIPVideoCapture capture;
};

TEST_F(VideoCaptureTest, StartBuildsTheParametersFromTheHostSettings) {
    EXPECT_EQ(capture.GetChannelCount(), 4u);
    ASSERT_TRUE(capture.StartChannel(1, &sink, &config));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"create channel 1#1", "start channel 1#1 40/75/1280x720"}));
    EXPECT_EQ(config.reservedCalls, 0);
}

TEST_F(VideoCaptureTest, SecondStartDestroysTheFirstChannelBeforeMakingTheNext) {
    ASSERT_TRUE(capture.StartChannel(2, &sink, &config));
    ASSERT_TRUE(capture.StartChannel(2, &sink, &config));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"create channel 2#1", "start channel 2#1 40/75/1280x720",
                                                 "stop channel 2#1", "destroy channel 2#1", "create channel 2#2",
                                                 "start channel 2#2 40/75/1280x720"}));
}

TEST_F(VideoCaptureTest, IndexesOutOfRangeAndEmptyPlacesFail) {
    uint32_t state = 99, error = 99;
    char text[8] = "junk";
    EXPECT_FALSE(capture.StartChannel(4, &sink, &config));
    EXPECT_FALSE(capture.StopChannel(4));
    EXPECT_FALSE(capture.StopChannel(0));
    fakes::FakeImageSize size(320, 240);
    EXPECT_FALSE(capture.ChangeChannel(0, &size, 100));
    EXPECT_FALSE(capture.ChangeChannel(7, &size, 100));
    EXPECT_FALSE(capture.GetChannelStatus(4, &state, &error, text, sizeof(text)));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(text[0], '\0');
    error = 5;
    text[0] = 'x';
    EXPECT_FALSE(capture.GetChannelStatus(0, &state, &error, text, sizeof(text)));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(state, 99u);
    EXPECT_TRUE(Lines().empty());
}

TEST_F(VideoCaptureTest, StatusReportsStoppedAsSignalLost) {
    ASSERT_TRUE(capture.StartChannel(0, &sink, &config));
    struct Case {
        telvaro::ChannelState code;
        uint32_t reported;
    } cases[] = {{telvaro::kStateStopped, 2}, {telvaro::kStateSignalLost, 2}, {telvaro::kStateStreaming, 0}};
    for (const auto& c : cases) {
        factory.last->SetState(c.code);
        uint32_t state = 99, error = 7;
        EXPECT_TRUE(capture.GetChannelStatus(0, &state, &error, nullptr, 0));
        EXPECT_EQ(state, c.reported);
        EXPECT_EQ(error, 0u);
    }
}

TEST_F(VideoCaptureTest, ChangeRestartsWithQualityZero) {
    ASSERT_TRUE(capture.StartChannel(3, &sink, &config));
    fakes::FakeImageSize size(320, 240);
    EXPECT_TRUE(capture.ChangeChannel(3, &size, 200));
    EXPECT_EQ(Lines().back(), "restart channel 3#1 200/0/320x240");
}

TEST_F(VideoCaptureTest, AChannelThatFailsToStartStaysInItsPlace) {
    factory.startResult = false;
    EXPECT_FALSE(capture.StartChannel(0, &sink, &config));
    uint32_t state = 0, error = 0;
    EXPECT_TRUE(capture.GetChannelStatus(0, &state, &error, nullptr, 0));
    EXPECT_TRUE(capture.StopChannel(0));
    factory.refuse = true;
    EXPECT_FALSE(capture.StartChannel(0, &sink, &config));
    EXPECT_FALSE(capture.StopChannel(0));
}

TEST_F(VideoCaptureTest, ReservedOperationsAnswerAsFixed) {
    EXPECT_EQ(capture.GetReservedValue(), 0);
    EXPECT_FALSE(capture.ReservedOperationA(1, 2, 3));
    EXPECT_FALSE(capture.ReservedOperationB(1, 2, 3));
    EXPECT_FALSE(capture.ReservedOperationC(1));
    EXPECT_FALSE(capture.ReservedOperationD(1));
}

// A channel thread that never reaches a point where a forced stop can act
// (here: it spins) cannot be ended; the channel must then outlive it.
class SpinningChannel : public telvaro::CBaseCameraChannel {
public:
    SpinningChannel(telvaro::IDriver* driver, std::atomic<int>* destroyed)
        : CBaseCameraChannel(driver, 0, nullptr), destroyed_(destroyed) {}
    ~SpinningChannel() override {
        Stop();
        ++*destroyed_;
    }
    int32_t Run() override {
        while (!release) std::this_thread::yield();
        ++exited;  // touches the channel after the stop gave up on it
        return 0;
    }
    std::atomic<bool> release{false};
    std::atomic<int> exited{0};

private:
    std::atomic<int>* destroyed_;
};

class SpinningFactory : public telvaro::ICustomCreator {
public:
    explicit SpinningFactory(telvaro::IDriver* driver) : driver_(driver) {}
    ICameraChannel* CreateChannel(uint32_t, telvaro::ipcapture::IStreamSink*) override {
        last = new SpinningChannel(driver_, &destroyed);
        return last;
    }
    SpinningChannel* last = nullptr;
    std::atomic<int> destroyed{0};

private:
    telvaro::IDriver* driver_;
};

TEST(VideoCaptureLifetime, AChannelWhoseThreadCannotBeEndedIsKeptNotFreed) {
    fakes::FakeDriver driver;
    telvaro::DEVICE_INFO info;
    info.timeout = 100;
    driver.SetDeviceInfo(info);
    SpinningFactory factory(&driver);
    fakes::FakeStreamSink sink;
    fakes::FakeStreamConfig config;
    telvaro::CIPVideoCapture capture(1, &factory);
    ASSERT_TRUE(capture.StartChannel(0, &sink, &config));
    SpinningChannel* channel = factory.last;
    EXPECT_TRUE(capture.StopChannel(0));
    EXPECT_TRUE(channel->ThreadAbandoned());
    EXPECT_EQ(factory.destroyed.load(), 0);
    EXPECT_FALSE(channel->Start(telvaro::CHANNEL_PARAMS()));  // never a second thread beside it
    channel->release = true;
    for (int i = 0; i < 500 && channel->exited == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(channel->exited.load(), 1);
    EXPECT_EQ(factory.destroyed.load(), 0);
}

TEST(VideoCaptureLifetime, DestructionStopsEveryChannel) {
    Journal journal;
    Factory factory(&journal);
    fakes::FakeStreamSink sink;
    fakes::FakeStreamConfig config;
    {
        telvaro::CIPVideoCapture capture(3, &factory);
        ASSERT_TRUE(capture.StartChannel(0, &sink, &config));
        ASSERT_TRUE(capture.StartChannel(2, &sink, &config));
    }
    std::lock_guard<std::mutex> lock(journal.mu);
    std::vector<std::string> tail(journal.lines.end() - 4, journal.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"stop channel 0#1", "destroy channel 0#1", "stop channel 2#2",
                                              "destroy channel 2#2"}));
}

}  // namespace
