// Events, threads and clocks as every backend gives them (pthreads and our
// own events; Kernel32).
#include "platform/native_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "platform/clock.h"
#include "platform/native_event.h"
#include "support/sanitizers.h"

namespace {

using namespace telvaro::platform;

int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST(NativeEvent, ResetModeDecidesWhatAWaitLeaves) {
    struct Case {
        bool manual, initiallySet;
        bool first, second;  // Wait(0) twice after construction
    } cases[] = {{true, true, true, true}, {true, false, false, false}, {false, true, true, false},
                 {false, false, false, false}};
    for (const Case& c : cases) {
        NativeEvent e(c.manual, c.initiallySet);
        EXPECT_EQ(e.Wait(0), c.first) << c.manual << c.initiallySet;
        EXPECT_EQ(e.Wait(0), c.second) << c.manual << c.initiallySet;
        e.Set();
        EXPECT_TRUE(e.IsSet());
        e.Reset();
        EXPECT_FALSE(e.Wait(0));
    }
}

TEST(NativeEvent, AWaitEndsOnASetFromAnotherThreadOrAfterItsBound) {
    NativeEvent a(false, false);
    NativeEvent b(true, false);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NativeEvent::WaitAny(&a, &b, 150), -1);
    EXPECT_GE(MsSince(start), 140);
    EXPECT_LT(MsSince(start), 1500);
    auto setter = NativeThread::Start([&] { SleepMs(100); b.Set(); }, "setter");
    ASSERT_TRUE(setter);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(NativeEvent::WaitAny(&a, &b, 5000), 1);
    EXPECT_GE(MsSince(start), 80);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_TRUE(setter->Join(kInfinite));
    a.Set();
    EXPECT_EQ(NativeEvent::WaitAny(&a, &b, 0), 0);  // the first set one
    EXPECT_FALSE(a.IsSet());                         // consumed
}

TEST(NativeThread, RunsItsBodyAndIsJoinedWithinABound) {
    NativeEvent release(true, false);
    std::atomic<bool> current{false};
    std::shared_ptr<NativeThread> published;
    uint32_t bodyId = 0;
    auto thread = NativeThread::Start(
        [&] {
            current = published && published->IsCurrent();
            bodyId = CurrentThreadId();
            release.Wait(kInfinite);
        },
        "contract thread", true, &published);
    ASSERT_TRUE(thread);
    EXPECT_EQ(thread, published);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(thread->Join(100));
    EXPECT_GE(MsSince(start), 90);
    EXPECT_FALSE(thread->HasEnded());
    EXPECT_FALSE(thread->IsCurrent());
    release.Set();
    EXPECT_TRUE(thread->Join(5000));
    EXPECT_TRUE(thread->HasEnded());
    EXPECT_TRUE(current.load());
    EXPECT_NE(bodyId, 0u);
    EXPECT_NE(bodyId, CurrentThreadId());
}

TEST(NativeThread, TheLastResortEndsAThreadAtItsBlockingCall) {
    SKIP_FORCED_STOP_UNDER_TSAN();
    struct Case {
        const char* what;
        void (*block)(NativeEvent&);
    } cases[] = {
        {"an event wait", [](NativeEvent& never) { never.Wait(kInfinite); }},
        {"a sleep", [](NativeEvent&) { SleepMs(60000); }},
    };
    for (const Case& c : cases) {
        NativeEvent never(true, false);
        std::atomic<bool> blocked{false};
        std::atomic<bool> after{false};
        auto thread = NativeThread::Start(
            [&] {
                blocked = true;
                c.block(never);
                after = true;
            },
            "stuck");
        ASSERT_TRUE(thread);
        while (!blocked) YieldThread();
        SleepMs(20);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(thread->Terminate(2000)) << c.what;
        EXPECT_LT(MsSince(start), 2500) << c.what;
        EXPECT_TRUE(thread->HasEnded()) << c.what;
        EXPECT_FALSE(after.load()) << c.what;
    }
}

TEST(Clock, TheMonotonicClockCountsMillisecondsAndTheWallClockIsNow) {
    const uint64_t before = MonotonicMilliseconds();
    const uint64_t wallBefore = CurrentFileTime();
    SleepMs(200);
    const uint64_t elapsed = MonotonicMilliseconds() - before;
    EXPECT_GE(elapsed, 190u);
    EXPECT_LT(elapsed, 2000u);
    // FILETIME of 2020-01-01 and 2100-01-01.
    EXPECT_GT(wallBefore, 132223104000000000ull);
    EXPECT_LT(wallBefore, 157469184000000000ull);
    const uint64_t wallElapsed = CurrentFileTime() - wallBefore;
    EXPECT_GE(wallElapsed, 1900000u);  // 100 ns units
    EXPECT_LT(wallElapsed, 20000000u);
    EXPECT_GE(ProcessorCount(), 1u);
}

}  // namespace
