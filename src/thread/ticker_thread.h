// Thread that calls OnTick once per period until it is stopped. The period
// runs from the end of one tick to the start of the next.
#pragma once

#include <memory>

#include "platform/native_event.h"
#include "thread/simple_thread.h"

namespace telvaro {
namespace thread {

class CTickerThread : public CSimpleThread {
public:
    CTickerThread();
    void Run() override;
    ~CTickerThread() override;
    virtual void OnTick() = 0;

    bool Start(const std::string& name);
    bool Stop();

    uint32_t GetPeriod() const { return period_; }

protected:
    // Tests shorten the period; the driver keeps 2000 ms.
    void SetPeriod(uint32_t milliseconds) { period_ = milliseconds; }

private:
    std::unique_ptr<platform::NativeEvent> stopEvent_;  // auto-reset
    uint32_t period_ = 2000;
};

}  // namespace thread
}  // namespace telvaro
