// The camera's streaming channels, shared by the HTTP and RTSP sides.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "camsim/camera_config.h"

namespace camsim {

class ChannelTable {
public:
    explicit ChannelTable(const std::vector<ChannelConfig>& channels);

    bool Get(uint32_t id, ChannelConfig& out) const;
    std::vector<ChannelConfig> All() const;
    // False for an unknown id.
    bool Set(const ChannelConfig& channel);
    // A change that waits for the next reboot.
    bool SetPending(const ChannelConfig& channel);
    // The reboot: pending changes take effect.
    void ApplyPending();

private:
    mutable std::mutex mutex_;
    std::vector<ChannelConfig> channels_;
    std::map<uint32_t, ChannelConfig> pending_;
};

}  // namespace camsim
