// One video stream of a device, as the video capture object drives it.
#pragma once

#include <cstdint>

#include "channel/channel_params.h"

namespace telvaro {

// Channel state codes. 1 is never used.
enum ChannelState : int32_t {
    kStateStreaming = 0,
    kStateSignalLost = 2,
    kStateStopped = 3,  // stopped or not yet connected
};

class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const CHANNEL_PARAMS& params) = 0;
    virtual void Stop() = 0;
    virtual bool Restart(const CHANNEL_PARAMS& params) = 0;
    virtual ChannelState GetState() = 0;
    virtual void SetState(ChannelState state) = 0;
};

}  // namespace telvaro
