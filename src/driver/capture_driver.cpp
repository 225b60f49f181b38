#include "driver/capture_driver.h"

#include <cstdarg>
#include <new>

#include "channel/h264_channel_rtsp.h"
#include "channel/jpeg_channel_rtsp.h"
#include "channel/mpeg4_channel_rtsp.h"
#include "driver/config_file.h"
#include "driver/debug_info.h"
#include "platform/http_transport.h"
#include "platform/process.h"
#include "platform/thread_cancel.h"
#include "util/text.h"

namespace telvaro {

namespace {

// Guards against a device description that never stops answering.
constexpr int32_t kMaxParameters = 65535;

std::string SafeText(const char* text) { return text ? std::string(text) : std::string(); }

HostVersion ReadHostVersion() {
    platform::LibraryVersion v;
    if (!platform::LoadedLibraryVersion("brannock", v)) {
        HostVersion assumed;
        assumed.major = 5;
        assumed.minor = 12;
        return assumed;
    }
    HostVersion host;
    host.major = v.major;
    host.minor = v.minor;
    host.build = v.build;
    host.revision = v.revision;
    return host;
}

}  // namespace

uint8_t GradeMessageLevel(int32_t type, const HostVersion& host) {
    uint8_t level = static_cast<uint8_t>(type & 0xFF);
    const bool before512 = host.major < 5 || (host.major == 5 && host.minor < 12);
    const bool from63 = host.major > 6 || (host.major == 6 && host.minor >= 3);
    if (before512) {
        if (type == kMessageNotice || type == kMessageOpened) level = 2;
    } else if (!from63) {
        if (type == kMessageOpened) level = 3;
    }
    return level;
}

CIPCaptureDriver::CIPCaptureDriver() = default;

CIPCaptureDriver::~CIPCaptureDriver() {
    // Derived classes close in their own destructor while they still exist;
    // this only catches what is left.
    Close();
    parameters_.clear();
}

bool CIPCaptureDriver::Open(ipcapture::IDebugSink* debugSink, ipcapture::ISampleAllocator* allocator,
                            ipcapture::IDeviceConfig* device) {
    debugSink_ = debugSink;
    allocator_ = allocator;
    if (!device) return false;
    ipcapture::IDeviceModelInfo* model = device->GetModelInfo();
    ipcapture::IDeviceConnection* connection = device->GetConnection();
    if (!model || !connection) return false;

    codecType_ = connection->GetCodecType();
    inputCount_ = model->GetInputCount();
    outputCount_ = model->GetOutputCount();
    channelCount_ = model->GetChannelCount();
    deviceInfo_.address = SafeText(connection->GetAddress());
    deviceInfo_.port = connection->GetPort();
    deviceInfo_.userName = SafeText(connection->GetUserName());
    deviceInfo_.password = SafeText(connection->GetPassword());
    deviceInfo_.deviceModel = SafeText(model->GetModelText());

    for (int32_t index = 1; index <= kMaxParameters; ++index) {
        const char* text = device->GetParameter(index);
        if (!text) break;
        parameters_[index] = text;
    }

    hostVersion_ = ReadHostVersion();
    // Said once here; every camera exchange of the device refuses them.
    const std::string credentialFault = CredentialFault(deviceInfo_.userName, deviceInfo_.password);
    if (!credentialFault.empty()) {
        DebugMessage(kMessageFailure, "%s: %s: no request is sent to the camera", "telvaro::CIPCaptureDriver::Open",
                     credentialFault.c_str());
    }

    if (!CreateCaptureIO()) return false;
    if (!CreateAuxCapture()) return false;
    // Without memory for it the device still opens, without video.
    try {
        videoCapture_.reset(new CIPVideoCapture(model->GetChannelCount(), this));
    } catch (const std::bad_alloc&) {
    }
    return true;
}

void CIPCaptureDriver::Close() {
    videoCapture_.reset();
    captureIO_.reset();
    auxCapture_.reset();
    // The host may unload the library next.
    platform::HttpTransport::AwaitLeftBehind();
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() { return videoCapture_.get(); }

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx() { return videoCapture_.get(); }

ICaptureIOApi* CIPCaptureDriver::GetCaptureIO() { return captureIO_.get(); }

void CIPCaptureDriver::LogOpened(ipcapture::IDeviceConfig* device, const std::string& name,
                                 const std::string& firmware) {
    if (name.empty() || !device) return;
    ipcapture::IDeviceModelInfo* model = device->GetModelInfo();
    ipcapture::IDeviceConnection* connection = device->GetConnection();
    if (!model || !connection) return;
    std::string text = FormatText("DRIVER IS OPENED (name: %s, device model: %s", name.c_str(),
                                  SafeText(model->GetModelText()).c_str());
    if (!firmware.empty()) text += ", FW: " + firmware;
    text += FormatText(", address: %s:%u)", SafeText(connection->GetAddress()).c_str(),
                       static_cast<unsigned>(connection->GetPort()));
    DebugMessage(kMessageOpened, "%s", text.c_str());
}

void CIPCaptureDriver::DebugMessage(DebugMessageType type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    if (type == kMessageDiscarded) return;
    ipcapture::IDebugSink* sink = debugSink_;
    if (!sink) return;
    CDebugInfo info(GradeMessageLevel(type, hostVersion_), text.c_str());
    try {
        sink->Receive(&info);
    } catch (...) {
        // A failing host sink must not take a driver thread down with it.
        platform::SwallowUnlessCancelled();
    }
}

std::string CIPCaptureDriver::GetParameterText(int32_t index) {
    auto it = parameters_.find(index);
    if (it == parameters_.end() || it->second == "(none)") return std::string();
    return it->second;
}

int32_t CIPCaptureDriver::GetParameterInt(int32_t index) {
    auto it = parameters_.find(index);
    if (it == parameters_.end()) return kNoParameterInt;
    int32_t value = 0;
    if (!ParseDecimal(it->second, value)) return kNoParameterInt;
    return value;
}

ICameraChannel* CIPCaptureDriver::CreateChannel(uint32_t channel, ipcapture::IStreamSink* sink) {
    try {
        switch (codecType_) {
            case ipcapture::kCodecJpeg:
                return new CJPEGChannelRTSP(this, channel, sink);
            case ipcapture::kCodecMpeg4:
                return new CMPEG4ChannelRTSP(this, channel, sink);
            case ipcapture::kCodecH264:
                return new CH264ChannelRTSP(this, channel, sink);
            default:
                DebugMessage(kMessageFailure, "%s: codec type %d has no channel class",
                             "telvaro::CIPCaptureDriver::CreateChannel", static_cast<int>(codecType_));
                return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

TransportMode CIPCaptureDriver::GetRtpMode(uint32_t channel) {
    return telvaro::GetRtpMode(GetDeviceInfo(), channel, GetName());
}

}  // namespace telvaro
