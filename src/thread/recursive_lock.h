// Recursive lock that spins briefly before it sleeps, handing the lock to
// one waiter at a time.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/native_event.h"

namespace telvaro {

class CRecursiveLock {
public:
    CRecursiveLock();
    ~CRecursiveLock();
    CRecursiveLock(const CRecursiveLock&) = delete;
    CRecursiveLock& operator=(const CRecursiveLock&) = delete;

    bool TryEnter();
    void Enter();
    void Leave();

    // Attempts beyond the first that TryEnter makes: 4000 on a machine with
    // more than one processor, 0 on a single processor.
    uint32_t GetSpinCount() const;

private:
    struct LockRecord {
        std::atomic<uint32_t> spinCount{0};
        std::atomic<int32_t> lockCount{0};
        std::atomic<uint32_t> owner{0};
        std::atomic<int32_t> recursion{0};
    };

    void TakeOwnership(uint32_t self);

    platform::NativeEvent wake_;  // auto-reset: releases exactly one waiter
    LockRecord* record_;
};

// Holds a lock for a scope, released on every exit path.
class CLockScope {
public:
    explicit CLockScope(CRecursiveLock& lock) : lock_(lock) { lock_.Enter(); }
    ~CLockScope() { lock_.Leave(); }
    CLockScope(const CLockScope&) = delete;
    CLockScope& operator=(const CLockScope&) = delete;

private:
    CRecursiveLock& lock_;
};

}  // namespace telvaro
