// Entry points of the driver library, with the pointer types a host uses
// after looking them up by name.
#pragma once

#include "ombrelix/capture.h"

#if defined(_WIN32)
#define OMBRELIX_EXPORT extern "C" __declspec(dllexport)
#else
#define OMBRELIX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriver* CreateIPCapture();
OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx();
OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriverEx2* CreateIPCaptureEx2();
OMBRELIX_EXPORT telvaro::ipcapture::IIPCaptureDriverEx3* CreateIPCaptureEx3();
OMBRELIX_EXPORT void DeleteIPCapture(telvaro::ipcapture::IIPCaptureDriver* driver);
OMBRELIX_EXPORT void DeleteIPCaptureEx(telvaro::ipcapture::IIPCaptureDriverEx* driver);
OMBRELIX_EXPORT void DeleteIPCaptureEx2(telvaro::ipcapture::IIPCaptureDriverEx2* driver);
OMBRELIX_EXPORT void DeleteIPCaptureEx3(telvaro::ipcapture::IIPCaptureDriverEx3* driver);

// Capability query: what a camera offers, without opening a capture.
// InitCapabilityQuery returns 0 when a callback is registered already, else 1.
OMBRELIX_EXPORT int32_t InitCapabilityQuery(telvaro::ipcapture::ICapabilityQueryCallback* callback, uint8_t videoStandard);
// Starts one query on a thread of its own; 0 when it cannot be started.
OMBRELIX_EXPORT int32_t StartCapabilityQuery(const char* address, uint16_t port, const char* userName,
                                             const char* password, telvaro::ipcapture::ICapabilityResults* results);
OMBRELIX_EXPORT int32_t TerminateCapabilityQuery();
// Waits up to 5000 ms for a running query and forgets the callback.
OMBRELIX_EXPORT int32_t UninitCapabilityQuery();

namespace ombrelix_abi {
using CreateIPCaptureFn = telvaro::ipcapture::IIPCaptureDriver* (*)();
using CreateIPCaptureExFn = telvaro::ipcapture::IIPCaptureDriverEx* (*)();
using CreateIPCaptureEx2Fn = telvaro::ipcapture::IIPCaptureDriverEx2* (*)();
using CreateIPCaptureEx3Fn = telvaro::ipcapture::IIPCaptureDriverEx3* (*)();
using DeleteIPCaptureFn = void (*)(telvaro::ipcapture::IIPCaptureDriver*);
using DeleteIPCaptureExFn = void (*)(telvaro::ipcapture::IIPCaptureDriverEx*);
using DeleteIPCaptureEx2Fn = void (*)(telvaro::ipcapture::IIPCaptureDriverEx2*);
using DeleteIPCaptureEx3Fn = void (*)(telvaro::ipcapture::IIPCaptureDriverEx3*);
using InitCapabilityQueryFn = int32_t (*)(telvaro::ipcapture::ICapabilityQueryCallback*, uint8_t);
using StartCapabilityQueryFn = int32_t (*)(const char*, uint16_t, const char*, const char*,
                                           telvaro::ipcapture::ICapabilityResults*);
using TerminateCapabilityQueryFn = int32_t (*)();
using UninitCapabilityQueryFn = int32_t (*)();
}  // namespace ombrelix_abi
