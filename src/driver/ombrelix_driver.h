// The PSIA driver object: names the driver, makes its I/O object, sets the
// no-data time-out and requires device parameter 1.
#pragma once

#include "driver/capture_driver.h"

namespace telvaro {

class COmbrelixDriver : public CIPCaptureDriver {
public:
    COmbrelixDriver();
    ~COmbrelixDriver() override;

    bool Open(ipcapture::IDebugSink* debugSink, ipcapture::ISampleAllocator* allocator,
              ipcapture::IDeviceConfig* device) override;
    std::string GetName() override { return "Ombrelix"; }
    bool CreateCaptureIO() override;
    bool CreateAuxCapture() override { return true; }
};

}  // namespace telvaro
