#include "platform/native_event.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/native_thread.h"
#include "platform/monotonic_deadline.h"
#include "platform/thread_cancel.h"

namespace telvaro {
namespace platform {

namespace {

// One mutex guards the state of every event; each waiting thread has its own
// condition, so a Set wakes only the threads that wait on that event.
pthread_mutex_t g_eventMutex = PTHREAD_MUTEX_INITIALIZER;

class EventLock {
public:
    EventLock() { pthread_mutex_lock(&g_eventMutex); }
    ~EventLock() { pthread_mutex_unlock(&g_eventMutex); }
    EventLock(const EventLock&) = delete;
    EventLock& operator=(const EventLock&) = delete;
};

}  // namespace

struct NativeEvent::Waiter {
    Waiter() {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&cond, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~Waiter() { pthread_cond_destroy(&cond); }
    pthread_cond_t cond;
};

namespace {

// Registers a waiter with up to two events for the length of a wait, and
// takes it out again on every exit, a forced stop included.
class Registration {
public:
    Registration(NativeEvent::Waiter* waiter, std::vector<NativeEvent::Waiter*>* a,
                 std::vector<NativeEvent::Waiter*>* b)
        : waiter_(waiter), a_(a), b_(b) {
        a_->push_back(waiter_);
        if (b_) b_->push_back(waiter_);
    }
    ~Registration() {
        Remove(a_);
        if (b_) Remove(b_);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    void Remove(std::vector<NativeEvent::Waiter*>* list) {
        auto it = std::find(list->begin(), list->end(), waiter_);
        if (it != list->end()) list->erase(it);
    }
    NativeEvent::Waiter* waiter_;
    std::vector<NativeEvent::Waiter*>* a_;
    std::vector<NativeEvent::Waiter*>* b_;
};

// Returns false on time-out.
bool WaitOnce(NativeEvent::Waiter* waiter, bool bounded, const timespec& deadline) {
    if (!bounded) {
        pthread_cond_wait(&waiter->cond, &g_eventMutex);
        return true;
    }
    return pthread_cond_timedwait(&waiter->cond, &g_eventMutex, &deadline) != ETIMEDOUT;
}

}  // namespace

NativeEvent::NativeEvent(bool manualReset, bool initiallySet) : manual_(manualReset), signalled_(initiallySet) {}

NativeEvent::~NativeEvent() = default;

void NativeEvent::Set() {
    // A set manual event stays set until reset: nothing to wake.
    if (manual_ && signalled_.load(std::memory_order_acquire)) return;
    EventLock lock;
    signalled_.store(true, std::memory_order_release);
    for (Waiter* w : waiters_) pthread_cond_signal(&w->cond);
}

void NativeEvent::Reset() {
    EventLock lock;
    signalled_.store(false, std::memory_order_release);
}

bool NativeEvent::IsSet() const { return signalled_.load(std::memory_order_acquire); }

bool NativeEvent::TryConsumeLocked() {
    if (!signalled_.load(std::memory_order_relaxed)) return false;
    if (!manual_) signalled_.store(false, std::memory_order_relaxed);
    return true;
}

bool NativeEvent::Wait(uint32_t timeoutMs, bool cancellable) {
    return WaitAny(this, nullptr, timeoutMs, cancellable) == 0;
}

int NativeEvent::WaitAny(NativeEvent* first, NativeEvent* second, uint32_t timeoutMs, bool cancellable) {
    if (!first) return -1;
    const bool bounded = timeoutMs != kInfinite;
    const timespec deadline = bounded ? MonotonicDeadline(timeoutMs) : timespec{};
    std::optional<CancelWindow> window;
    if (cancellable) window.emplace();
    EventLock lock;
    if (first->TryConsumeLocked()) return 0;
    if (second && second->TryConsumeLocked()) return 1;
    if (timeoutMs == 0) return -1;
    Waiter waiter;
    Registration registration(&waiter, &first->waiters_, second ? &second->waiters_ : nullptr);
    for (;;) {
        bool woke = WaitOnce(&waiter, bounded, deadline);
        if (first->TryConsumeLocked()) return 0;
        if (second && second->TryConsumeLocked()) return 1;
        if (!woke) return -1;
    }
}

}  // namespace platform
}  // namespace telvaro
