// Digital inputs (set by command or toggled on a schedule) and outputs
// (whose triggers are recorded).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace camsim {

struct OutputTrigger {
    uint32_t id = 0;
    bool high = false;
    std::chrono::steady_clock::time_point when;
};

class IoPorts {
public:
    IoPorts(uint32_t inputs, uint32_t outputs, uint32_t firstId);

    std::vector<uint32_t> InputIds() const;
    std::vector<uint32_t> OutputIds() const;
    bool HasInput(uint32_t id) const;
    bool HasOutput(uint32_t id) const;

    // False for an unknown input.
    bool InputActive(uint32_t id, bool& active) const;
    bool SetInput(uint32_t id, bool active);
    // The input flips every periodMs from now on; 0 stops the schedule.
    bool ToggleInputEvery(uint32_t id, uint32_t periodMs);

    bool TriggerOutput(uint32_t id, bool high);
    bool OutputHigh(uint32_t id, bool& high) const;
    std::vector<OutputTrigger> Triggers() const;

private:
    struct Input {
        bool active = false;
        uint32_t periodMs = 0;
        std::chrono::steady_clock::time_point since;
    };

    uint32_t firstId_;
    mutable std::mutex mutex_;
    std::vector<Input> inputs_;
    std::vector<bool> outputs_;
    std::vector<OutputTrigger> triggers_;
};

}  // namespace camsim
