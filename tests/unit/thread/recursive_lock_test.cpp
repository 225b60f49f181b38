#include "thread/recursive_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/native_thread.h"

namespace {

using telvaro::CLockScope;
using telvaro::CRecursiveLock;
using telvaro::platform::kInfinite;
using telvaro::platform::NativeThread;

bool TryFromAnotherThread(CRecursiveLock& lock) {
    std::atomic<bool> got{false};
    NativeThread::Start([&] {
        if (lock.TryEnter()) {
            got = true;
            lock.Leave();
        }
    }, "probe")->Join(kInfinite);
    return got;
}

TEST(RecursiveLock, OwnerMustLeaveAsOftenAsItEntered) {
    CRecursiveLock lock;
    lock.Enter();
    EXPECT_TRUE(lock.TryEnter());
    lock.Enter();
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Leave();
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Leave();
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Leave();
    EXPECT_TRUE(TryFromAnotherThread(lock));
}

TEST(RecursiveLock, SpinCountFollowsTheProcessorCount) {
    CRecursiveLock lock;
    EXPECT_EQ(lock.GetSpinCount(), telvaro::platform::ProcessorCount() > 1 ? 4000u : 0u);
}

TEST(RecursiveLock, WaitersAreHandedTheLockWhenTheOwnerLeaves) {
    CRecursiveLock lock;
    lock.Enter();
    std::atomic<int> inside{0};
    auto waiter = NativeThread::Start([&] {
        CLockScope scope(lock);
        ++inside;
    }, "waiter");
    telvaro::platform::SleepMs(50);
    EXPECT_EQ(inside, 0);
    lock.Leave();
    ASSERT_TRUE(waiter->Join(2000));
    EXPECT_EQ(inside, 1);
}

TEST(RecursiveLock, ContendedUpdatesAreNeverLost) {
    CRecursiveLock lock;
    long counter = 0;  // plain on purpose: only the lock protects it
    const int threads = 6;
    const int rounds = 20000;
    std::vector<std::shared_ptr<NativeThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.push_back(NativeThread::Start([&] {
            for (int i = 0; i < rounds; ++i) {
                CLockScope outer(lock);
                CLockScope inner(lock);  // recursion under contention
                ++counter;
                if (i % 1000 == 0) telvaro::platform::YieldThread();
            }
        }, "contender"));
    }
    for (auto& w : workers) ASSERT_TRUE(w->Join(60000));
    EXPECT_EQ(counter, static_cast<long>(threads) * rounds);
}

}  // namespace
