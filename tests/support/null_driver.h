// Driver services that answer every question with nothing, for programs
// that only need a depacketizer to run (fuzz targets, benchmarks). Header
// only, so that it needs no library of its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/idriver.h"
#include "core/transport_mode.h"

namespace fakes {

class NullDriver : public telvaro::IDriver {
public:
    explicit NullDriver(telvaro::ipcapture::ISampleAllocator* allocator = nullptr) : allocator_(allocator) {}

    void DebugMessage(telvaro::DebugMessageType, const char*, ...) override {}
    std::string GetName() override { return "Ombrelix"; }
    telvaro::DEVICE_INFO GetDeviceInfo() override { return telvaro::DEVICE_INFO(); }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {0, 0}; }
    telvaro::ipcapture::ISampleAllocator* GetSampleAllocator() override { return allocator_; }
    int32_t GetCustomValue() override { return 0; }
    int32_t GetCodecType() override { return 0; }
    uint32_t GetChannelCount() override { return 1; }
    telvaro::TransportMode GetRtpMode(uint32_t) override { return telvaro::kRtpOverUdp; }
    std::string GetParameterText(int32_t) override { return ""; }
    int32_t GetParameterInt(int32_t) override { return telvaro::kNoParameterInt; }

private:
    telvaro::ipcapture::ISampleAllocator* allocator_;
};

}  // namespace fakes
