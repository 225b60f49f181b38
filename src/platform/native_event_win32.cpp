#include "platform/native_event.h"

#include <windows.h>

#include <optional>

#include "platform/native_thread.h"
#include "platform/thread_cancel.h"
#include "platform/thread_cancel_win32.h"

namespace telvaro {
namespace platform {

NativeEvent::NativeEvent(bool manualReset, bool initiallySet)
    : manual_(manualReset), handle_(CreateEventW(nullptr, manualReset, initiallySet, nullptr)) {}

NativeEvent::~NativeEvent() {
    if (handle_) CloseHandle(handle_);
}

void NativeEvent::Set() {
    if (handle_) SetEvent(handle_);
}

void NativeEvent::Reset() {
    if (handle_) ResetEvent(handle_);
}

bool NativeEvent::IsSet() const {
    if (!handle_ || WaitForSingleObject(handle_, 0) != WAIT_OBJECT_0) return false;
    // The look consumed an auto-reset event: give the signal back.
    if (!manual_) SetEvent(handle_);
    return true;
}

bool NativeEvent::Wait(uint32_t timeoutMs, bool cancellable) {
    return WaitAny(this, nullptr, timeoutMs, cancellable) == 0;
}

int NativeEvent::WaitAny(NativeEvent* first, NativeEvent* second, uint32_t timeoutMs, bool cancellable) {
    if (!first || !first->handle_ || (second && !second->handle_)) return -1;
    HANDLE handles[2] = {first->handle_, second ? second->handle_ : nullptr};
    std::optional<CancelWindow> window;
    if (cancellable) window.emplace();
    DWORD r = CancellableWait(handles, second ? 2 : 1, timeoutMs);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0) return 0;
    if (second && (r == WAIT_OBJECT_0 + 1 || r == WAIT_ABANDONED_0 + 1)) return 1;
    return -1;
}

}  // namespace platform
}  // namespace telvaro
