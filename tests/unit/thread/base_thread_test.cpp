#include "thread/base_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/native_thread.h"
#include "support/wait_until.h"
#include "support/sanitizers.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Stop of a thread that does not end on its own: it returns after the join
// bound and the grace of the forced stop, not sooner and not much later.
void ExpectStopAfterTheBound(telvaro::CBaseThread& t) {
    const auto start = Clock::now();
    EXPECT_TRUE(t.Stop());
    const long long took = MsSince(start);
    EXPECT_GE(took, 1900);
    EXPECT_LE(took, 4000);
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
    SKIP_FORCED_STOP_UNDER_TSAN();
    StubbornThread t;
    ASSERT_TRUE(t.Start());
    while (!t.started) telvaro::platform::SleepMs(1);
    ExpectStopAfterTheBound(t);
    EXPECT_FALSE(t.IsRunning());
    // The object can run a new thread afterwards.
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.Stop());
}

// A body blocked outside every platform call, as in a host callback: not
// even a forced stop reaches it.
class BlockedThread : public telvaro::CBaseThread {
public:
    ~BlockedThread() override { Stop(); }
    void Run() override {
        std::unique_lock<std::mutex> lock(mu);
        started = true;
        cv.notify_all();
        cv.wait(lock, [this] { return released; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mu);
        released = true;
        cv.notify_all();
    }
    std::mutex mu;
    std::condition_variable cv;
    bool started = false;
    bool released = false;
};

TEST(BaseThread, AThreadThatCannotBeEndedIsAbandonedUntilItEnds) {
    BlockedThread t;
    ASSERT_TRUE(t.Start());
    {
        std::unique_lock<std::mutex> lock(t.mu);
        t.cv.wait(lock, [&] { return t.started; });
    }
    ExpectStopAfterTheBound(t);
    EXPECT_TRUE(t.Abandoned());
#if defined(_WIN32)
    // Windows ends it with TerminateThread: gone without unwinding, so
    // whatever it used stays kept, but the object may run a new thread.
    EXPECT_FALSE(t.IsRunning());
    EXPECT_TRUE(t.Stop());
    EXPECT_FALSE(t.Abandoned());
    return;
#endif
    EXPECT_TRUE(t.IsRunning());
    EXPECT_FALSE(t.Start());
    // A second Stop does not wait again for a thread given up on.
    const auto start = Clock::now();
    EXPECT_TRUE(t.Stop());
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(t.Abandoned());

    t.Release();
    EXPECT_TRUE(fakes::WaitUntil([&] { return !t.IsRunning(); }));
    EXPECT_TRUE(t.Stop());
    EXPECT_FALSE(t.Abandoned());
    EXPECT_FALSE(t.IsRunning());
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
    // A busy machine may start the body late; a stop that leaked would end it.
    EXPECT_TRUE(fakes::WaitUntil([&] { return t.runs == 2; }, 5000));
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
