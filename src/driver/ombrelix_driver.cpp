#include "driver/ombrelix_driver.h"

#include "io/psia_io.h"

namespace telvaro {

COmbrelixDriver::COmbrelixDriver() = default;

COmbrelixDriver::~COmbrelixDriver() { Close(); }

bool COmbrelixDriver::Open(ipcapture::IDebugSink* debugSink, ipcapture::ISampleAllocator* allocator,
                           ipcapture::IDeviceConfig* device) {
    if (!CIPCaptureDriver::Open(debugSink, allocator, device)) return false;
    deviceInfo_.noDataTimeout = deviceInfo_.timeout * 2;
    int32_t custom = GetParameterInt(1);
    if (custom == kNoParameterInt) return false;
    customValue_ = custom;
    LogOpened(device, "Ombrelix", std::string());
    return true;
}

bool COmbrelixDriver::CreateCaptureIO() {
    if (!captureIO_) captureIO_.reset(new CPSIAIO(this));
    return true;
}

}  // namespace telvaro
