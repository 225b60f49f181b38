// The driver's HTTP client: one camera, one request at a time, with server
// authentication learned from the camera's first 401 answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/device_info.h"
#include "platform/http_transport.h"
#include "psia/http_request.h"

namespace Web {

// Bodies are read up to this size; the rest of a larger body is left unread.
constexpr size_t kMaxBodySize = 0x0FFFFFFF;

class CHttpSender {
public:
    explicit CHttpSender(const telvaro::DEVICE_INFO& settings);
    virtual ~CHttpSender();
    CHttpSender(const CHttpSender&) = delete;
    CHttpSender& operator=(const CHttpSender&) = delete;

    // Opens the session once: user agent "Telvaro::HttpClient" and the
    // settings' time-out for every network step.
    bool OpenSession();
    // While *flag is set, requests fail at once, also one under way (within
    // the transport's check interval), as a transport failure would; nothing
    // more goes out. The flag belongs to the caller and must outlive the
    // sender or be replaced first; null removes it.
    void SetAbortFlag(const std::atomic<bool>* flag);
    // Sends the request and, unless more body is announced or the response
    // is deferred, receives the response headers. A first 401 teaches the
    // sender the camera's scheme; the request is then sent once more with it.
    bool Send(const HttpRequest& request);
    // After a 401 answer to request while no scheme is learned: learns the
    // scheme the camera names first and closes the request. True when that
    // scheme differs from the one request went out with, so that sending it
    // again may succeed.
    bool LearnScheme(const HttpRequest& request);
    // Receives the response of a request whose response was deferred.
    bool ReceiveResponse();
    // True only when every byte was written on the open request. A camera
    // that answers before it has read the body (a refusal such as 401) makes
    // the write fail; that answer's status is then read.
    bool WriteBody(const uint8_t* data, size_t length);
    // Replaces body with the whole response body (see kMaxBodySize); returns
    // its size. A body cut short by the abort flag is dropped (size 0).
    size_t ReadBody(std::vector<uint8_t>& body);
    void Close();

    // Of the last response; 0 when none was read.
    uint32_t StatusCode() const { return statusCode_; }
    uint32_t ContentLength() const { return contentLength_; }
    // The scheme the camera named first in a 401 answer; 0 until then.
    uint32_t LearnedScheme() const { return learnedScheme_; }

    // Scheme for an HttpRequest authScheme value.
    static uint32_t SchemeFor(uint32_t authScheme);

private:
    void ReadStatus();

    telvaro::DEVICE_INFO settings_;
    uint32_t learnedScheme_ = 0;
    uint32_t statusCode_ = 0;
    uint32_t contentLength_ = 0;
    std::unique_ptr<telvaro::platform::HttpTransport> transport_;
};

// GET of path. True when the request was sent, the status is 200 and the
// body is not empty; the body then ends with one added zero byte.
bool HttpGet(CHttpSender& sender, const std::string& path, std::vector<uint8_t>& output);

// PUT of body with the given header lines: the headers go out first, the
// body 100 ms later. A first 401 teaches the sender the camera's scheme, as
// with Send, and the PUT is then made once more, body and all. True when the
// body was written, the status is 200 and the response body is not empty;
// that body then ends with one added zero byte.
bool HttpPut(CHttpSender& sender, const std::string& path, const std::vector<std::string>& headers,
             const std::string& body, std::vector<uint8_t>& output);

}  // namespace Web
