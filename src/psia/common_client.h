// The driver's PSIA client for one camera: its connection settings, one HTTP
// sender, and one operation per PSIA resource the driver uses. Every user
// (codec channel, capability query, digital I/O) makes its own client.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/device_info.h"
#include "core/failure_reason.h"
#include "psia/http_sender.h"
#include "psia/psia_records.h"
#include "psia/smart_ptr.h"
#include "thread/recursive_lock.h"

namespace telvaro {

class CCommonClient {
public:
    CCommonClient();
    virtual ~CCommonClient();
    CCommonClient(const CCommonClient&) = delete;
    CCommonClient& operator=(const CCommonClient&) = delete;

    // Replaces the sender with a new one made from settings, so that the
    // authentication scheme is learned afresh. True when a sender is attached.
    bool Connect(const DEVICE_INFO& settings);
    void Disconnect();
    // While *flag is set, every request fails at once, also one under way,
    // and nothing more goes out. Applies to the current sender and to every
    // sender a later Connect makes. The flag belongs to the caller and must
    // outlive the client; null removes it.
    void SetAbortFlag(const std::atomic<bool>* flag);

    // Every operation fails without network traffic before Connect. None of
    // them changes its record unless the camera's document was read.
    bool QueryDeviceInfo(PsiaDeviceInfo& info);
    bool Reboot();
    bool GetStreamingChannels(std::vector<StreamingChannelSettings>& channels);
    bool GetStreamingChannel(uint32_t channelId, StreamingChannelSettings& settings);
    bool GetChannelCapabilities(uint32_t channelId, ChannelCapabilities& capabilities);
    // PUT of the channel; a camera that refuses that resource at HTTP level
    // gets the channel list instead. A statusCode 7 reboots the camera, and
    // the reboot's result is the result.
    bool SetStreamingChannel(const StreamingChannelSettings& settings);
    // The combined port list, or else the input and output lists one by one;
    // in that fallback both lists start empty and the result is true whatever
    // the camera answers, unless the abort flag cut the requests short.
    bool GetIOPorts(IOPortLists& ports);
    bool GetInputInactive(uint32_t inputId, bool& inactive);
    // True when the camera answers statusCode 1 or 7; 7 reboots nothing here.
    bool TriggerOutput(uint32_t outputId, bool high);

    // Why the last failed operation failed, for a log: the method, the
    // resource and what went wrong on the way (name look-up, connection,
    // time, HTTP status, the document). Empty while none failed. Never holds
    // a password.
    FailureReason LastFailure();

private:
    bool Connected();
    bool AbortRequested();
    // The answer's body with its terminating zero; true when its text (up to
    // the first zero) is not empty.
    bool Get(const std::string& path, std::vector<uint8_t>& answer);
    bool Put(const std::string& path, const std::string& body, std::vector<uint8_t>& answer);
    // Passes ok through; a failure is remembered with its reason.
    bool Judge(const char* method, const std::string& path, const Web::CHttpSender& sender, bool ok);
    // Remember the reason; always false.
    bool Fail(FailureKind kind, const std::string& text);
    bool Unreadable(const char* method, const std::string& path, const char* document);
    // Result of a PUT's ResponseStatus: 1 succeeds; 7 succeeds, and with
    // reboot the reboot's result is the result.
    bool JudgeStatus(const std::string& path, std::string_view text, bool reboot);

    CRecursiveLock lock_;  // guards sender_ and abortFlag_
    TSmartPtr<Web::CHttpSender> sender_;
    const std::atomic<bool>* abortFlag_ = nullptr;
    DEVICE_INFO settings_;
    FailureReason lastFailure_;
};

}  // namespace telvaro
