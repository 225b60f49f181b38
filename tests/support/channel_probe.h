// What a host asks of a channel, and a channel whose request a test can set
// without starting its thread.
#pragma once

#include <cstdint>

#include "channel/channel_params.h"

namespace fakes {

inline telvaro::CHANNEL_PARAMS Params(uint32_t width, uint32_t height, uint32_t interval = 40,
                                      uint32_t quality = 50) {
    telvaro::CHANNEL_PARAMS p;
    p.width = width;
    p.height = height;
    p.frameInterval = interval;
    p.quality = quality;
    return p;
}

template <typename Channel>
class Probe : public Channel {
public:
    using Channel::Channel;
    void Use(const telvaro::CHANNEL_PARAMS& p) { this->params_ = p; }
};

}  // namespace fakes
