#include "util/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>


namespace telvaro {

bool ParseDecimal(const std::string& text, int32_t& value) {
    value = 0;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    // Accumulated as a magnitude so that the full negative range fits.
    int64_t magnitude = 0;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return false;
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

std::string FormatTextV(const char* format, va_list args) {
    if (!format) return std::string();
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}

std::string ToLower(const std::string& text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string TrimBlanks(const std::string& text) {
    static const char kBlanks[] = " \t";
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool EqualsNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::equal(a.begin(), a.end(), b, [&lower](char x, char y) { return lower(x) == lower(y); });
}

bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(const std::string& text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar); }

bool FitsInHeader(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

std::string EraseChars(const std::string& chars, const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (chars.find(c) == std::string::npos) out.push_back(c);
    }
    return out;
}

std::vector<std::string> SplitText(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(delimiter, start);
        if (end == std::string::npos) {
            pieces.push_back(text.substr(start));
            break;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

namespace {

uint8_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    return 0;
}

}  // namespace

std::vector<uint8_t> HexToBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    bytes.reserve((text.size() + 1) / 2);
    size_t i = 0;
    for (; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>((HexDigitValue(text[i]) << 4) | HexDigitValue(text[i + 1])));
    }
    if (i < text.size()) bytes.push_back(HexDigitValue(text[i]));
    return bytes;
}

std::string FindHeaderParam(const std::string& name, const std::string& assignment, const std::string& list,
                            const std::string& delimiters) {
    if (name.empty()) return std::string();
    for (size_t at = list.find(name); at != std::string::npos; at = list.find(name, at + 1)) {
        size_t itemStart = 0;
        if (at > 0) {
            size_t delimiter = list.find_last_of(delimiters, at - 1);
            if (delimiter != std::string::npos) itemStart = delimiter + 1;
        }
        size_t assign = list.find(assignment, at);
        if (assign == std::string::npos) return std::string();
        if (TrimBlanks(list.substr(itemStart, assign - itemStart)) != name) continue;
        size_t valueStart = assign + assignment.size();
        size_t valueEnd = list.find_first_of(delimiters, valueStart);
        if (valueEnd == std::string::npos) valueEnd = list.size();
        return list.substr(valueStart, valueEnd - valueStart);
    }
    return std::string();
}


std::string CredentialFault(const std::string& userName, const std::string& password) {
    if (!FitsInHeader(userName)) return "the user name contains a line break or NUL";
    if (!FitsInHeader(password)) return "the password contains a line break or NUL";
    return std::string();
}

}  // namespace telvaro
