// A driver-services object for unit tests: every answer is settable and
// every debug message is recorded with its type and formatted text.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/idriver.h"
#include "support/fake_host.h"

namespace fakes {

struct DriverMessage {
    int32_t type;
    std::string text;
};

class FakeDriver : public telvaro::IDriver {
public:
    FakeDriver();

    void DebugMessage(telvaro::DebugMessageType type, const char* format, ...) override;
    std::string GetName() override { return name; }
    telvaro::DEVICE_INFO GetDeviceInfo() override;
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {inputs, outputs}; }
    ISampleAllocator* GetSampleAllocator() override { return allocator; }
    int32_t GetCustomValue() override { return customValue; }
    int32_t GetCodecType() override { return codec; }
    uint32_t GetChannelCount() override { return channels; }
    // As the driver does: from the configuration file next to the executable.
    telvaro::TransportMode GetRtpMode(uint32_t channel) override;
    std::string GetParameterText(int32_t index) override;
    int32_t GetParameterInt(int32_t index) override;

    void SetDeviceInfo(const telvaro::DEVICE_INFO& info);
    void SetParameter(int32_t index, const std::string& text);

    std::vector<DriverMessage> Messages();
    size_t CountMessages(const std::string& fragment);
    bool WaitForMessage(const std::string& fragment, int timeoutMs);
    void ClearMessages();

    std::string name = "Ombrelix";
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    ISampleAllocator* allocator = nullptr;
    int32_t customValue = 0;
    int32_t codec = 3;
    uint32_t channels = 1;

private:
    std::mutex mu_;
    std::condition_variable cv_;
    telvaro::DEVICE_INFO info_;
    std::map<int32_t, std::string> parameters_;
    std::vector<DriverMessage> messages_;
};

}  // namespace fakes
