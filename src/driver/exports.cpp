// The library's entry points. No exception leaves them.
#include "ombrelix/exports.h"

#include <new>

#include "driver/capability_query.h"
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
        if (driver) ombrelix_abi::DeleteObject(driver);
    } catch (...) {
        telvaro::platform::SwallowUnlessCancelled();
    }
}

// One capability query state per loaded library, made at the first call.
// Its destructor does not wait, so unloading never blocks on a query the
// host left running.
telvaro::CCapabilityQuery& CapabilityQuery() {
    static telvaro::CCapabilityQuery query;
    return query;
}

template <typename Call>
int32_t Guarded(Call call) {
    try {
        return call();
    } catch (...) {
        telvaro::platform::SwallowUnlessCancelled();
        return 0;
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

OMBRELIX_EXPORT int32_t InitCapabilityQuery(telvaro::ipcapture::ICapabilityQueryCallback* callback,
                                            uint8_t videoStandard) {
    return Guarded([&] { return CapabilityQuery().Init(callback, videoStandard); });
}

OMBRELIX_EXPORT int32_t StartCapabilityQuery(const char* address, uint16_t port, const char* userName,
                                             const char* password, telvaro::ipcapture::ICapabilityResults* results) {
    return Guarded([&] { return CapabilityQuery().Start(address, port, userName, password, results); });
}

OMBRELIX_EXPORT int32_t TerminateCapabilityQuery() {
    return Guarded([] { return CapabilityQuery().Terminate(); });
}

OMBRELIX_EXPORT int32_t UninitCapabilityQuery() {
    return Guarded([] { return CapabilityQuery().Uninit(); });
}
