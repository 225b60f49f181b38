#include "thread/ticker_thread.h"

namespace telvaro {
namespace thread {

CTickerThread::CTickerThread()
    : CSimpleThread([this] {
          if (stopEvent_) stopEvent_->Set();
      }) {}

CTickerThread::~CTickerThread() = default;

void CTickerThread::Run() {
    while (!stopEvent_->Wait(period_)) OnTick();
}

bool CTickerThread::Start(const std::string& name) {
    if (HasThread()) return false;
    if (!stopEvent_) stopEvent_.reset(new platform::NativeEvent(false, false));
    stopEvent_->Reset();
    return CSimpleThread::Start(name);
}

bool CTickerThread::Stop() {
    if (!HasThread()) return true;
    if (!stopEvent_) return false;
    return CSimpleThread::Stop();
}

}  // namespace thread
}  // namespace telvaro
