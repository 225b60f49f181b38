#include "camsim/rtsp_request.h"

#include "camsim/text_util.h"

namespace camsim {

bool RtspRequest::ParseHead(const std::string& head) {
    method_.clear();
    url_.clear();
    version_.clear();
    headers_.clear();
    size_t pos = 0;
    bool first = true;
    while (pos <= head.size()) {
        size_t end = head.find('\n', pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;
        if (first) {
            first = false;
            size_t a = line.find(' ');
            size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
            if (a == 0 || b == std::string::npos || b == a + 1) return false;
            method_ = line.substr(0, a);
            url_ = line.substr(a + 1, b - a - 1);
            version_ = Trim(line.substr(b + 1));
            if (version_.compare(0, 5, "RTSP/") != 0) return false;
            continue;
        }
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;  // not a header: ignored
        headers_.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    return !method_.empty();
}

std::string RtspRequest::Header(const std::string& name) const {
    std::string lower = ToLower(name);
    for (const auto& h : headers_) {
        if (ToLower(h.first) == lower) return h.second;
    }
    return std::string();
}

bool RtspRequest::HasHeader(const std::string& name) const {
    std::string lower = ToLower(name);
    for (const auto& h : headers_) {
        if (ToLower(h.first) == lower) return true;
    }
    return false;
}

}  // namespace camsim
