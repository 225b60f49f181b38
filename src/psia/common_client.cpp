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
    const std::string credentialFault = CredentialFault(settings_.userName, settings_.password);
    if (!credentialFault.empty()) {
        lastFailure_ = {kFailureBadSetting, credentialFault};
        return false;
    }
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
    if (!sender.Get()) return Fail(kFailureBadSetting, FormatText("GET %s: the client is not connected", path.c_str()));
    const bool ok = Web::HttpGet(*sender.Get(), path, answer) && !TextOf(answer).empty();
    return Judge("GET", path, *sender.Get(), ok);
}

bool CCommonClient::Put(const std::string& path, const std::string& body, std::vector<uint8_t>& answer) {
    answer.clear();
    SenderCopy sender(lock_, sender_);
    if (!sender.Get()) return Fail(kFailureBadSetting, FormatText("PUT %s: the client is not connected", path.c_str()));
    const bool ok = Web::HttpPut(*sender.Get(), path, XmlHeaders(body), body, answer) && !TextOf(answer).empty();
    return Judge("PUT", path, *sender.Get(), ok);
}

// The one place where an exchange's outcome becomes a reason.
bool CCommonClient::Judge(const char* method, const std::string& path, const Web::CHttpSender& sender, bool ok) {
    if (ok) return true;
    using platform::HttpOutcome;
    const char* address = settings_.address.c_str();
    const unsigned port = settings_.port;
    const unsigned timeout = settings_.timeout;
    const char* p = path.c_str();
    switch (sender.LastOutcome()) {
        case HttpOutcome::kAnswered:
            if (sender.StatusCode() != 200) {
                return Fail(kFailureRefused, FormatText("%s %s answered HTTP %u", method, p, sender.StatusCode()));
            }
            return Fail(kFailureMalformed, FormatText("%s %s: empty answer", method, p));
        case HttpOutcome::kRefused:
            if (settings_.address.empty()) return Fail(kFailureBadSetting, FormatText("%s %s: no camera address", method, p));
            return Fail(kFailureBadSetting,
                        FormatText("%s %s: the request to %s:%u cannot be sent as given", method, p, address, port));
        case HttpOutcome::kNotResolved:
            return Fail(kFailureNotResolved, FormatText("%s %s: the host name %s is not known", method, p, address));
        case HttpOutcome::kConnectionRefused:
            return Fail(kFailureRefused, FormatText("%s %s: %s:%u refused the connection", method, p, address, port));
        case HttpOutcome::kNoConnection:
            return Fail(kFailureNoAnswer,
                        FormatText("%s %s: no connection to %s:%u within %u ms", method, p, address, port, timeout));
        case HttpOutcome::kTimedOut:
            return Fail(kFailureNoAnswer, FormatText("%s %s: no whole answer within %u ms", method, p, timeout));
        case HttpOutcome::kTooLarge:
            return Fail(kFailureTooLarge, FormatText("%s %s: the answer is larger than %u bytes", method, p,
                                                     static_cast<unsigned>(Web::kMaxBodySize)));
        case HttpOutcome::kCut:
            return Fail(kFailureNoAnswer, FormatText("%s %s: the answer was cut short", method, p));
        case HttpOutcome::kAborted:
            return Fail(kFailureNoAnswer, FormatText("%s %s: stopped before the answer", method, p));
        case HttpOutcome::kNoAnswer:
            break;
    }
    return Fail(kFailureNoAnswer,
                FormatText("%s %s: the connection to %s:%u ended without an answer", method, p, address, port));
}

bool CCommonClient::Fail(FailureKind kind, const std::string& text) {
    CLockScope scope(lock_);
    lastFailure_ = {kind, text};
    return false;
}

bool CCommonClient::Unreadable(const char* method, const std::string& path, const char* document) {
    return Fail(kFailureMalformed, FormatText("%s %s: the answer is not %s document", method, path.c_str(), document));
}

FailureReason CCommonClient::LastFailure() {
    CLockScope scope(lock_);
    return lastFailure_;
}

