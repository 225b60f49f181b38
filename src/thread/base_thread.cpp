#include "thread/base_thread.h"

namespace telvaro {

CBaseThread::CBaseThread() = default;

CBaseThread::~CBaseThread() { Stop(); }

bool CBaseThread::Start() {
    stopEvent_.Reset();
    if (handle_ && !handle_->HasEnded()) return false;
    handle_.reset();
    abandoned_ = false;
    // The handle is stored before Run starts, so that a Stop from inside Run
    // sees its own thread.
    if (!platform::NativeThread::Start([this] { Run(); }, std::string(), false, &handle_)) {
        threadId_ = 0;
        return false;
    }
    threadId_ = handle_->Id();
    return true;
}

bool CBaseThread::Stop() {
    stopEvent_.Set();
    if (!handle_) return true;
    if (handle_->IsCurrent()) return false;
    if (abandoned_) {
        // Given up on before: only look whether it has ended since.
        if (!handle_->HasEnded()) return true;
    } else if (!handle_->Join(kStopWaitMs) && !handle_->Terminate(500)) {
        // Kept, so that IsRunning and a later Stop see when it is gone.
        abandoned_ = true;
        return true;
    }
    abandoned_ = false;
    handle_.reset();
    threadId_ = 0;
    return true;
}

bool CBaseThread::IsRunning() const { return handle_ && !handle_->HasEnded(); }

}  // namespace telvaro
