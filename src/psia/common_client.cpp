#include "psia/common_client.h"

#include <cstring>

#include "psia/psia_builders.h"
#include "psia/psia_parsers.h"
#include "psia/text.h"

namespace telvaro {

namespace {

const char kChannelsPath[] = "/PSIA/Streaming/channels";

// A reference to the client's sender for the length of one exchange. The
// count is not atomic, so the copy is taken and given back under the
// client's lock; the exchange itself runs outside it, and a Disconnect
// meanwhile only drops the client's own reference.
class SenderCopy {
public:
    SenderCopy(CRecursiveLock& lock, const TSmartPtr<Web::CHttpSender>& sender) : lock_(lock) {
        CLockScope scope(lock_);
        copy_ = sender;
    }
    ~SenderCopy() {
        CLockScope scope(lock_);
        copy_.Release();
    }
    SenderCopy(const SenderCopy&) = delete;
    SenderCopy& operator=(const SenderCopy&) = delete;

    Web::CHttpSender* Get() const { return copy_.Get(); }

private:
    CRecursiveLock& lock_;
    TSmartPtr<Web::CHttpSender> copy_;
};

// The response as a terminated text: everything before the first zero byte.
std::string TextOf(const std::vector<uint8_t>& output) {
    if (output.empty()) return std::string();
    const void* end = std::memchr(output.data(), 0, output.size());
    size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - output.data()) : output.size();
    return std::string(reinterpret_cast<const char*>(output.data()), length);
}

std::vector<std::string> XmlHeaders(const std::string& body) {
    return {"Content-Type: application/xml; charset=\"UTF-8\"",
            FormatText("Content-Length: %u", static_cast<uint32_t>(body.size()))};
}

}  // namespace

CCommonClient::CCommonClient() = default;

CCommonClient::~CCommonClient() { Disconnect(); }

bool CCommonClient::Connect(const DEVICE_INFO& settings) {
    Disconnect();
    if (&settings != &settings_) settings_ = settings;
    CLockScope scope(lock_);
    sender_.Attach(new Web::CHttpSender(settings_));
    if (sender_) sender_->SetAbortFlag(abortFlag_);
    return static_cast<bool>(sender_);
}

void CCommonClient::SetAbortFlag(const std::atomic<bool>* flag) {
    CLockScope scope(lock_);
    abortFlag_ = flag;
    if (sender_) sender_->SetAbortFlag(flag);
}

void CCommonClient::Disconnect() {
    CLockScope scope(lock_);
    sender_.Release();
}

bool CCommonClient::Get(const std::string& path, std::string& text) {
    text.clear();
    SenderCopy sender(lock_, sender_);
    if (!sender.Get()) return false;
    std::vector<uint8_t> output;
    const bool ok = Web::HttpGet(*sender.Get(), path, output);
    if (ok) text = TextOf(output);
    return Judge("GET", path, sender.Get()->StatusCode(), ok && !text.empty());
}

bool CCommonClient::Put(const std::string& path, const std::string& body, std::string& text) {
    text.clear();
    SenderCopy sender(lock_, sender_);
    if (!sender.Get()) return false;
    std::vector<uint8_t> output;
    const bool ok = Web::HttpPut(*sender.Get(), path, XmlHeaders(body), body, output);
    if (ok) text = TextOf(output);
    return Judge("PUT", path, sender.Get()->StatusCode(), ok && !text.empty());
}

bool CCommonClient::Judge(const char* method, const std::string& path, uint32_t status, bool ok) {
    if (ok) return true;
    std::string reason;
    if (status == 0) {
        reason = FormatText("%s %s: no answer from %s:%u", method, path.c_str(), settings_.address.c_str(),
                            static_cast<unsigned>(settings_.port));
    } else if (status != 200) {
        reason = FormatText("%s %s answered HTTP %u", method, path.c_str(), status);
    } else {
        reason = FormatText("%s %s: empty answer", method, path.c_str());
    }
    CLockScope scope(lock_);
    lastFailure_ = reason;
    return false;
}

