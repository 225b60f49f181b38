// Named worker thread whose body is Run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "thread/thread_owner.h"

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
    // Wakes the thread as the derived class says and waits for it without a
    // bound (not on the thread itself), then lets go of the handle.
    bool Stop();

    const std::string& GetName() const { return name_; }
    bool HasThread() const { return thread_.HasThread(); }

protected:
    explicit CSimpleThread(std::function<void()> wake);

private:
    std::string name_;
    CThreadOwner thread_;
};

}  // namespace thread
}  // namespace telvaro
