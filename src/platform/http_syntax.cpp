#include "platform/http_syntax.h"

#include <algorithm>
#include <cstring>

namespace telvaro {
namespace platform {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

}  // namespace

bool EqualsNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string TrimBlanks(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsToken(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
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
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
    size_t colon = line.find(':');
    return colon != std::string::npos && IsToken(TrimBlanks(line.substr(0, colon)));
}

bool ParseLength(const std::string& digits, uint64_t& length) {
    length = 0;
    if (digits.size() > 19) return false;
    for (char c : digits) length = length * 10 + static_cast<uint64_t>(c - '0');
    return true;
}

}  // namespace platform
}  // namespace telvaro