std::string CCommonClient::LastFailure() {
    CLockScope scope(lock_);
    return lastFailure_;
}

bool CCommonClient::QueryDeviceInfo(PsiaDeviceInfo& info) {
    std::string text;
    return Get("/PSIA/System/deviceInfo", text) && ParseDeviceInfo(text, info);
}

bool CCommonClient::Reboot() {
    std::string text;
    return Get("/PSIA/System/reboot", text);
}

bool CCommonClient::GetStreamingChannels(std::vector<StreamingChannelSettings>& channels) {
    std::string text;
    return Get(kChannelsPath, text) && ParseStreamingChannelList(text, channels);
}

bool CCommonClient::GetStreamingChannel(uint32_t channelId, StreamingChannelSettings& settings) {
    std::string text;
    const std::string path = FormatText("%s/%u", kChannelsPath, channelId);
    if (!Get(path, text)) return false;
    if (ParseStreamingChannel(text, settings)) return true;
    CLockScope scope(lock_);
    lastFailure_ = FormatText("GET %s: the answer is not a streaming channel document", path.c_str());
    return false;
}

bool CCommonClient::GetChannelCapabilities(uint32_t channelId, ChannelCapabilities& capabilities) {
    std::string text;
    return Get(FormatText("%s/%u/capabilities", kChannelsPath, channelId), text) &&
           ParseCapabilities(text, capabilities);
}

bool CCommonClient::JudgeChannelStatus(const std::string& text) {
    ResponseStatus status;
    if (!ParseResponseStatus(text, status)) return false;
    if (status.statusCode == kPsiaStatusRebootRequired) return Reboot();
    return status.statusCode == kPsiaStatusOk;
}

bool CCommonClient::SetStreamingChannel(const StreamingChannelSettings& settings) {
    std::string text;
    if (Put(FormatText("%s/%u", kChannelsPath, settings.id), BuildStreamingChannel(settings), text)) {
        return JudgeChannelStatus(text);
    }
    // Some cameras only take channel changes as a whole list.
    if (Put(kChannelsPath, BuildStreamingChannelList(settings), text)) return JudgeChannelStatus(text);
    return false;
}

bool CCommonClient::Connected() {
    CLockScope scope(lock_);
    return static_cast<bool>(sender_);
}

bool CCommonClient::AbortRequested() {
    CLockScope scope(lock_);
    return abortFlag_ && abortFlag_->load();
}

bool CCommonClient::GetIOPorts(IOPortLists& ports) {
    // The fallback below succeeds whatever the camera answers; without a
    // sender there is no camera to ask, and that must not read as success.
    if (!Connected()) return false;
    std::string text;
    if (Get("/PSIA/System/IO", text)) return ParseIOPortList(text, ports);
    // Cameras without the combined list may still publish each half.
    ports.inputs.clear();
    ports.outputs.clear();
    if (Get("/PSIA/System/IO/inputs", text)) ParseIOInputPortList(text, ports);
    if (Get("/PSIA/System/IO/outputs", text)) ParseIOOutputPortList(text, ports);
    // Lists that were not asked for are no answer.
    return !AbortRequested();
}

bool CCommonClient::GetInputInactive(uint32_t inputId, bool& inactive) {
    std::string text;
    return Get(FormatText("/PSIA/System/IO/inputs/%u/status", inputId), text) && ParseIOPortStatus(text, inactive);
}

bool CCommonClient::TriggerOutput(uint32_t outputId, bool high) {
    std::string text;
    ResponseStatus status;
    if (!Put(FormatText("/PSIA/System/IO/outputs/%u/trigger", outputId), BuildIOPortData(high), text)) return false;
    if (!ParseResponseStatus(text, status)) return false;
    return status.statusCode == kPsiaStatusOk || status.statusCode == kPsiaStatusRebootRequired;
}

}  // namespace telvaro
