// Thread that processes queued work items one at a time, in order. Its
// Stop discards what is still queued.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>

#include "platform/native_event.h"
#include "thread/simple_thread.h"

namespace telvaro {
namespace thread {

class CWorkItemThread : public CSimpleThread {
public:
    class IWorkItem {
    public:
        virtual ~IWorkItem() = default;
    };

    CWorkItemThread();
    void Run() override;
    ~CWorkItemThread() override;
    virtual void ProcessWorkItem(IWorkItem* item) = 0;
    virtual void OnWorkItemAdded(IWorkItem* item, int reserved);
    virtual void OnWorkItemRemoved(IWorkItem* item);
    virtual void OnQueueCleared();

    bool Start(const std::string& name);
    // Takes ownership when it returns true; a refused item stays the caller's.
    bool AddWorkItem(IWorkItem* item);
    // Deletes every queued item unprocessed.
    void ClearQueue();

    size_t QueuedCount();

private:
    std::mutex queueLock_;
    std::list<IWorkItem*> queue_;
    std::unique_ptr<platform::NativeEvent> workEvent_;  // auto-reset
    std::atomic<bool> running_{false};
};

}  // namespace thread
}  // namespace telvaro
