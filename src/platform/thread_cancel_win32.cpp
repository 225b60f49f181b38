#include "platform/thread_cancel.h"

#include "platform/thread_cancel_win32.h"

namespace telvaro {
namespace platform {

namespace {

thread_local HANDLE t_stopRequest = nullptr;
thread_local int t_cancelEnabled = 0;
// Set once a forced stop has begun to unwind: it acts once, so that the
// waits of destructors on the way out run normally.
thread_local bool t_unwinding = false;

HANDLE PendingRequest() {
    if (!t_stopRequest || !t_cancelEnabled || t_unwinding) return nullptr;
    return t_stopRequest;
}

[[noreturn]] void Unwind() {
    t_unwinding = true;
    throw ThreadCancelled();
}

}  // namespace

void SetThreadStopRequest(HANDLE request) { t_stopRequest = request; }

DWORD CancellableWait(const HANDLE* handles, DWORD count, DWORD timeoutMs) {
    HANDLE request = PendingRequest();
    if (!request) {
        if (count == 0) {
            Sleep(timeoutMs);
            return WAIT_TIMEOUT;
        }
        return WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    }
    // The request comes first, so that a pending stop acts before anything
    // else, as at a POSIX cancellation point.
    HANDLE all[MAXIMUM_WAIT_OBJECTS];
    all[0] = request;
    for (DWORD i = 0; i < count && i + 1 < MAXIMUM_WAIT_OBJECTS; ++i) all[i + 1] = handles[i];
    DWORD r = WaitForMultipleObjects(count + 1, all, FALSE, timeoutMs);
    if (r == WAIT_OBJECT_0) Unwind();
    if (r >= WAIT_OBJECT_0 + 1 && r <= WAIT_OBJECT_0 + count) return r - 1;
    if (r >= WAIT_ABANDONED_0 + 1 && r <= WAIT_ABANDONED_0 + count) return r - 1;
    return r;
}

void CancellationPoint() {
    HANDLE request = PendingRequest();
    if (request && WaitForSingleObject(request, 0) == WAIT_OBJECT_0) Unwind();
}

void SwallowUnlessCancelled() {
    try {
        throw;
    } catch (ThreadCancelled&) {
        throw;
    } catch (...) {
    }
}

CancelWindow::CancelWindow() : previous_(t_cancelEnabled) { t_cancelEnabled = 1; }

CancelWindow::~CancelWindow() { t_cancelEnabled = previous_; }

}  // namespace platform
}  // namespace telvaro
