// Forced stops of driver threads on Windows. Each driver thread has a stop
// request (a manual-reset kernel event). While a cancel window is open, the
// platform's blocking calls wait on it beside their own objects and, once it
// is set, unwind the thread's stack with ThreadCancelled: the same
// deferred-cancellation model as the POSIX backend, where the stack unwinds
// through destructors so that locks held in scopes are released.
#pragma once

#include <windows.h>

namespace telvaro {
namespace platform {

// Carried by the unwinding of a forced stop; only SwallowUnlessCancelled and
// the thread entry catch it.
struct ThreadCancelled {};

// Called by the thread entry: the stop request of the calling thread.
void SetThreadStopRequest(HANDLE request);

// Waits like WaitForMultipleObjects (any one object, at most 63) and gives its
// result, except that a forced stop of the calling thread, while a cancel
// window is open, throws ThreadCancelled instead. With count 0 it just waits
// for the time-out or the stop.
DWORD CancellableWait(const HANDLE* handles, DWORD count, DWORD timeoutMs);

// Throws ThreadCancelled when a forced stop is pending and a cancel window is
// open: for blocking calls that cannot wait on the request themselves.
void CancellationPoint();

}  // namespace platform
}  // namespace telvaro
