#include "support/abort_run.h"

#include <chrono>
#include <thread>

#include "support/wait_until.h"

namespace fakes {

AbortOutcome RunAndAbort(const std::function<bool()>& exchange, std::atomic<bool>& flag,
                         const std::function<bool()>& waiting, int settleMs) {
    using Clock = std::chrono::steady_clock;
    AbortOutcome outcome;
    std::atomic<bool> ended{false};
    Clock::time_point returned;
    std::thread worker([&] {
        outcome.result = exchange();
        returned = Clock::now();
        ended = true;
    });
    WaitUntil(waiting, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    outcome.runningAtAbort = !ended;
    Clock::time_point set = Clock::now();
    flag = true;
    worker.join();
    outcome.msAfterAbort = std::chrono::duration_cast<std::chrono::milliseconds>(returned - set).count();
    return outcome;
}

}  // namespace fakes
