#include "thread/base_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/native_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A body that never looks at its stop event.
class StubbornThread : public telvaro::CBaseThread {
public:
    ~StubbornThread() override { Stop(); }
    void Run() override {
        started = true;
        for (;;) telvaro::platform::SleepMs(20);
    }
    std::atomic<bool> started{false};
};

class PoliteThread : public telvaro::CBaseThread {
public:
    ~PoliteThread() override { Stop(); }
    void Run() override {
        ++runs;
        if (stopSelf) selfStopResult = Stop() ? 1 : 0;
        stopEvent_.Wait(telvaro::kWaitForever);
    }
    std::atomic<int> runs{0};
    std::atomic<bool> stopSelf{false};
    std::atomic<int> selfStopResult{-1};
};

TEST(BaseThread, StopEndsAStubbornThreadAfterTheBound) {
    StubbornThread t;
    ASSERT_TRUE(t.Start());
    while (!t.started) telvaro::platform::SleepMs(1);
    auto start = Clock::now();
    EXPECT_TRUE(t.Stop());
    long long took = MsSince(start);
    EXPECT_GE(took, 1900);
    EXPECT_LE(took, 3500);
    EXPECT_FALSE(t.IsRunning());
    // The object can run a new thread afterwards.
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.Stop());
}

TEST(BaseThread, StopFromInsideRunKeepsTheHandleAndALaterStopWorks) {
    PoliteThread t;
    t.stopSelf = true;
    ASSERT_TRUE(t.Start());
    while (t.selfStopResult == -1) telvaro::platform::SleepMs(1);
    EXPECT_EQ(t.selfStopResult, 0);
    // The self-stop set the event, so the body returns; the handle is still held.
    auto start = Clock::now();
    EXPECT_TRUE(t.Stop());
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(t.IsRunning());
}

TEST(BaseThread, StartWhileRunningFailsAndEachStartResetsTheStopEvent) {
    PoliteThread t;
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.Start());
    EXPECT_TRUE(t.Stop());
    // A stop request from the previous run does not leak into the next.
    ASSERT_TRUE(t.Start());
    telvaro::platform::SleepMs(50);
    EXPECT_TRUE(t.IsRunning());
    EXPECT_EQ(t.runs, 2);
    EXPECT_TRUE(t.Stop());
}

TEST(BaseThread, StopWithoutThreadSucceeds) {
    PoliteThread t;
    EXPECT_TRUE(t.Stop());
    EXPECT_FALSE(t.IsRunning());
}

}  // namespace
