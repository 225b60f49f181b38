// The library's entry points. No exception leaves them.
#include "ombrelix/exports.h"

#include <new>

#include "driver/ombrelix_driver.h"
#include "platform/thread_cancel.h"

namespace {

telvaro::COmbrelixDriver* NewDriver() {
    try {
        return new telvaro::COmbrelixDriver();
    } catch (...) {
        return nullptr;
    }
}

void DeleteDriver(telvaro::ipcapture::IIPCaptureDriver* driver) {
    try {
        delete driver;
    } catch (...) {
        telvaro::platform::SwallowUnlessCancelled();
    }
}

}  // namespace

OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriver* CreateIPCapture() { return NewDriver(); }
OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx() { return NewDriver(); }
OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriverEx2* CreateIPCaptureEx2() { return NewDriver(); }
OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriverEx3* CreateIPCaptureEx3() { return NewDriver(); }
OMBRELIX_EXPORT void DeleteIPCapture(telvaro::ipcapture::IIPCaptureDriver* driver) { DeleteDriver(driver); }
OMBRELIX_EXPORT void DeleteIPCaptureEx(telvaro::ipcapture::IIPCaptureDriverEx* driver) { DeleteDriver(driver); }
OMBRELIX_EXPORT void DeleteIPCaptureEx2(telvaro::ipcapture::IIPCaptureDriverEx2* driver) { DeleteDriver(driver); }
OMBRELIX_EXPORT void DeleteIPCaptureEx3(telvaro::ipcapture::IIPCaptureDriverEx3* driver) { DeleteDriver(driver); }
