#include "camsim/request_log.h"

namespace camsim {

namespace {
// A camera left running for days must not grow without bound.
const size_t kMaxEntries = 100000;
}  // namespace

void RequestLog::Add(LoggedRequest request) {
    request.received = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (requests_.size() >= kMaxEntries) requests_.erase(requests_.begin(), requests_.begin() + kMaxEntries / 2);
    requests_.push_back(std::move(request));
}

std::vector<LoggedRequest> RequestLog::All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void RequestLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

}  // namespace camsim
