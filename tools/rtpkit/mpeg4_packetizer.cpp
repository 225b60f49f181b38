#include "rtpkit/mpeg4_packetizer.h"

#include <algorithm>

namespace rtpkit {

std::vector<Bytes> PacketizeMpeg4(const Frame& vop, const Bytes& config, const Mpeg4PacketizerOptions& options) {
    Bytes whole;
    if (vop.key && options.configInBand) whole = config;
    whole.insert(whole.end(), vop.data.begin(), vop.data.end());
    std::vector<Bytes> out;
    const size_t mtu = std::max<size_t>(options.mtu, 8);
    for (size_t pos = 0; pos < whole.size(); pos += mtu) {
        size_t n = std::min(mtu, whole.size() - pos);
        out.emplace_back(whole.begin() + static_cast<long>(pos), whole.begin() + static_cast<long>(pos + n));
    }
    return out;
}

}  // namespace rtpkit
