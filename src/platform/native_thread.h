// Native threads for the driver: start, bounded join and a last-resort stop.
//
// Driver threads run with cancellation disabled except inside the platform's
// own blocking calls (event waits, sleeps, socket waits and receives). A
// forced stop therefore lands only at such a call, and the stack unwinds
// through destructors, so locks held in scopes are released. Code that runs
// on driver threads and catches everything must let that unwinding pass:
// see SwallowUnlessCancelled in thread_cancel.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace telvaro {
namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class NativeThread {
public:
    struct State;

    // Starts body on a new thread named name (the OS sees at most 15
    // characters). aboveNormal asks for a higher scheduling priority, best
    // effort. Null when the thread cannot be created. When publish is given,
    // the handle is stored there before the body runs, so that the body can
    // find its own thread through its owner.
    static std::shared_ptr<NativeThread> Start(std::function<void()> body, const std::string& name,
                                               bool aboveNormal = false,
                                               std::shared_ptr<NativeThread>* publish = nullptr);

    ~NativeThread();
    NativeThread(const NativeThread&) = delete;
    NativeThread& operator=(const NativeThread&) = delete;

    // Waits up to timeoutMs (kInfinite: no bound) for the thread to end.
    // True when it has ended; it is then reaped. A cancellable join is a
    // place where a forced stop of the waiting thread may act.
    bool Join(uint32_t timeoutMs, bool cancellable = true);
    bool HasEnded() const;
    // True when called on this thread.
    bool IsCurrent() const;
    // Last resort: asks the thread to stop at its next blocking platform call
    // and waits up to graceMs for it. A thread that never reaches such a call
    // is abandoned (detached). True when the thread is gone.
    bool Terminate(uint32_t graceMs = 2000);

private:
    explicit NativeThread(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// A small non-zero number naming the calling thread, unique in the process.
uint32_t CurrentThreadId();
// Sleeps; a forced stop may land here.
void SleepMs(uint32_t ms);
// Whether SleepMs of a millisecond or two sleeps about that long (not a
// whole system clock tick of 15.6 ms).
bool ShortSleepsHonoured();
// Gives up the rest of the time slice.
void YieldThread();
uint32_t ProcessorCount();

}  // namespace platform
}  // namespace telvaro
