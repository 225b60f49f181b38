#include "util/base64.h"

#include <limits>
#include <vector>

#include "util/text.h"

namespace telvaro {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineLength = 76;

}  // namespace

size_t Base64Capacity(size_t length) {
    // 4*ceil(n/3) characters plus a CR LF per 76 of the unpadded output and
    // two spare bytes; computed wide so that huge inputs refuse instead of
    // wrapping around.
    uint64_t n = length;
    uint64_t unpadded = (4 * n) / 3 + n % 3;
    uint64_t needed = 4 * ((n + 2) / 3) + 2 * (unpadded / kLineLength) + 2;
    if (needed > std::numeric_limits<size_t>::max()) return std::numeric_limits<size_t>::max();
    return static_cast<size_t>(needed);
}

bool Base64Encode(const uint8_t* data, size_t length, char* output, size_t& capacity) {
    if (!output || (length > 0 && !data)) return false;
    size_t needed = Base64Capacity(length);
    if (needed == std::numeric_limits<size_t>::max() || capacity < needed) return false;

    size_t out = 0;
    size_t onLine = 0;
    auto put = [&](char c) {
        if (onLine == kLineLength) {
            output[out++] = '\r';
            output[out++] = '\n';
            onLine = 0;
        }
        output[out++] = c;
        ++onLine;
    };
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = (static_cast<uint32_t>(data[i]) << 16) | (static_cast<uint32_t>(data[i + 1]) << 8) | data[i + 2];
        put(kAlphabet[(v >> 18) & 0x3f]);
        put(kAlphabet[(v >> 12) & 0x3f]);
        put(kAlphabet[(v >> 6) & 0x3f]);
        put(kAlphabet[v & 0x3f]);
    }
    if (i < length) {
        uint32_t v = static_cast<uint32_t>(data[i]) << 16;
        if (i + 1 < length) v |= static_cast<uint32_t>(data[i + 1]) << 8;
        put(kAlphabet[(v >> 18) & 0x3f]);
        put(kAlphabet[(v >> 12) & 0x3f]);
        put(i + 1 < length ? kAlphabet[(v >> 6) & 0x3f] : '=');
        put('=');
    }
    capacity = out;
    return true;
}

bool MakeBasicCredential(const std::string& userName, const std::string& password, std::string& credential) {
    credential.clear();
    std::string joined = userName + ":" + password;
    size_t capacity = Base64Capacity(joined.size());
    std::vector<char> buffer(capacity);
    if (!Base64Encode(reinterpret_cast<const uint8_t*>(joined.data()), joined.size(), buffer.data(), capacity)) {
        return false;
    }
    // An Authorization header value is a single line (RFC 7617), so the MIME
    // line breaks of long credentials are dropped.
    credential = EraseChars("\r\n", std::string(buffer.data(), capacity));
    return true;
}

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::vector<uint8_t> Base64Decode(const std::string& text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 3 / 4 + 3);
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v = Base64Value(c);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count > 0) {
        bits <<= 6 * (4 - count);
        int bytes = 6 * count / 8;
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(bits >> (16 - 8 * i)));
    }
    return out;
}

}  // namespace telvaro
