// Event wrappers used across the driver.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/native_event.h"

namespace telvaro {

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// A manual-reset event, created non-signalled.
class CEvent {
public:
    CEvent();
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool Set();
    bool Reset();
    // True when the event is signalled within the time-out; false on
    // time-out or without an event.
    bool Wait(uint32_t milliseconds);
    bool IsSet() const;
    platform::NativeEvent* Handle() const { return handle_.get(); }

private:
    std::unique_ptr<platform::NativeEvent> handle_;
};

class CManualEvent : public CEvent {
public:
    CManualEvent() = default;
    ~CManualEvent() override;
};

// Waits until either event of the pair is signalled: 0 or 1 for the event
// that ended the wait, -1 on time-out or when the pair is missing.
int WaitAny(CEvent* const* pair, uint32_t milliseconds);

}  // namespace telvaro
