// Objects the recorder host hands to the driver. The driver never owns or
// destroys them and calls only the operations below, from its own threads.
// Texts in both directions are zero-terminated 8-bit strings, valid only
// during the call.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
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
    virtual ~CDebugInfoIf() = default;
    virtual uint8_t GetLevel() const = 0;
    // Null when the message text is empty.
    virtual const char* GetText() const = 0;
};

namespace telvaro {
namespace ipcapture {

class IDebugSink {
public:
    virtual ~IDebugSink() = default;
    // The sink copies level and text during the call if it keeps them.
    virtual void Receive(const CDebugInfoIf* info) = 0;
};

class IMediaSample {
public:
    virtual ~IMediaSample() = default;
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
    virtual ~ISampleAllocator() = default;
    // Null when no sample can be given.
    virtual IMediaSample* AllocateSample(uint32_t fourcc, uint32_t capacity,
                                         const char* driverName) = 0;
    virtual void ReleaseSample(IMediaSample* sample) = 0;
};

class IDeviceModelInfo {
public:
    virtual ~IDeviceModelInfo() = default;
    virtual const char* GetModelText() = 0;
    virtual uint32_t GetChannelCount() = 0;
    virtual uint32_t GetInputCount() = 0;
    virtual uint32_t GetOutputCount() = 0;
};

// Codec codes of the connection part.
enum : int32_t { kCodecJpeg = 1, kCodecMpeg4 = 2, kCodecH264 = 3 };

class IDeviceConnection {
public:
    virtual ~IDeviceConnection() = default;
    virtual const char* GetAddress() = 0;
    virtual uint16_t GetPort() = 0;
    virtual int32_t GetCodecType() = 0;
    virtual const char* GetUserName() = 0;
    virtual const char* GetPassword() = 0;
};

class IDeviceConfig {
public:
    virtual ~IDeviceConfig() = default;
    virtual IDeviceModelInfo* GetModelInfo() = 0;
    virtual IDeviceConnection* GetConnection() = 0;
    // Device parameter by index counted from 1; null when there is none.
    virtual const char* GetParameter(int32_t index) = 0;
};

class IStreamSink {
public:
    virtual ~IStreamSink() = default;
    // True accepts the frame; a thrown exception counts as false.
    virtual bool OnSample(IMediaSample* sample) = 0;
    // Frames have stayed away for longer than twice the no-data time-out.
    virtual void OnSignalLost() = 0;
};

class IImageSize {
public:
    virtual ~IImageSize() = default;
    virtual uint16_t GetWidth() = 0;
    virtual uint16_t GetHeight() = 0;
};

class IStreamImageConfig {
public:
    virtual ~IStreamImageConfig() = default;
    virtual IImageSize* GetSize() = 0;
};

// Three operations in the host's order; the driver calls the first and the
// third.
class IStreamRateConfig {
public:
    virtual ~IStreamRateConfig() = default;
    // Milliseconds between frames.
    virtual uint16_t GetFrameInterval() = 0;
    // Holds the place of the host's second operation; the driver never calls it.
    virtual uint16_t GetReservedValue() = 0;
    virtual uint16_t GetQuality() = 0;
};

class IStreamConfig {
public:
    virtual ~IStreamConfig() = default;
    virtual IStreamImageConfig* GetImageConfig() = 0;
    virtual IStreamRateConfig* GetRateConfig() = 0;
};

// Input states reported to the host.
enum : uint32_t { kInputInactive = 1, kInputActive = 2 };

class IIOEventSink {
public:
    virtual ~IIOEventSink() = default;
    virtual void OnInputChanged(uint32_t inputIndex, uint32_t state) = 0;
    virtual void OnIOFailure() = 0;
};

class ICapabilityQueryCallback {
public:
    virtual ~ICapabilityQueryCallback() = default;
    virtual void OnSuccess() = 0;
    virtual void OnFailure(int32_t code, const char* message) = 0;
};

class ITextField {
public:
    virtual ~ITextField() = default;
    virtual void SetText(const char* text) = 0;
};

class IProperty {
public:
    virtual ~IProperty() = default;
    virtual void SetValue(const char* value) = 0;
    virtual void SetKind(uint32_t kind) = 0;
    virtual void SetName(const char* name) = 0;
    virtual void SetReserved(uint32_t reserved) = 0;
};

class IResolutionList {
public:
    virtual ~IResolutionList() = default;
    virtual void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) = 0;
};

class IFrameIntervalList {
public:
    virtual ~IFrameIntervalList() = default;
    virtual void SetDefault(uint32_t interval) = 0;
    virtual void Add(uint32_t interval) = 0;
};

class ICapabilityResults {
public:
    virtual ~ICapabilityResults() = default;
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
