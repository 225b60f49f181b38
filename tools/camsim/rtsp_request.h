// An RTSP request (RFC 2326 section 6) as the camera reads it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace camsim {

class RtspRequest {
public:
    // The header block without its empty line; false when the request line
    // is not "METHOD URL RTSP/x.y".
    bool ParseHead(const std::string& head);

    const std::string& Method() const { return method_; }
    const std::string& Url() const { return url_; }
    const std::string& Version() const { return version_; }
    const std::vector<std::pair<std::string, std::string>>& Headers() const { return headers_; }
    // First header of that name, any case; empty when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;

private:
    std::string method_;
    std::string url_;
    std::string version_;
    std::vector<std::pair<std::string, std::string>> headers_;
};

}  // namespace camsim
