#include "opened_driver.h"

namespace host {

OpenedDriver::~OpenedDriver() { Close(); }

bool OpenedDriver::Open(hostkit::DriverLibrary& library, telvaro::ipcapture::IDebugSink* debug,
                        telvaro::ipcapture::ISampleAllocator* allocator, telvaro::ipcapture::IDeviceConfig* device,
                        std::string& error) {
    auto create = library.Get<ombrelix_abi::CreateIPCaptureEx3Fn>("CreateIPCaptureEx3");
    destroy_ = library.Get<ombrelix_abi::DeleteIPCaptureEx3Fn>("DeleteIPCaptureEx3");
    if (!create || !destroy_) {
        error = library.Path() + " lacks the driver entry points";
        return false;
    }
    driver_ = create();
    if (!driver_ || !driver_->Open(debug, allocator, device)) {
        error = "the driver did not open the device";
        Close();
        return false;
    }
    return true;
}

void OpenedDriver::Close() {
    if (!driver_) return;
    driver_->Close();
    destroy_(driver_);
    driver_ = nullptr;
}

}  // namespace host
