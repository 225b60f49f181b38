#include "thread/recursive_lock.h"

#include "platform/native_thread.h"

namespace telvaro {

namespace {

// -1 until the first lock is made, then 1 on a single-processor machine, else 0.
std::atomic<int> g_singleProcessor{-1};

constexpr uint32_t kSpinCount = 4000;

}  // namespace

CRecursiveLock::CRecursiveLock() : wake_(false, false), record_(new LockRecord()) {
    int known = g_singleProcessor.load();
    if (known < 0) {
        int single = platform::ProcessorCount() == 1 ? 1 : 0;
        g_singleProcessor.compare_exchange_strong(known, single);
    }
    if (g_singleProcessor.load() == 0) record_->spinCount.exchange(kSpinCount);
}

CRecursiveLock::~CRecursiveLock() { delete record_; }

uint32_t CRecursiveLock::GetSpinCount() const { return record_->spinCount.load(); }

void CRecursiveLock::TakeOwnership(uint32_t self) {
    record_->owner.store(self, std::memory_order_relaxed);
    record_->recursion.store(1, std::memory_order_relaxed);
}

bool CRecursiveLock::TryEnter() {
    const uint32_t self = platform::CurrentThreadId();
    const uint32_t spins = record_->spinCount.load(std::memory_order_relaxed);
    for (uint32_t attempt = 0; attempt <= spins; ++attempt) {
        int32_t expected = 0;
        if (record_->lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            TakeOwnership(self);
            return true;
        }
        if (record_->owner.load(std::memory_order_relaxed) == self) {
            record_->lockCount.fetch_add(1, std::memory_order_relaxed);
            record_->recursion.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

void CRecursiveLock::Enter() {
    if (TryEnter()) return;
    const uint32_t self = platform::CurrentThreadId();
    if (record_->lockCount.fetch_add(1, std::memory_order_acquire) + 1 == 1) {
        TakeOwnership(self);
        return;
    }
    if (record_->owner.load(std::memory_order_relaxed) == self) {
        record_->recursion.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    // The owner's Leave hands the lock over through the wake event. This wait
    // is not a place for a forced stop: the count above is already ours.
    wake_.Wait(platform::kInfinite, false);
    TakeOwnership(self);
}

void CRecursiveLock::Leave() {
    if (record_->recursion.fetch_sub(1, std::memory_order_relaxed) - 1 > 0) {
        record_->lockCount.fetch_sub(1, std::memory_order_release);
        return;
    }
    record_->owner.store(0, std::memory_order_relaxed);
    if (record_->lockCount.fetch_sub(1, std::memory_order_release) - 1 > 0) wake_.Set();
}

}  // namespace telvaro