bool CCommonClient::QueryDeviceInfo(PsiaDeviceInfo& info) {
    std::vector<uint8_t> answer;
    const char* path = "/PSIA/System/deviceInfo";
    if (!Get(path, answer)) return false;
    return ParseDeviceInfo(TextOf(answer), info) || Unreadable("GET", path, "a DeviceInfo");
}

bool CCommonClient::Reboot() {
    std::vector<uint8_t> answer;
    return Get("/PSIA/System/reboot", answer);
}

bool CCommonClient::GetStreamingChannels(std::vector<StreamingChannelSettings>& channels) {
    std::vector<uint8_t> answer;
    if (!Get(kChannelsPath, answer)) return false;
    return ParseStreamingChannelList(TextOf(answer), channels) ||
           Unreadable("GET", kChannelsPath, "a StreamingChannelList");
}

bool CCommonClient::GetStreamingChannel(uint32_t channelId, StreamingChannelSettings& settings) {
    std::vector<uint8_t> answer;
    const std::string path = FormatText("%s/%u", kChannelsPath, channelId);
    if (!Get(path, answer)) return false;
    return ParseStreamingChannel(TextOf(answer), settings) || Unreadable("GET", path, "a StreamingChannel");
}

bool CCommonClient::GetChannelCapabilities(uint32_t channelId, ChannelCapabilities& capabilities) {
    std::vector<uint8_t> answer;
    const std::string path = FormatText("%s/%u/capabilities", kChannelsPath, channelId);
    if (!Get(path, answer)) return false;
    return ParseCapabilities(TextOf(answer), capabilities) ||
           Fail(kFailureUnsupported,
                FormatText("GET %s: the answer offers no known codec with a resolution and a frame rate", path.c_str()));
}

bool CCommonClient::JudgeStatus(const std::string& path, std::string_view text, bool reboot) {
    ResponseStatus status;
    if (!ParseResponseStatus(text, status)) return Unreadable("PUT", path, "a ResponseStatus");
    if (status.statusCode == kPsiaStatusRebootRequired) return reboot ? Reboot() : true;
    if (status.statusCode == kPsiaStatusOk) return true;
    return Fail(kFailureRefused, FormatText("PUT %s answered statusCode %d \"%s\"", path.c_str(),
                                            static_cast<int>(status.statusCode), status.statusString.c_str()));
}

bool CCommonClient::SetStreamingChannel(const StreamingChannelSettings& settings) {
    std::vector<uint8_t> answer;
    const std::string path = FormatText("%s/%u", kChannelsPath, settings.id);
    if (Put(path, BuildStreamingChannel(settings), answer)) return JudgeStatus(path, TextOf(answer), true);
    // Some cameras only take channel changes as a whole list.
    if (Put(kChannelsPath, BuildStreamingChannelList(settings), answer)) {
        return JudgeStatus(kChannelsPath, TextOf(answer), true);
    }
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
    if (!Connected()) return Fail(kFailureBadSetting, "GET /PSIA/System/IO: the client is not connected");
    std::vector<uint8_t> answer;
    if (Get("/PSIA/System/IO", answer)) {
        return ParseIOPortList(TextOf(answer), ports) || Unreadable("GET", "/PSIA/System/IO", "an IOPortList");
    }
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
    const std::string path = FormatText("/PSIA/System/IO/inputs/%u/status", inputId);
    if (!Get(path, answer)) return false;
    return ParseIOPortStatus(TextOf(answer), inactive) || Unreadable("GET", path, "an IOPortStatus");
}

bool CCommonClient::TriggerOutput(uint32_t outputId, bool high) {
    std::vector<uint8_t> answer;
    const std::string path = FormatText("/PSIA/System/IO/outputs/%u/trigger", outputId);
    if (!Put(path, BuildIOPortData(high), answer)) return false;
    return JudgeStatus(path, TextOf(answer), false);
}

}  // namespace telvaro
