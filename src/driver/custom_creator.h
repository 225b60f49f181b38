// The channel factory of the driver.
#pragma once

#include <cstdint>

#include "ombrelix/host.h"

namespace telvaro {

class ICameraChannel;

class ICustomCreator {
public:
    virtual ~ICustomCreator() = default;
    // A new channel of the class that suits the device's codec, owned by the
    // caller; null for a codec without a channel class.
    virtual ICameraChannel* CreateChannel(uint32_t channel, ipcapture::IStreamSink* sink) = 0;
};

}  // namespace telvaro
