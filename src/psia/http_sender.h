// The driver's HTTP client: one camera, one exchange at a time. It sends no
// credentials until the camera asks for them; then it answers the scheme the
// camera names first (Basic, or Digest signed here), and remembers per
// device what was asked, so that later senders answer at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/device_info.h"
#include "platform/http_transport.h"
#include "psia/http_challenge.h"
#include "psia/http_request.h"

namespace Web {

// An answer whose body is larger, announced or as it arrives, is refused:
// PSIA documents are a few KiB, and a camera that never ends its answer must
// not fill the host's memory.
constexpr size_t kMaxBodySize = 1024 * 1024;

class CHttpSender {
public:
    explicit CHttpSender(const telvaro::DEVICE_INFO& settings);
    virtual ~CHttpSender();
    CHttpSender(const CHttpSender&) = delete;
    CHttpSender& operator=(const CHttpSender&) = delete;

    // While *flag is set, requests fail at once, also one under way (within
    // the transport's check interval), and nothing more goes out. The flag
    // belongs to the caller and must outlive the sender or be replaced
    // first; null removes it.
    void SetAbortFlag(const std::atomic<bool>* flag);
    // Makes the whole exchange: request line and headers, the body after
    // them, and the whole answer, from connecting to its last byte within
    // the settings' time-out. A 401 whose challenge gives something new to
    // answer with (a scheme, a nonce) is answered by a second exchange. True
    // when an answer came (any status); false for no answer, one beyond
    // kMaxBodySize or cut short, or a request that cannot be sent.
    bool Send(const HttpRequest& request);
    // Hands over the body of the last answer (nothing is copied); returns
    // its size.
    size_t ReadBody(std::vector<uint8_t>& body);
    // Closes the kept connection.
    void Close();

    // Of the last answer; 0 when none came.
    uint32_t StatusCode() const { return statusCode_; }
    uint32_t ContentLength() const { return contentLength_; }
    // How the last exchange ended.
    telvaro::platform::HttpOutcome LastOutcome() const { return outcome_; }
    // The scheme the device asked for, in a 401 to this sender or an earlier
    // one; 0 while it has asked for none.
    uint32_t LearnedScheme() const;

    // Scheme for an HttpRequest authScheme value.
    static uint32_t SchemeFor(uint32_t authScheme);

private:
    bool Exchange(const HttpRequest& request, const std::string& target, const std::string& authorization);

    telvaro::DEVICE_INFO settings_;
    std::string device_;  // key of the device's remembered authentication
    std::string clientNonce_;
    uint32_t statusCode_ = 0;
    uint32_t contentLength_ = 0;
    telvaro::platform::HttpOutcome outcome_ = telvaro::platform::HttpOutcome::kNoAnswer;
    telvaro::platform::HttpAnswer answer_;
    std::unique_ptr<telvaro::platform::HttpTransport> transport_;
};

// GET of path. True when the request was answered with status 200 and a
// body; the body then ends with one added zero byte. output is empty on
// failure.
bool HttpGet(CHttpSender& sender, const std::string& path, std::vector<uint8_t>& output);

// PUT of body with the given header lines; the body follows the headers
// after 100 ms. True when the answer has status 200 and a body, which then
// ends with one added zero byte. An empty body fails once it is sent.
bool HttpPut(CHttpSender& sender, const std::string& path, const std::vector<std::string>& headers,
             const std::string& body, std::vector<uint8_t>& output);

}  // namespace Web
