// What the host asked of a channel: handed over at start and restart.
#pragma once

#include <cstdint>

namespace telvaro {

struct CHANNEL_PARAMS {
    uint32_t frameInterval = 0;  // milliseconds between frames
    uint32_t quality = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

}  // namespace telvaro
