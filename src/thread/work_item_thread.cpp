#include "thread/work_item_thread.h"

#include "platform/thread_cancel.h"

namespace telvaro {
namespace thread {

CWorkItemThread::CWorkItemThread()
    : CSimpleThread([this] {
          {
              std::lock_guard<std::mutex> guard(queueLock_);
              running_ = false;
          }
          ClearQueue();
          if (workEvent_) workEvent_->Set();
      }) {}

CWorkItemThread::~CWorkItemThread() {
    Stop();
    std::lock_guard<std::mutex> guard(queueLock_);
    workEvent_.reset();
}

void CWorkItemThread::OnWorkItemAdded(IWorkItem*, int) {}
void CWorkItemThread::OnWorkItemRemoved(IWorkItem*) {}
void CWorkItemThread::OnQueueCleared() {}

bool CWorkItemThread::Start(const std::string& name) {
    if (HasThread()) return false;
    if (!workEvent_) workEvent_.reset(new platform::NativeEvent(false, false));
    running_ = true;
    if (CSimpleThread::Start(name)) return true;
    running_ = false;
    return false;
}

bool CWorkItemThread::AddWorkItem(IWorkItem* item) {
    if (!running_ || !item || !workEvent_) return false;
    std::lock_guard<std::mutex> guard(queueLock_);
    // Checked again under the lock, so that Stop's clearing sees the item.
    if (!running_) return false;
    queue_.push_back(item);
    OnWorkItemAdded(item, 0);
    workEvent_->Set();
    return true;
}

void CWorkItemThread::ClearQueue() {
    std::lock_guard<std::mutex> guard(queueLock_);
    for (IWorkItem* item : queue_) delete item;
    queue_.clear();
    OnQueueCleared();
}

size_t CWorkItemThread::QueuedCount() {
    std::lock_guard<std::mutex> guard(queueLock_);
    return queue_.size();
}

void CWorkItemThread::Run() {
    while (running_) {
        if (!workEvent_->Wait(1000)) continue;
        for (;;) {
            IWorkItem* item = nullptr;
            {
                std::lock_guard<std::mutex> guard(queueLock_);
                if (!queue_.empty()) {
                    item = queue_.front();
                    queue_.pop_front();
                    OnWorkItemRemoved(item);
                }
            }
            if (!running_) {
                delete item;
                break;
            }
            if (!item) break;
            try {
                ProcessWorkItem(item);
            } catch (...) {
                platform::SwallowUnlessCancelled();
            }
            delete item;
        }
    }
    ClearQueue();
}

}  // namespace thread
}  // namespace telvaro
