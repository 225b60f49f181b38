// The one way a driver object runs a thread of its own and ends it: a named
// start, a stop request that wakes the thread's blocking call, a bounded
// join, the last-resort stop after the bound, and abandon-and-keep for a
// thread that not even that could end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/native_thread.h"

namespace telvaro {
namespace thread {

class CThreadOwner {
public:
    enum class StopResult {
        Ended,      // there was no thread, or it has ended
        Forced,     // ended by the last resort, without its own clean-up
        Abandoned,  // could not be ended: it and what it uses must be kept
        OnItself,   // asked on the thread itself: nothing waited, handle kept
    };

    // wake makes the thread's blocking call return (sets its event, shuts
    // its socket); every stop request runs it, thread or not.
    explicit CThreadOwner(std::function<void()> wake = nullptr) : wake_(std::move(wake)) {}
    CThreadOwner(const CThreadOwner&) = delete;
    CThreadOwner& operator=(const CThreadOwner&) = delete;

    // The handle is held before body runs, so that a stop from inside body
    // sees its own thread. False while a held thread has not ended (an
    // abandoned one too); an ended one is let go.
    bool Start(std::function<void()> body, const std::string& name, bool aboveNormal = false);
    void RequestStop() {
        if (wake_) wake_();
    }
    // Waits up to boundMs (platform::kInfinite: for the end, never forcing),
    // then gives the last resort graceMs. cancellable: a forced stop of the
    // waiting thread itself may act meanwhile. A thread given up on before
    // is only looked at.
    StopResult Join(uint32_t boundMs, uint32_t graceMs = 2000, bool cancellable = true);
    StopResult Stop(uint32_t boundMs, uint32_t graceMs = 2000, bool cancellable = true) {
        RequestStop();
        return Join(boundMs, graceMs, cancellable);
    }
    // Lets go of the handle without waiting; the thread runs on on its own.
    void Release();

    bool HasThread() const { return handle_ != nullptr; }
    // A held thread that has not ended, abandoned ones included.
    bool IsRunning() const { return handle_ && !handle_->HasEnded(); }
    // From a stop that gave up until a later one finds the thread ended.
    bool Abandoned() const { return abandoned_; }

    // For what an abandoned thread may still use: kept for the life of the
    // process, never freed under it.
    static void KeepForever(std::shared_ptr<void> object);

private:
    const std::function<void()> wake_;
    std::shared_ptr<platform::NativeThread> handle_;
    bool abandoned_ = false;
};

}  // namespace thread
}  // namespace telvaro
