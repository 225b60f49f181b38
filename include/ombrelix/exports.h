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

namespace ombrelix_abi {
using CreateIPCaptureFn = telvaro::ipcapture::IIPCaptureDriver* (*)();
using CreateIPCaptureExFn = telvaro::ipcapture::IIPCaptureDriverEx* (*)();
using CreateIPCaptureEx2Fn = telvaro::ipcapture::IIPCaptureDriverEx2* (*)();
using CreateIPCaptureEx3Fn = telvaro::ipcapture::IIPCaptureDriverEx3* (*)();
using DeleteIPCaptureFn = void (*)(telvaro::ipcapture::IIPCaptureDriver*);
using DeleteIPCaptureExFn = void (*)(telvaro::ipcapture::IIPCaptureDriverEx*);
using DeleteIPCaptureEx2Fn = void (*)(telvaro::ipcapture::IIPCaptureDriverEx2*);
using DeleteIPCaptureEx3Fn = void (*)(telvaro::ipcapture::IIPCaptureDriverEx3*);
}  // namespace ombrelix_abi
