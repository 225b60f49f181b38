// The protocol-independent half of the driver object: what the host holds
// after creating a driver, opened once with one device.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "driver/custom_creator.h"
#include "core/device_info.h"
#include "core/idriver.h"
#include "driver/video_capture.h"
#include "ombrelix/capture.h"

namespace telvaro {

struct HostVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// Level the host's sink receives for a message type, graded by the host's
// version: before 5.12 notices and the opened line come as level 2; from
// 5.12 up to 6.3 the opened line comes as level 3.
uint8_t GradeMessageLevel(int32_t type, const HostVersion& host);

// Stand-in type for the auxiliary capture object this driver never makes.
class IAuxCapture {
public:
    virtual ~IAuxCapture() = default;
};

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx3, public IDriver, public ICustomCreator {
    OMBRELIX_DESTRUCTOR_SLOT(CIPCaptureDriver)
public:
    CIPCaptureDriver();
    ~CIPCaptureDriver() override;

    // IIPCaptureDriver and its generations.
    bool Open(ipcapture::IDebugSink* debugSink, ipcapture::ISampleAllocator* allocator,
              ipcapture::IDeviceConfig* device) override;
    void Close() override;
    ipcapture::IIPVideoCapture* GetVideoCapture() override;
    ICaptureIOApi* GetCaptureIO() override;
    void* GetReservedA() override { return nullptr; }
    void* GetAuxCapture() override { return auxCapture_.get(); }
    void* GetReservedB() override { return nullptr; }
    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
    void* GetAuxCaptureEx() override { return auxCapture_.get(); }

    virtual bool CreateCaptureIO() = 0;
    virtual bool CreateAuxCapture() = 0;
    virtual void LogOpened(ipcapture::IDeviceConfig* device, const std::string& name,
                           const std::string& firmware);

    // IDriver.
    void DebugMessage(DebugMessageType type, const char* format, ...) override;
    DEVICE_INFO GetDeviceInfo() override { return deviceInfo_; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {inputCount_, outputCount_}; }
    ipcapture::ISampleAllocator* GetSampleAllocator() override { return allocator_; }
    int32_t GetCustomValue() override { return customValue_; }
    int32_t GetCodecType() override { return codecType_; }
    uint32_t GetChannelCount() override { return channelCount_; }
    TransportMode GetRtpMode(uint32_t channel) override;
    std::string GetParameterText(int32_t index) override;
    int32_t GetParameterInt(int32_t index) override;

    // ICustomCreator.
    ICameraChannel* CreateChannel(uint32_t channel, ipcapture::IStreamSink* sink) override;


protected:
    ipcapture::IDebugSink* debugSink_ = nullptr;
    ipcapture::ISampleAllocator* allocator_ = nullptr;
    DEVICE_INFO deviceInfo_;
    uint32_t inputCount_ = 0;
    uint32_t outputCount_ = 0;
    uint32_t channelCount_ = 0;
    int32_t codecType_ = 0;
    int32_t customValue_ = 0;
    std::map<int32_t, std::string> parameters_;
    HostVersion hostVersion_;
    std::unique_ptr<ICaptureIOApi, ombrelix_abi::SlotDeleter> captureIO_;
    std::unique_ptr<CIPVideoCapture> videoCapture_;
    std::unique_ptr<IAuxCapture> auxCapture_;
};

}  // namespace telvaro
