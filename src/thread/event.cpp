#include "thread/event.h"

namespace telvaro {

CEvent::CEvent() : handle_(new platform::NativeEvent(true, false)) {}

CEvent::~CEvent() = default;

bool CEvent::Set() {
    if (!handle_) return false;
    handle_->Set();
    return true;
}

bool CEvent::Reset() {
    if (!handle_) return false;
    handle_->Reset();
    return true;
}

bool CEvent::Wait(uint32_t milliseconds) { return handle_ && handle_->Wait(milliseconds); }

bool CEvent::IsSet() const { return handle_ && handle_->IsSet(); }

CManualEvent::~CManualEvent() = default;

int WaitAny(CEvent* const* pair, uint32_t milliseconds) {
    if (!pair || !pair[0] || !pair[1] || !pair[0]->Handle() || !pair[1]->Handle()) return -1;
    return platform::NativeEvent::WaitAny(pair[0]->Handle(), pair[1]->Handle(), milliseconds);
}

}  // namespace telvaro
