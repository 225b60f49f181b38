#include "thread/base_thread.h"

#include "platform/native_event.h"

namespace telvaro {

CBaseThread::CBaseThread() = default;

CBaseThread::~CBaseThread() { Stop(); }

bool CBaseThread::Start() {
    stopEvent_.Reset();
    if (handle_ && !handle_->HasEnded()) return false;
    handle_.reset();
    // Run waits until the handle is stored, so that a Stop from inside Run
    // sees its own thread instead of racing with this assignment.
    auto stored = std::make_shared<platform::NativeEvent>(true, false);
    handle_ = platform::NativeThread::Start(
        [this, stored] {
            stored->Wait(platform::kInfinite, false);
            Run();
        },
        std::string());
    if (!handle_) {
        threadId_ = 0;
        return false;
    }
    threadId_ = handle_->Id();
    stored->Set();
    return true;
}

bool CBaseThread::Stop() {
    stopEvent_.Set();
    if (!handle_) return true;
    if (handle_->IsCurrent()) return false;
    if (!handle_->Join(kStopWaitMs)) handle_->Terminate(500);
    handle_.reset();
    threadId_ = 0;
    return true;
}

bool CBaseThread::IsRunning() const { return handle_ && !handle_->HasEnded(); }

}  // namespace telvaro
