// Forced thread stops unwind the stack like an exception. A catch-all block
// on a driver thread calls SwallowUnlessCancelled so that such a stop goes on
// unwinding while every ordinary exception is dropped:
//
//     try { ... } catch (...) { platform::SwallowUnlessCancelled(); }
#pragma once

namespace telvaro {
namespace platform {

// Must be called inside a catch block.
void SwallowUnlessCancelled();

// Opens a window in which a pending forced stop may act; used by the
// platform's own blocking calls.
class CancelWindow {
public:
    CancelWindow();
    ~CancelWindow();
    CancelWindow(const CancelWindow&) = delete;
    CancelWindow& operator=(const CancelWindow&) = delete;

private:
    int previous_;
};

}  // namespace platform
}  // namespace telvaro
