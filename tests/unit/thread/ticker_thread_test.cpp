#include "thread/ticker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/native_thread.h"
#include "support/wait_until.h"

namespace {

class Ticker : public telvaro::thread::CTickerThread {
public:
    explicit Ticker(uint32_t period) { SetPeriod(period); }
    ~Ticker() override { Stop(); }
    void OnTick() override { ++ticks; }
    std::atomic<int> ticks{0};
};

class OneShot : public telvaro::thread::CSimpleThread {
public:
    ~OneShot() override { Stop(); }
    void Run() override { ran = true; }
    std::atomic<bool> ran{false};
};

TEST(TickerThread, TicksEveryPeriodUntilStopped) {
    // A busy machine may start the thread late or skip a tick, never add
    // one: the ticks come, and never more than the time allows.
    Ticker t(20);
    EXPECT_EQ(Ticker(20).GetPeriod(), 20u);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(t.Start("ticker"));
    ASSERT_TRUE(fakes::WaitUntil([&] { return t.ticks >= 5; }, 5000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(t.Stop());
    const auto end = std::chrono::steady_clock::now();
    EXPECT_LT(end - start, std::chrono::milliseconds(500));
    const int ticks = t.ticks;
    EXPECT_LE(ticks, std::chrono::duration_cast<std::chrono::milliseconds>(end - begin).count() / 20 + 1);
    telvaro::platform::SleepMs(60);
    EXPECT_EQ(t.ticks, ticks);
}

TEST(TickerThread, DefaultPeriodIsTwoSecondsAndStopWithoutThreadSucceeds) {
    class Plain : public telvaro::thread::CTickerThread {
    public:
        void OnTick() override {}
    } plain;
    EXPECT_EQ(plain.GetPeriod(), 2000u);
    EXPECT_TRUE(plain.Stop());
}

TEST(TickerThread, RestartsAfterStop) {
    Ticker t(10);
    ASSERT_TRUE(t.Start("ticker"));
    EXPECT_FALSE(t.Start("ticker"));
    EXPECT_TRUE(t.Stop());
    int before = t.ticks;
    ASSERT_TRUE(t.Start("ticker"));
    telvaro::platform::SleepMs(100);
    EXPECT_TRUE(t.Stop());
    EXPECT_GT(t.ticks, before);
}

TEST(SimpleThread, StartFailsWhileAnEndedThreadIsNotStopped) {
    OneShot t;
    ASSERT_TRUE(t.Start("once"));
    while (!t.ran) telvaro::platform::SleepMs(1);
    telvaro::platform::SleepMs(20);
    EXPECT_FALSE(t.Start("again"));
    EXPECT_TRUE(t.Stop());
    EXPECT_TRUE(t.Start("again"));
    EXPECT_EQ(t.GetName(), "again");
    EXPECT_TRUE(t.Stop());
}

}  // namespace
