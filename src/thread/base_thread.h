// Thread base with a manual-reset stop event and a bounded stop: a thread
// that does not end within 2000 ms of the stop request is stopped by force.
#pragma once

#include <cstdint>

#include "thread/event.h"
#include "thread/thread_owner.h"

namespace telvaro {

class CBaseThread {
public:
    static constexpr uint32_t kStopWaitMs = 2000;

    CBaseThread();
    // Derived classes stop the thread in their own destructor first; this
    // one only catches what they left.
    virtual ~CBaseThread();
    virtual void Run() = 0;
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // Resets the stop event and starts Run on a new thread; false while a
    // thread still runs, an abandoned one too.
    bool Start();
    // Sets the stop event and waits up to 2000 ms. False (the handle kept)
    // when called from the thread itself.
    bool Stop();
    // Also true for an abandoned thread that has not ended yet.
    bool IsRunning() const { return thread_.IsRunning(); }
    // True after a Stop had to give up on a thread that could not be ended,
    // until a later Stop finds it gone: nothing it uses may be freed.
    bool Abandoned() const { return thread_.Abandoned(); }

protected:
    CManualEvent stopEvent_;

private:
    thread::CThreadOwner thread_{[this] { stopEvent_.Set(); }};
};

}  // namespace telvaro
