#include "platform/native_thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/monotonic_deadline.h"
#include "platform/native_thread_start.h"
#include "platform/thread_cancel.h"

namespace telvaro {
namespace platform {

namespace {

class MutexGuard {
public:
    explicit MutexGuard(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
    ~MutexGuard() { pthread_mutex_unlock(m_); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    pthread_mutex_t* m_;
};

}  // namespace

struct NativeThread::State {
    explicit State(ThreadStart s) : start(std::move(s)) {
        pthread_mutex_init(&mutex, nullptr);
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&ended, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~State() {
        pthread_cond_destroy(&ended);
        pthread_mutex_destroy(&mutex);
    }

    pthread_mutex_t mutex;
    pthread_cond_t ended;
    bool hasEnded = false;  // guarded by mutex
    bool released = false;  // guarded by mutex; the body waits for it
    bool reaped = false;    // joined or detached; touched only by the handle's owner
    pthread_t thread{};
    ThreadStart start;
};

namespace {

struct EndMark {
    explicit EndMark(NativeThread::State* s) : state(s) {}
    ~EndMark() {
        MutexGuard guard(&state->mutex);
        state->hasEnded = true;
        pthread_cond_broadcast(&state->ended);
    }
    NativeThread::State* state;
};

void* ThreadEntry(void* arg) {
    auto* holder = static_cast<std::shared_ptr<NativeThread::State>*>(arg);
    std::shared_ptr<NativeThread::State> state = *holder;
    delete holder;

    // Forced stops act only inside platform blocking calls.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    {
        // Start finishes its bookkeeping (and the owner's handle) first.
        MutexGuard guard(&state->mutex);
        while (!state->released) pthread_cond_wait(&state->ended, &state->mutex);
    }
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, nullptr);
    AdoptThreadId(state->start.id);
    if (!state->start.name.empty()) {
        pthread_setname_np(pthread_self(), state->start.name.substr(0, 15).c_str());
    }
    if (state->start.aboveNormal) {
        // Linux keeps the nice value per thread; lowering it needs privilege,
        // so a refusal just leaves the normal priority.
        errno = 0;
        int current = getpriority(PRIO_PROCESS, 0);
        if (errno == 0) setpriority(PRIO_PROCESS, 0, current - 1);
    }

    EndMark mark(state.get());
    try {
        std::function<void()> body = std::move(state->start.body);
        body();
    } catch (...) {
        SwallowUnlessCancelled();
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<NativeThread> NativeThread::Start(std::function<void()> body, const std::string& name,
                                                  bool aboveNormal, std::shared_ptr<NativeThread>* publish) {
    auto state = std::make_shared<State>(ThreadStart(std::move(body), name, aboveNormal));
    std::shared_ptr<NativeThread> handle(new NativeThread(state));
    // Not yet a thread: the handle must not join or detach anything if the
    // creation below fails.
    state->reaped = true;
    if (publish) *publish = handle;
    auto* holder = new std::shared_ptr<State>(state);
    if (pthread_create(&state->thread, nullptr, &ThreadEntry, holder) != 0) {
        delete holder;
        if (publish) publish->reset();
        return nullptr;
    }
    state->reaped = false;
    MutexGuard guard(&state->mutex);
    state->released = true;
    pthread_cond_broadcast(&state->ended);
    return handle;
}

NativeThread::NativeThread(std::shared_ptr<State> state) : state_(std::move(state)) {}

NativeThread::~NativeThread() {
    if (state_->reaped) return;
    if (HasEnded()) {
        pthread_join(state_->thread, nullptr);
    } else {
        pthread_detach(state_->thread);
    }
    state_->reaped = true;
}

bool NativeThread::HasEnded() const {
    MutexGuard guard(&state_->mutex);
    return state_->hasEnded;
}

bool NativeThread::IsCurrent() const { return pthread_equal(pthread_self(), state_->thread) != 0; }

bool NativeThread::Join(uint32_t timeoutMs, bool cancellable) {
    if (state_->reaped) return true;
    if (IsCurrent()) return false;
    {
        std::optional<CancelWindow> window;
        if (cancellable) window.emplace();
        MutexGuard guard(&state_->mutex);
        if (timeoutMs == kInfinite) {
            while (!state_->hasEnded) pthread_cond_wait(&state_->ended, &state_->mutex);
        } else {
            timespec deadline = MonotonicDeadline(timeoutMs);
            while (!state_->hasEnded) {
                if (pthread_cond_timedwait(&state_->ended, &state_->mutex, &deadline) == ETIMEDOUT) break;
            }
        }
        if (!state_->hasEnded) return false;
    }
    pthread_join(state_->thread, nullptr);
    state_->reaped = true;
    return true;
}

bool NativeThread::Terminate(uint32_t graceMs) {
    if (state_->reaped || IsCurrent()) return state_->reaped;
    if (!HasEnded()) pthread_cancel(state_->thread);
    if (Join(graceMs)) return true;
    // Never reached a blocking call: leave it running on its own.
    pthread_detach(state_->thread);
    state_->reaped = true;
    return false;
}

void SleepMs(uint32_t ms) {
    CancelWindow window;
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

bool ShortSleepsHonoured() { return true; }

void YieldThread() { sched_yield(); }

uint32_t ProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<uint32_t>(n) : 1u;
}

}  // namespace platform
}  // namespace telvaro
