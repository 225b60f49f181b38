// Named worker thread whose body is Run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/native_thread.h"

namespace telvaro {
namespace thread {

class CSimpleThread {
public:
    CSimpleThread();
    virtual void Run() = 0;
    virtual ~CSimpleThread();
    CSimpleThread(const CSimpleThread&) = delete;
    CSimpleThread& operator=(const CSimpleThread&) = delete;

    // False when a thread handle is held already (ended or not).
    bool Start(const std::string& name);
    // Waits for the thread without a bound (not when called from the thread
    // itself), then lets go of the handle.
    bool Stop();

    const std::string& GetName() const { return name_; }
    bool HasThread() const { return handle_ != nullptr; }
    uint32_t GetThreadId() const { return threadId_; }

protected:
    // Joins and releases the handle as Stop does after its own steps.
    bool WaitAndClose();

private:
    std::string name_;
    std::shared_ptr<platform::NativeThread> handle_;
    uint32_t threadId_ = 0;
};

}  // namespace thread
}  // namespace telvaro
