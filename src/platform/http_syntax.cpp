#include "platform/http_syntax.h"

#include <algorithm>

#include "util/text.h"

namespace telvaro {
namespace platform {

namespace {

// Decimal digits within 64 bits (19 digits always are).
bool ParseLength(const std::string& digits, uint64_t& length) {
    length = 0;
    if (digits.size() > 19) return false;
    for (char c : digits) length = length * 10 + static_cast<uint64_t>(c - '0');
    return true;
}

bool IsHostName(const std::string& host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
               c == '_' || c == ':';
    });
}

bool IsTarget(const std::string& target) {
    return !target.empty() && target[0] == '/' && std::none_of(target.begin(), target.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
    });
}

bool IsHeaderLine(const std::string& line) {
    if (!FitsInHeader(line)) return false;
    size_t colon = line.find(':');
    return colon != std::string::npos && IsToken(TrimBlanks(line.substr(0, colon)));
}

}  // namespace

bool IsSendable(const HttpExchange& request) {
    return IsToken(request.method) && IsHostName(request.host) && request.port != 0 && IsTarget(request.target) &&
           std::all_of(request.headers.begin(), request.headers.end(), IsHeaderLine) &&
           (request.bodySize == 0 || request.body);
}

bool AddAnswerHeader(const std::string& line, size_t maxBodySize, HttpAnswer& answer, AnnouncedLength& announced) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) return true;
    std::string name = TrimBlanks(line.substr(0, colon));
    std::string value = TrimBlanks(line.substr(colon + 1));
    if (EqualsNoCase(name, "Content-Length") && !value.empty() &&
        value.find_first_not_of("0123456789") == std::string::npos) {
        uint64_t length = 0;
        if (!ParseLength(value, length) || length > maxBodySize) return false;
        announced.known = true;
        announced.length = length;
        answer.body.reserve(static_cast<size_t>(length) + 1);
    }
    answer.headers.emplace_back(std::move(name), std::move(value));
    return true;
}

bool AppendBody(std::vector<uint8_t>& body, const uint8_t* data, size_t n, size_t maxBodySize) {
    if (n > maxBodySize - body.size()) return false;
    if (body.size() + n > body.capacity()) {
        body.reserve(std::min(std::max(body.capacity() * 2, body.size() + n), maxBodySize + 1));
    }
    body.insert(body.end(), data, data + n);
    return true;
}

}  // namespace platform
}  // namespace telvaro
