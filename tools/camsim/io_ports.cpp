#include "camsim/io_ports.h"

namespace camsim {

namespace {
const size_t kMaxTriggers = 10000;
}  // namespace

IoPorts::IoPorts(uint32_t inputs, uint32_t outputs, uint32_t firstId)
    : firstId_(firstId), inputs_(inputs), outputs_(outputs, false) {}

std::vector<uint32_t> IoPorts::InputIds() const {
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < inputs_.size(); ++i) ids.push_back(firstId_ + static_cast<uint32_t>(i));
    return ids;
}

std::vector<uint32_t> IoPorts::OutputIds() const {
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < outputs_.size(); ++i) ids.push_back(firstId_ + static_cast<uint32_t>(i));
    return ids;
}

bool IoPorts::HasInput(uint32_t id) const { return id >= firstId_ && id - firstId_ < inputs_.size(); }

bool IoPorts::HasOutput(uint32_t id) const { return id >= firstId_ && id - firstId_ < outputs_.size(); }

bool IoPorts::InputActive(uint32_t id, bool& active) const {
    if (!HasInput(id)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const Input& in = inputs_[id - firstId_];
    active = in.active;
    if (in.periodMs > 0) {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - in.since);
        if ((elapsed.count() / in.periodMs) % 2 == 1) active = !active;
    }
    return true;
}

bool IoPorts::SetInput(uint32_t id, bool active) {
    if (!HasInput(id)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    Input& in = inputs_[id - firstId_];
    in.active = active;
    in.since = std::chrono::steady_clock::now();
    return true;
}

bool IoPorts::ToggleInputEvery(uint32_t id, uint32_t periodMs) {
    bool current = false;
    if (!InputActive(id, current)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    Input& in = inputs_[id - firstId_];
    in.active = current;
    in.periodMs = periodMs;
    in.since = std::chrono::steady_clock::now();
    return true;
}

bool IoPorts::TriggerOutput(uint32_t id, bool high) {
    if (!HasOutput(id)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    outputs_[id - firstId_] = high;
    if (triggers_.size() >= kMaxTriggers) triggers_.erase(triggers_.begin());
    triggers_.push_back({id, high, std::chrono::steady_clock::now()});
    return true;
}

bool IoPorts::OutputHigh(uint32_t id, bool& high) const {
    if (!HasOutput(id)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    high = outputs_[id - firstId_];
    return true;
}

std::vector<OutputTrigger> IoPorts::Triggers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return triggers_;
}

}  // namespace camsim
