#include "platform/native_thread.h"

#include <process.h>
#include <windows.h>

#include <atomic>
#include <optional>

#include "platform/native_thread_start.h"
#include "platform/thread_cancel.h"
#include "platform/thread_cancel_win32.h"

namespace telvaro {
namespace platform {

namespace {

}  // namespace

struct NativeThread::State {
    explicit State(ThreadStart s) : stopRequest(CreateEventW(nullptr, TRUE, FALSE, nullptr)), start(std::move(s)) {}
    ~State() {
        if (stopRequest) CloseHandle(stopRequest);
    }

    // Set when the body has returned or unwound; the kernel handle tells
    // the same for a thread that was terminated.
    std::atomic<bool> hasEnded{false};
    bool reaped = false;  // joined, terminated or detached; touched only by the handle's owner
    HANDLE thread = nullptr;
    DWORD systemId = 0;
    HANDLE stopRequest;
    ThreadStart start;
};

namespace {

struct EndMark {
    explicit EndMark(NativeThread::State* s) : state(s) {}
    ~EndMark() { state->hasEnded.store(true); }
    NativeThread::State* state;
};

unsigned __stdcall ThreadEntry(void* arg) {
    auto* holder = static_cast<std::shared_ptr<NativeThread::State>*>(arg);
    std::shared_ptr<NativeThread::State> state = *holder;
    delete holder;

    AdoptThreadId(state->start.id);
    SetThreadStopRequest(state->stopRequest);
    if (state->start.aboveNormal) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);

    EndMark mark(state.get());
    try {
        std::function<void()> body = std::move(state->start.body);
        body();
    } catch (ThreadCancelled&) {
        // A forced stop has unwound the body: the thread ends here.
    } catch (...) {
    }
    return 0;
}

void CloseThreadHandle(NativeThread::State* state) {
    if (state->thread) CloseHandle(state->thread);
    state->thread = nullptr;
    state->reaped = true;
}

}  // namespace

std::shared_ptr<NativeThread> NativeThread::Start(std::function<void()> body, const std::string& name,
                                                  bool aboveNormal, std::shared_ptr<NativeThread>* publish) {
    auto state = std::make_shared<State>(ThreadStart(std::move(body), name, aboveNormal));
    if (!state->stopRequest) return nullptr;
    std::shared_ptr<NativeThread> handle(new NativeThread(state));
    // Not yet a thread: the handle must not wait for or close anything if
    // the creation below fails.
    state->reaped = true;
    if (publish) *publish = handle;
    auto* holder = new std::shared_ptr<State>(state);
    // Created suspended, so that the bookkeeping (and the owner's handle) is
    // complete before the body runs.
    unsigned systemId = 0;
    uintptr_t thread = _beginthreadex(nullptr, 0, &ThreadEntry, holder, CREATE_SUSPENDED, &systemId);
    if (thread == 0) {
        delete holder;
        if (publish) publish->reset();
        return nullptr;
    }
    state->thread = reinterpret_cast<HANDLE>(thread);
    state->systemId = systemId;
    state->reaped = false;
    ResumeThread(state->thread);
    return handle;
}

NativeThread::NativeThread(std::shared_ptr<State> state) : state_(std::move(state)) {}

NativeThread::~NativeThread() {
    // Closing the handle of a running thread detaches it.
    if (!state_->reaped) CloseThreadHandle(state_.get());
}

bool NativeThread::HasEnded() const {
    if (state_->hasEnded.load()) return true;
    return state_->thread && WaitForSingleObject(state_->thread, 0) == WAIT_OBJECT_0;
}

bool NativeThread::IsCurrent() const { return state_->systemId != 0 && GetCurrentThreadId() == state_->systemId; }

bool NativeThread::Join(uint32_t timeoutMs, bool cancellable) {
    if (state_->reaped) return true;
    if (IsCurrent()) return false;
    DWORD r;
    {
        std::optional<CancelWindow> window;
        if (cancellable) window.emplace();
        r = CancellableWait(&state_->thread, 1, timeoutMs);
    }
    if (r != WAIT_OBJECT_0) return false;
    CloseThreadHandle(state_.get());
    return true;
}

bool NativeThread::Terminate(uint32_t graceMs) {
    if (state_->reaped || IsCurrent()) return state_->reaped;
    SetEvent(state_->stopRequest);
    if (WaitForSingleObject(state_->thread, graceMs) == WAIT_OBJECT_0) {
        CloseThreadHandle(state_.get());
        return true;
    }
    // Never reached a blocking platform call: ended without unwinding. What
    // it held stays held and what it used must be kept by its owner.
    TerminateThread(state_->thread, 0);
    if (WaitForSingleObject(state_->thread, graceMs) == WAIT_OBJECT_0) state_->hasEnded.store(true);
    CloseThreadHandle(state_.get());
    return false;
}

void SleepMs(uint32_t ms) {
    CancelWindow window;
    CancellableWait(nullptr, 0, ms);
}

// Waits end on the system clock tick unless the process raised its
// resolution, which a driver must not do for its host.
bool ShortSleepsHonoured() { return false; }

void YieldThread() { SwitchToThread(); }

uint32_t ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<uint32_t>(info.dwNumberOfProcessors) : 1u;
}

}  // namespace platform
}  // namespace telvaro
