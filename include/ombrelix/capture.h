// Interfaces the driver gives the host. Each begins with a virtual
// destructor; the operations follow in the order the host binds to.
#pragma once

#include <cstdint>

#include "ombrelix/host.h"

namespace telvaro {

// Digital I/O of the opened device.
class ICaptureIOApi {
public:
    OMBRELIX_INTERFACE(ICaptureIOApi)
    virtual bool SetEventSink(ipcapture::IIOEventSink* sink) = 0;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual uint32_t GetInputCount() = 0;
    virtual uint32_t GetOutputCount() = 0;
    virtual bool SetOutput(int32_t outputIndex, int32_t value) = 0;
};

namespace ipcapture {

class IIPVideoCapture {
public:
    OMBRELIX_INTERFACE(IIPVideoCapture)
    virtual uint32_t GetChannelCount() = 0;
    virtual bool StartChannel(uint32_t channel, IStreamSink* sink, IStreamConfig* settings) = 0;
    virtual bool StopChannel(uint32_t channel) = 0;
    virtual bool ChangeChannel(uint32_t channel, IImageSize* size, uint32_t frameInterval) = 0;
    virtual int32_t GetReservedValue() = 0;
    // State 0 streaming, 2 signal lost or stopped.
    virtual bool GetChannelStatus(uint32_t channel, uint32_t* state, uint32_t* errorCode,
                                  char* text, uint32_t textSize) = 0;
    virtual bool ReservedOperationA(uint32_t a, uint32_t b, uint32_t c) = 0;
    virtual bool ReservedOperationB(uint32_t a, uint32_t b, uint32_t c) = 0;
};

class IIPVideoCaptureEx : public IIPVideoCapture {
public:
    virtual bool ReservedOperationC(uint32_t a) = 0;
    virtual bool ReservedOperationD(uint32_t a) = 0;
};

class IIPCaptureDriver {
public:
    OMBRELIX_INTERFACE(IIPCaptureDriver)
    virtual bool Open(IDebugSink* debugSink, ISampleAllocator* allocator, IDeviceConfig* device) = 0;
    virtual void Close() = 0;
    virtual IIPVideoCapture* GetVideoCapture() = 0;
    virtual ICaptureIOApi* GetCaptureIO() = 0;
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
public:
    virtual void* GetReservedA() = 0;
    virtual void* GetAuxCapture() = 0;
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
public:
    virtual void* GetReservedB() = 0;
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
public:
    virtual void* GetAuxCaptureEx() = 0;
};

}  // namespace ipcapture
}  // namespace telvaro
