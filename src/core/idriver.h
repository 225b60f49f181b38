// Driver services handed to channels, depacketizers, the I/O object and the
// capability query.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/device_info.h"
#include "ombrelix/host.h"
#include "util/printf_format.h"


// Message types: 1 failure or lost signal, 3 notice, 4 discarded, 100 the
// opened line.
class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;
    virtual void DebugMessage(int32_t type, const char* format, ...) OMBRELIX_PRINTF(3, 4) = 0;
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
    // How a channel's RTP travels (kRtpOverUdp, kRtpOverTcp, kRtpOverRtsp),
    // read afresh from the driver configuration file at every call.
    virtual int32_t GetRtpMode(uint32_t channel) = 0;
    // Empty when there is none or it is exactly "(none)".
    virtual std::string GetParameterText(int32_t index) = 0;
    // kNoParameterInt when there is none or it is not an integer.
    virtual int32_t GetParameterInt(int32_t index) = 0;
};

}  // namespace telvaro
