#include "thread/thread_owner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "support/sanitizers.h"
#include "support/wait_until.h"
#include "thread/event.h"

namespace {

using telvaro::thread::CThreadOwner;
using Result = CThreadOwner::StopResult;
using Clock = std::chrono::steady_clock;

enum class Body { Cooperative, Stubborn, Unreachable, StopsItself };

struct Case {
    const char* name;
    Body body;
    uint32_t boundMs;
    Result expected;
    int64_t minMs, maxMs;  // how long the stop from outside takes
};

// What a body works with; an abandoned body goes on using it.
struct Rig {
    telvaro::CManualEvent woken;
    std::mutex mu;
    std::condition_variable cv;
    bool released = false;
    std::atomic<bool> started{false};
    std::atomic<int> selfStop{-1};
    std::atomic<int> usesAfterRelease{0};
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class ThreadOwnerStop : public ::testing::TestWithParam<Case> {};

TEST_P(ThreadOwnerStop, EndsWithinTheRulesOrIsKept) {
    const Case& c = GetParam();
    if (c.body == Body::Stubborn) {
        SKIP_FORCED_STOP_UNDER_TSAN();
    }
    auto rig = std::make_shared<Rig>();
    Rig* r = rig.get();
    CThreadOwner owner([r] { r->woken.Set(); });
    CThreadOwner* self = &owner;
    ASSERT_TRUE(owner.Start(
        [r, self, body = c.body] {
            r->started = true;
            switch (body) {
                case Body::Cooperative: r->woken.Wait(telvaro::kWaitForever); break;
                case Body::Stubborn:
                    for (;;) telvaro::platform::SleepMs(20);
                case Body::Unreachable: {
                    // Blocked outside every platform call, as in a host callback.
                    std::unique_lock<std::mutex> lock(r->mu);
                    r->cv.wait(lock, [r] { return r->released; });
                    ++r->usesAfterRelease;
                    break;
                }
                case Body::StopsItself:
                    r->selfStop = static_cast<int>(self->Stop(2000));
                    r->woken.Wait(telvaro::kWaitForever);
                    break;
            }
        },
        "stop test"));
    const bool selfStop = c.body == Body::StopsItself;
    ASSERT_TRUE(fakes::WaitUntil([&] { return r->started.load() && (!selfStop || r->selfStop >= 0); }));
    if (selfStop) {
        EXPECT_EQ(r->selfStop, static_cast<int>(Result::OnItself)) << "nothing waited, the handle is kept";
    }

    auto start = Clock::now();
    EXPECT_EQ(owner.Stop(c.boundMs, 300), c.expected);
    EXPECT_GE(MsSince(start), c.minMs);
    EXPECT_LE(MsSince(start), c.maxMs);
    if (c.expected != Result::Abandoned) {
        EXPECT_FALSE(owner.HasThread());
        ASSERT_TRUE(owner.Start([] {}, "again"));
        EXPECT_EQ(owner.Stop(1000), Result::Ended);
        return;
    }
    EXPECT_TRUE(owner.Abandoned());
#if defined(_WIN32)
    // TerminateThread ended it without unwinding: a later stop finds it gone.
    EXPECT_EQ(owner.Stop(0), Result::Ended);
    return;
#endif
    EXPECT_TRUE(owner.IsRunning());
    EXPECT_FALSE(owner.Start([] {}, "beside it"));
    std::weak_ptr<Rig> kept = rig;
    CThreadOwner::KeepForever(std::move(rig));
    start = Clock::now();
    EXPECT_EQ(owner.Stop(2000), Result::Abandoned);
    EXPECT_LT(MsSince(start), 100) << "a later stop only looks";

    {
        std::lock_guard<std::mutex> lock(r->mu);
        r->released = true;
    }
    r->cv.notify_all();
    ASSERT_TRUE(fakes::WaitUntil([&] { return !owner.IsRunning(); }));
    ASSERT_FALSE(kept.expired());
    EXPECT_EQ(r->usesAfterRelease, 1);
    EXPECT_EQ(owner.Stop(0), Result::Ended);
    EXPECT_FALSE(owner.Abandoned());
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ThreadOwnerStop,
    ::testing::Values(Case{"Cooperative", Body::Cooperative, 2000, Result::Ended, 0, 1000},
                      Case{"Stubborn", Body::Stubborn, 200, Result::Forced, 190, 1500},
                      // The bound and the whole grace of the last resort.
                      Case{"Unreachable", Body::Unreachable, 200, Result::Abandoned, 480, 3000},
                      Case{"StopsItself", Body::StopsItself, 2000, Result::Ended, 0, 1000}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
