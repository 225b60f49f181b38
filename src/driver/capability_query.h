// The state behind the four capability-query exports: the host's callback,
// the video standard flag, the result target, the current properties object
// and the query threads. The host calls the exports one at a time (Init,
// Start, Terminate, Uninit); a running query thread shares with them only
// the current properties object, the abort flag of its requests and the
// guard of its calls on the host's objects.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "driver/camera_properties_ex.h"
#include "core/device_info.h"
#include "ombrelix/host.h"
#include "thread/thread_owner.h"

namespace telvaro {

class CCapabilityQuery {
public:
    using Factory = std::function<std::unique_ptr<CCameraPropertiesEx>(const DEVICE_INFO&, int32_t)>;

    static constexpr uint32_t kUninitWaitMs = 5000;

    // Without a factory, queries are made for PSIA cameras.
    explicit CCapabilityQuery(Factory factory = Factory(), uint32_t uninitWaitMs = kUninitWaitMs);
    // Releases without waiting: a query still running keeps what it uses.
    ~CCapabilityQuery();
    CCapabilityQuery(const CCapabilityQuery&) = delete;
    CCapabilityQuery& operator=(const CCapabilityQuery&) = delete;

    // 0 when a callback is registered already, else 1.
    int32_t Init(ipcapture::ICapabilityQueryCallback* callback, uint8_t videoStandard);
    // 1 when the query thread runs; 0 when it cannot be started.
    int32_t Start(const char* address, uint16_t port, const char* userName, const char* password,
                  ipcapture::ICapabilityResults* results);
    int32_t Terminate();
    // Aborts the camera requests of running queries, waits for them within
    // the bound, stops the rest forcibly, and returns to the uninitialised
    // state. Once it has returned, no query calls the host's callback or
    // result target again. Returns 1.
    int32_t Uninit();

private:
    // The current properties object: made and set by a query thread, used by
    // Terminate and Uninit on the host's thread. Shared with the threads, so
    // that a thread left running after Uninit never writes into freed memory.
    struct Current {
        std::mutex lock;
        std::shared_ptr<CCameraPropertiesEx> properties;
        // Set by Uninit: the queries' camera requests fail at once.
        std::atomic<bool> abort{false};
        // Held across every call a query makes on the host's objects; once
        // detached is set under it, a query makes no such call any more.
        std::mutex hostLock;
        bool detached = false;
    };
    struct Job;
    static void Run(Job& job);
    // Runs call unless the query is detached; true when it ran.
    static bool CallHost(Current& current, const std::function<void()>& call);
    std::shared_ptr<CCameraPropertiesEx> CurrentProperties();

    Factory factory_;
    const uint32_t uninitWaitMs_;
    ipcapture::ICapabilityQueryCallback* callback_ = nullptr;
    bool videoStandard_ = false;
    ipcapture::ICapabilityResults* results_ = nullptr;
    std::shared_ptr<Current> current_;
    // Query threads not yet known to have ended.
    std::list<thread::CThreadOwner> threads_;
};

}  // namespace telvaro
