// Every request the camera received, in arrival order, for tests to inspect.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace camsim {

struct LoggedRequest {
    enum class Protocol { Http, Rtsp };
    Protocol protocol = Protocol::Http;
    std::string method;
    std::string target;  // HTTP: path and query; RTSP: the request URL
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string text;  // RTSP: the request as received, header block and body
    std::chrono::steady_clock::time_point received;  // set when logged
};

class RequestLog {
public:
    void Add(LoggedRequest request);
    std::vector<LoggedRequest> All() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<LoggedRequest> requests_;
};

}  // namespace camsim
