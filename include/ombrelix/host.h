// Objects the recorder host hands to the driver. The driver never owns or
// destroys them and calls only the operations below, from its own threads.
// Texts in both directions are zero-terminated 8-bit strings, valid only
// during the call.
#pragma once

#include <cstdint>

#include "ombrelix/abi.h"

#if defined(_MSC_VER)
#include <windows.h>
#elif defined(_WIN32)
// The Win32 record under the guard that the system headers use for it, so
// that either may come first.
#ifndef _SYSTEMTIME_
#define _SYSTEMTIME_
typedef struct _SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;
#endif
#else
// Same layout as the Win32 record: a UTC calendar time.
struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
#endif

// A debug message as the host's sink receives it.
class CDebugInfoIf {
public:
    OMBRELIX_INTERFACE(CDebugInfoIf)
    virtual uint8_t GetLevel() const = 0;
    // Null when the message text is empty.
    virtual const char* GetText() const = 0;
};

namespace telvaro {
namespace ipcapture {

class IDebugSink {
public:
    OMBRELIX_INTERFACE(IDebugSink)
    // The sink copies level and text during the call if it keeps them.
    virtual void Receive(const CDebugInfoIf* info) = 0;
};

class IMediaSample {
public:
    OMBRELIX_INTERFACE(IMediaSample)
    // At least the capacity asked for at allocation.
    virtual uint8_t* GetBuffer() = 0;
    virtual void SetLength(uint32_t length) = 0;
    virtual void SetTime(const SYSTEMTIME& utc) = 0;
    virtual void SetFourCC(uint32_t fourcc) = 0;
    virtual void SetHeight(uint32_t height) = 0;
    virtual void SetWidth(uint32_t width) = 0;
    virtual void SetSizeClass(uint32_t sizeClass) = 0;
};

class ISampleAllocator {
public:
    OMBRELIX_INTERFACE(ISampleAllocator)
    // Null when no sample can be given.
    virtual IMediaSample* AllocateSample(uint32_t fourcc, uint32_t capacity,
                                         const char* driverName) = 0;
    virtual void ReleaseSample(IMediaSample* sample) = 0;
};

class IDeviceModelInfo {
public:
    OMBRELIX_INTERFACE(IDeviceModelInfo)
    virtual const char* GetModelText() = 0;
    virtual uint32_t GetChannelCount() = 0;
    virtual uint32_t GetInputCount() = 0;
    virtual uint32_t GetOutputCount() = 0;
};

// Codec codes of the connection part.
enum : int32_t { kCodecJpeg = 1, kCodecMpeg4 = 2, kCodecH264 = 3 };

class IDeviceConnection {
public:
    OMBRELIX_INTERFACE(IDeviceConnection)
    virtual const char* GetAddress() = 0;
    virtual uint16_t GetPort() = 0;
    virtual int32_t GetCodecType() = 0;
    virtual const char* GetUserName() = 0;
    virtual const char* GetPassword() = 0;
};

class IDeviceConfig {
public:
    OMBRELIX_INTERFACE(IDeviceConfig)
    virtual IDeviceModelInfo* GetModelInfo() = 0;
    virtual IDeviceConnection* GetConnection() = 0;
    // Device parameter by index counted from 1; null when there is none.
    virtual const char* GetParameter(int32_t index) = 0;
};

class IStreamSink {
public:
    OMBRELIX_INTERFACE(IStreamSink)
    // True accepts the frame; a thrown exception counts as false.
    virtual bool OnSample(IMediaSample* sample) = 0;
    // Frames have stayed away for longer than twice the no-data time-out.
    virtual void OnSignalLost() = 0;
};

class IImageSize {
public:
    OMBRELIX_INTERFACE(IImageSize)
    virtual uint16_t GetWidth() = 0;
    virtual uint16_t GetHeight() = 0;
};

class IStreamImageConfig {
public:
    OMBRELIX_INTERFACE(IStreamImageConfig)
    virtual IImageSize* GetSize() = 0;
};

// Three operations in the host's order; the driver calls the first and the
// third.
class IStreamRateConfig {
public:
    OMBRELIX_INTERFACE(IStreamRateConfig)
    // Milliseconds between frames.
    virtual uint16_t GetFrameInterval() = 0;
    // Holds the place of the host's second operation; the driver never calls it.
    virtual uint16_t GetReservedValue() = 0;
    virtual uint16_t GetQuality() = 0;
};

class IStreamConfig {
public:
    OMBRELIX_INTERFACE(IStreamConfig)
    virtual IStreamImageConfig* GetImageConfig() = 0;
    virtual IStreamRateConfig* GetRateConfig() = 0;
};

// Input states reported to the host.
enum : uint32_t { kInputInactive = 1, kInputActive = 2 };

class IIOEventSink {
public:
    OMBRELIX_INTERFACE(IIOEventSink)
    virtual void OnInputChanged(uint32_t inputIndex, uint32_t state) = 0;
    virtual void OnIOFailure() = 0;
};

class ICapabilityQueryCallback {
public:
    OMBRELIX_INTERFACE(ICapabilityQueryCallback)
    virtual void OnSuccess() = 0;
    virtual void OnFailure(int32_t code, const char* message) = 0;
};

class ITextField {
public:
    OMBRELIX_INTERFACE(ITextField)
    virtual void SetText(const char* text) = 0;
};

class IProperty {
public:
    OMBRELIX_INTERFACE(IProperty)
    virtual void SetValue(const char* value) = 0;
    virtual void SetKind(uint32_t kind) = 0;
    virtual void SetName(const char* name) = 0;
    virtual void SetReserved(uint32_t reserved) = 0;
};

class IResolutionList {
public:
    OMBRELIX_INTERFACE(IResolutionList)
    virtual void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) = 0;
};

class IFrameIntervalList {
public:
    OMBRELIX_INTERFACE(IFrameIntervalList)
    virtual void SetDefault(uint32_t interval) = 0;
    virtual void Add(uint32_t interval) = 0;
};

class ICapabilityResults {
public:
    OMBRELIX_INTERFACE(ICapabilityResults)
    virtual void SetValue(uint32_t key, uint32_t value) = 0;
    virtual void SetName(const char* name) = 0;
    // Fields 1 to 4: address, port, user name, password.
    virtual ITextField* GetConnectionField(uint32_t field) = 0;
    virtual IProperty* GetProperty(uint32_t index) = 0;
    virtual IResolutionList* GetResolutionList() = 0;
    virtual IFrameIntervalList* GetFrameIntervalList(uint32_t which) = 0;
};

}  // namespace ipcapture
}  // namespace telvaro
