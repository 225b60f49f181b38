#include "thread/base_thread.h"

namespace telvaro {

CBaseThread::CBaseThread() = default;

CBaseThread::~CBaseThread() { Stop(); }

bool CBaseThread::Start() {
    stopEvent_.Reset();
    return thread_.Start([this] { Run(); }, std::string());
}

bool CBaseThread::Stop() {
    // The last resort gets a short grace: the bound is the one described.
    return thread_.Stop(kStopWaitMs, 500) != thread::CThreadOwner::StopResult::OnItself;
}

}  // namespace telvaro
