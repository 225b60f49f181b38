#include "thread/simple_thread.h"

namespace telvaro {
namespace thread {

CSimpleThread::CSimpleThread() = default;

CSimpleThread::~CSimpleThread() = default;

bool CSimpleThread::Start(const std::string& name) {
    if (handle_) return false;
    name_ = name;
    if (!platform::NativeThread::Start([this] { Run(); }, name, false, &handle_)) return false;
    threadId_ = handle_->Id();
    return true;
}

bool CSimpleThread::Stop() { return WaitAndClose(); }

bool CSimpleThread::WaitAndClose() {
    if (!handle_) return true;
    if (!handle_->IsCurrent()) handle_->Join(platform::kInfinite);
    handle_.reset();
    threadId_ = 0;
    return true;
}

}  // namespace thread
}  // namespace telvaro
