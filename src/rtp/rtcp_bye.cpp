#include "rtp/rtcp_bye.h"

#include <cstring>

namespace telvaro {

namespace {

constexpr uint8_t kTypeBye = 203;
constexpr size_t kHeaderLength = 4;

}  // namespace

std::vector<uint32_t> RtcpByeSources(const uint8_t* data, size_t length) {
    std::vector<uint32_t> sources;
    size_t pos = 0;
    while (data && length - pos >= kHeaderLength) {
        const uint8_t* p = data + pos;
        if ((p[0] >> 6) != 2) break;
        const size_t size = (static_cast<size_t>(p[2]) << 8 | p[3]) * 4 + kHeaderLength;
        if (size > length - pos) break;
        if (p[1] == kTypeBye) {
            const size_t count = p[0] & 0x1F;
            for (size_t i = 0; i < count && kHeaderLength + 4 * (i + 1) <= size; ++i) {
                uint32_t ssrc = 0;
                std::memcpy(&ssrc, p + kHeaderLength + 4 * i, 4);
                sources.push_back(ssrc);
            }
        }
        pos += size;
    }
    return sources;
}

}  // namespace telvaro
