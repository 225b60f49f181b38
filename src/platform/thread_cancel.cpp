#include "platform/thread_cancel.h"

#include <cxxabi.h>
#include <pthread.h>

namespace telvaro {
namespace platform {

// The unwinding of a forced stop carries no C++ object, so the reference
// bound by its handler is null by design; the null check would flag it.
#if defined(__GNUC__)
__attribute__((no_sanitize("null")))
#endif
void SwallowUnlessCancelled() {
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}

CancelWindow::CancelWindow() : previous_(PTHREAD_CANCEL_DISABLE) {
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous_);
}

CancelWindow::~CancelWindow() { pthread_setcancelstate(previous_, nullptr); }

}  // namespace platform
}  // namespace telvaro
