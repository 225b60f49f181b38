#include "psia/common_client.h"

#include <cstring>

#include "psia/psia_builders.h"
#include "psia/psia_parsers.h"
#include "util/text.h"

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

// The answer as the text the parsers read, without a copy: everything before
// the first zero byte (HttpGet and HttpPut end the body with one).
std::string_view TextOf(const std::vector<uint8_t>& output) {
    if (output.empty()) return std::string_view();
    const void* end = std::memchr(output.data(), 0, output.size());
    size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - output.data()) : output.size();
    return std::string_view(reinterpret_cast<const char*>(output.data()), length);
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

bool CCommonClient::Get(const std::string& path, std::vector<uint8_t>& answer) {
    answer.clear();
    SenderCopy sender(lock_, sender_);
    if (!sender.Get()) return false;
    const bool ok = Web::HttpGet(*sender.Get(), path, answer) && !TextOf(answer).empty();
    return Judge("GET", path, *sender.Get(), ok);
}

bool CCommonClient::Put(const std::string& path, const std::string& body, std::vector<uint8_t>& answer) {
    answer.clear();
    SenderCopy sender(lock_, sender_);
    if (!sender.Get()) return false;
    const bool ok = Web::HttpPut(*sender.Get(), path, XmlHeaders(body), body, answer) && !TextOf(answer).empty();
    return Judge("PUT", path, *sender.Get(), ok);
}

bool CCommonClient::Judge(const char* method, const std::string& path, const Web::CHttpSender& sender, bool ok) {
    if (ok) return true;
    using platform::HttpOutcome;
    const uint32_t status = sender.StatusCode();
    FailureReason reason;
    if (sender.LastOutcome() == HttpOutcome::kTooLarge) {
        reason = {kFailureTooLarge, FormatText("%s %s: the answer is larger than %u bytes", method, path.c_str(),
                                               static_cast<unsigned>(Web::kMaxBodySize))};
    } else if (sender.LastOutcome() == HttpOutcome::kCut) {
        reason = {kFailureNoAnswer, FormatText("%s %s: the answer was cut short", method, path.c_str())};
    } else if (sender.LastOutcome() == HttpOutcome::kTimedOut) {
        reason = {kFailureNoAnswer, FormatText("%s %s: no whole answer within %u ms", method, path.c_str(),
                                               static_cast<unsigned>(settings_.timeout))};
    } else if (status == 0) {
        reason = {kFailureNoAnswer, FormatText("%s %s: no answer from %s:%u", method, path.c_str(),
                                               settings_.address.c_str(), static_cast<unsigned>(settings_.port))};
    } else if (status != 200) {
        reason = {kFailureRefused, FormatText("%s %s answered HTTP %u", method, path.c_str(), status)};
    } else {
        reason = {kFailureMalformed, FormatText("%s %s: empty answer", method, path.c_str())};
    }
    CLockScope scope(lock_);
    lastFailure_ = reason;
    return false;
}

FailureReason CCommonClient::LastFailure() {
    CLockScope scope(lock_);
    return lastFailure_;
}

bool CCommonClient::QueryDeviceInfo(PsiaDeviceInfo& info) {
    std::vector<uint8_t> answer;
    return Get("/PSIA/System/deviceInfo", answer) && ParseDeviceInfo(TextOf(answer), info);
}

bool CCommonClient::Reboot() {
    std::vector<uint8_t> answer;
    return Get("/PSIA/System/reboot", answer);
}

bool CCommonClient::GetStreamingChannels(std::vector<StreamingChannelSettings>& channels) {
    std::vector<uint8_t> answer;
    return Get(kChannelsPath, answer) && ParseStreamingChannelList(TextOf(answer), channels);
}

bool CCommonClient::GetStreamingChannel(uint32_t channelId, StreamingChannelSettings& settings) {
    std::vector<uint8_t> answer;
    const std::string path = FormatText("%s/%u", kChannelsPath, channelId);
    if (!Get(path, answer)) return false;
    if (ParseStreamingChannel(TextOf(answer), settings)) return true;
    CLockScope scope(lock_);
    lastFailure_ = {kFailureMalformed,
                    FormatText("GET %s: the answer is not a streaming channel document", path.c_str())};
    return false;
}

bool CCommonClient::GetChannelCapabilities(uint32_t channelId, ChannelCapabilities& capabilities) {
    std::vector<uint8_t> answer;
    return Get(FormatText("%s/%u/capabilities", kChannelsPath, channelId), answer) &&
           ParseCapabilities(TextOf(answer), capabilities);
}

bool CCommonClient::JudgeChannelStatus(std::string_view text) {
    ResponseStatus status;
    if (!ParseResponseStatus(text, status)) return false;
    if (status.statusCode == kPsiaStatusRebootRequired) return Reboot();
    return status.statusCode == kPsiaStatusOk;
}

bool CCommonClient::SetStreamingChannel(const StreamingChannelSettings& settings) {
    std::vector<uint8_t> answer;
    if (Put(FormatText("%s/%u", kChannelsPath, settings.id), BuildStreamingChannel(settings), answer)) {
        return JudgeChannelStatus(TextOf(answer));
    }
    // Some cameras only take channel changes as a whole list.
    if (Put(kChannelsPath, BuildStreamingChannelList(settings), answer)) return JudgeChannelStatus(TextOf(answer));
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
    std::vector<uint8_t> answer;
    if (Get("/PSIA/System/IO", answer)) return ParseIOPortList(TextOf(answer), ports);
    // Cameras without the combined list may still publish each half.
    ports.inputs.clear();
    ports.outputs.clear();
    if (Get("/PSIA/System/IO/inputs", answer)) ParseIOInputPortList(TextOf(answer), ports);
    if (Get("/PSIA/System/IO/outputs", answer)) ParseIOOutputPortList(TextOf(answer), ports);
    // Lists that were not asked for are no answer.
    return !AbortRequested();
}

bool CCommonClient::GetInputInactive(uint32_t inputId, bool& inactive) {
    std::vector<uint8_t> answer;
    return Get(FormatText("/PSIA/System/IO/inputs/%u/status", inputId), answer) &&
           ParseIOPortStatus(TextOf(answer), inactive);
}

bool CCommonClient::TriggerOutput(uint32_t outputId, bool high) {
    std::vector<uint8_t> answer;
    ResponseStatus status;
    if (!Put(FormatText("/PSIA/System/IO/outputs/%u/trigger", outputId), BuildIOPortData(high), answer)) return false;
    if (!ParseResponseStatus(TextOf(answer), status)) return false;
    return status.statusCode == kPsiaStatusOk || status.statusCode == kPsiaStatusRebootRequired;
}

}  // namespace telvaro
