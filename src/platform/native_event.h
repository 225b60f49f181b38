// Kernel-style events: manual or auto reset, timed waits, and a wait on
// either of two events.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace telvaro {
namespace platform {

class NativeEvent {
public:
    struct Waiter;

    NativeEvent(bool manualReset, bool initiallySet);
    ~NativeEvent();
    NativeEvent(const NativeEvent&) = delete;
    NativeEvent& operator=(const NativeEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event was (or became) signalled within timeoutMs
    // (kInfinite: no bound). An auto-reset event is consumed by the wait.
    // A cancellable wait is a place where a forced thread stop may act.
    bool Wait(uint32_t timeoutMs, bool cancellable = true);
    // Index (0 or 1) of the event that ended the wait, -1 on time-out.
    static int WaitAny(NativeEvent* first, NativeEvent* second, uint32_t timeoutMs, bool cancellable = true);

private:
    const bool manual_;
#if defined(_WIN32)
    void* handle_;  // the kernel event
#else
    bool TryConsumeLocked();

    std::atomic<bool> signalled_;
    std::vector<Waiter*> waiters_;  // guarded by the process-wide event mutex
#endif
};

}  // namespace platform
}  // namespace telvaro
