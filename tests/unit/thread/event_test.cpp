#include "thread/event.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/native_event.h"
#include "platform/native_thread.h"

namespace {

using Clock = std::chrono::steady_clock;
using telvaro::platform::NativeEvent;
using telvaro::platform::NativeThread;

TEST(Event, ManualEventStaysSetUntilReset) {
    telvaro::CManualEvent e;
    EXPECT_FALSE(e.Wait(0));
    EXPECT_TRUE(e.Set());
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(10));
    EXPECT_TRUE(e.Reset());
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, AutoResetEventReleasesOneWait) {
    NativeEvent e(false, false);
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, WaitTimesOutAfterItsBound) {
    telvaro::CEvent e;
    auto start = Clock::now();
    EXPECT_FALSE(e.Wait(120));
    auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(115));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST(Event, SetFromAnotherThreadWakesTheWaiter) {
    telvaro::CEvent e;
    auto setter = NativeThread::Start([&] {
        telvaro::platform::SleepMs(50);
        e.Set();
    }, "setter");
    auto start = Clock::now();
    EXPECT_TRUE(e.Wait(5000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    setter->Join(telvaro::platform::kInfinite);
}

TEST(Event, WaitAnyNamesTheEventThatEndedTheWait) {
    telvaro::CEvent a;
    telvaro::CEvent b;
    telvaro::CEvent* pair[2] = {&a, &b};
    EXPECT_EQ(telvaro::WaitAny(pair, 20), -1);
    b.Set();
    EXPECT_EQ(telvaro::WaitAny(pair, 20), 1);
    a.Set();
    EXPECT_EQ(telvaro::WaitAny(pair, 20), 0);  // the first wins when both are set
    a.Reset();
    b.Reset();
    auto setter = NativeThread::Start([&] {
        telvaro::platform::SleepMs(30);
        b.Set();
    }, "setter");
    EXPECT_EQ(telvaro::WaitAny(pair, 5000), 1);
    setter->Join(telvaro::platform::kInfinite);
    EXPECT_EQ(telvaro::WaitAny(nullptr, 10), -1);
}

}  // namespace
