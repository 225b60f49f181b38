#include "camsim/channel_table.h"

namespace camsim {

ChannelTable::ChannelTable(const std::vector<ChannelConfig>& channels) : channels_(channels) {}

bool ChannelTable::Get(uint32_t id, ChannelConfig& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ChannelConfig& c : channels_) {
        if (c.id == id) {
            out = c;
            return true;
        }
    }
    return false;
}

std::vector<ChannelConfig> ChannelTable::All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return channels_;
}

bool ChannelTable::Set(const ChannelConfig& channel) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (ChannelConfig& c : channels_) {
        if (c.id == channel.id) {
            c = channel;
            return true;
        }
    }
    return false;
}

bool ChannelTable::SetPending(const ChannelConfig& channel) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ChannelConfig& c : channels_) {
        if (c.id == channel.id) {
            pending_[channel.id] = channel;
            return true;
        }
    }
    return false;
}

void ChannelTable::ApplyPending() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (ChannelConfig& c : channels_) {
        auto it = pending_.find(c.id);
        if (it != pending_.end()) c = it->second;
    }
    pending_.clear();
}

}  // namespace camsim
