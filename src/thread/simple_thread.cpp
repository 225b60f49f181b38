#include "thread/simple_thread.h"

namespace telvaro {
namespace thread {

CSimpleThread::CSimpleThread() = default;

CSimpleThread::CSimpleThread(std::function<void()> wake) : thread_(std::move(wake)) {}

CSimpleThread::~CSimpleThread() = default;

bool CSimpleThread::Start(const std::string& name) {
    if (HasThread()) return false;
    name_ = name;
    return thread_.Start([this] { Run(); }, name);
}

bool CSimpleThread::Stop() {
    if (thread_.Stop(platform::kInfinite) == CThreadOwner::StopResult::OnItself) thread_.Release();
    return true;
}

}  // namespace thread
}  // namespace telvaro
