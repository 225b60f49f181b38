// Driver services handed to channels, depacketizers, the I/O object and the
// capability query.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/device_info.h"
#include "core/transport_mode.h"
#include "ombrelix/host.h"
#include "util/printf_format.h"

namespace telvaro {

// The type of a debug message; the driver grades it into the level the host
// receives.
enum DebugMessageType : int32_t {
    kMessageFailure = 1,    // a failure or a lost signal
    kMessageNotice = 3,     // online, stopped, why a connection attempt failed
    kMessageDiscarded = 4,  // never reaches the host
    kMessageOpened = 100,   // the opened line
};

}  // namespace telvaro

class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;
    virtual void DebugMessage(telvaro::DebugMessageType type, const char* format, ...) OMBRELIX_PRINTF(3, 4) = 0;
};

namespace telvaro {

constexpr int32_t kNoParameterInt = -2147483647 - 1;

class IDriver : public IDebugMessage {
public:
    virtual std::string GetName() = 0;
    virtual DEVICE_INFO GetDeviceInfo() = 0;
    // Inputs, then outputs.
    virtual std::pair<uint32_t, uint32_t> GetIOCounts() = 0;
    virtual ipcapture::ISampleAllocator* GetSampleAllocator() = 0;
    virtual int32_t GetCustomValue() = 0;
    virtual int32_t GetCodecType() = 0;
    virtual uint32_t GetChannelCount() = 0;
    // How a channel's RTP travels, read afresh from the driver configuration
    // file at every call.
    virtual TransportMode GetRtpMode(uint32_t channel) = 0;
    // Empty when there is none or it is exactly "(none)".
    virtual std::string GetParameterText(int32_t index) = 0;
    // kNoParameterInt when there is none or it is not an integer.
    virtual int32_t GetParameterInt(int32_t index) = 0;
};

}  // namespace telvaro
