#include "thread/thread_owner.h"

#include <mutex>
#include <vector>

namespace telvaro {
namespace thread {

bool CThreadOwner::Start(std::function<void()> body, const std::string& name, bool aboveNormal) {
    if (IsRunning()) return false;
    Release();
    return platform::NativeThread::Start(std::move(body), name, aboveNormal, &handle_) != nullptr;
}

CThreadOwner::StopResult CThreadOwner::Join(uint32_t boundMs, uint32_t graceMs, bool cancellable) {
    if (!handle_) return StopResult::Ended;
    if (handle_->IsCurrent()) return StopResult::OnItself;
    StopResult result = StopResult::Ended;
    if (abandoned_) {
        if (!handle_->HasEnded()) return StopResult::Abandoned;
    } else if (!handle_->Join(boundMs, cancellable)) {
        if (!handle_->Terminate(graceMs)) {
            // Held, so that a later stop sees when it is gone.
            abandoned_ = true;
            return StopResult::Abandoned;
        }
        result = StopResult::Forced;
    }
    Release();
    return result;
}

void CThreadOwner::Release() {
    handle_.reset();
    abandoned_ = false;
}

void CThreadOwner::KeepForever(std::shared_ptr<void> object) {
    static std::mutex keptLock;
    // Never destroyed: the objects must outlive every thread, even at exit.
    static auto* kept = new std::vector<std::shared_ptr<void>>();
    std::lock_guard<std::mutex> guard(keptLock);
    kept->push_back(std::move(object));
}

}  // namespace thread
}  // namespace telvaro
