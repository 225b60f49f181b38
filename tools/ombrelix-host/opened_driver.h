// One driver object made through the exports and opened with a device, for
// the length of a command; deleted through the exports again.
#pragma once

#include <string>

#include "hostkit/driver_library.h"
#include "ombrelix/exports.h"

namespace host {

class OpenedDriver {
public:
    OpenedDriver() = default;
    ~OpenedDriver();
    OpenedDriver(const OpenedDriver&) = delete;
    OpenedDriver& operator=(const OpenedDriver&) = delete;

    // False with a reason when the library lacks the entry points or the
    // driver does not open the device.
    bool Open(hostkit::DriverLibrary& library, telvaro::ipcapture::IDebugSink* debug,
              telvaro::ipcapture::ISampleAllocator* allocator, telvaro::ipcapture::IDeviceConfig* device,
              std::string& error);
    // Closes and deletes the driver object.
    void Close();
    telvaro::ipcapture::IIPCaptureDriverEx3* operator->() const { return driver_; }

private:
    telvaro::ipcapture::IIPCaptureDriverEx3* driver_ = nullptr;
    ombrelix_abi::DeleteIPCaptureEx3Fn destroy_ = nullptr;
};

}  // namespace host
