#include "rtpkit/h264_packetizer.h"

#include <algorithm>

namespace rtpkit {

namespace {

void AppendFragments(const Bytes& nal, size_t mtu, std::vector<Bytes>& out) {
    const uint8_t header = nal[0];
    const uint8_t indicator = static_cast<uint8_t>((header & 0xE0) | 28);
    const size_t room = mtu > 2 ? mtu - 2 : 1;
    size_t pos = 1;  // the NAL header travels in the FU indicator and header
    bool first = true;
    while (pos < nal.size()) {
        size_t n = std::min(room, nal.size() - pos);
        bool last = pos + n == nal.size();
        Bytes p;
        p.reserve(n + 2);
        p.push_back(indicator);
        p.push_back(static_cast<uint8_t>((first ? 0x80 : 0) | (last ? 0x40 : 0) | (header & 0x1F)));
        p.insert(p.end(), nal.begin() + static_cast<long>(pos), nal.begin() + static_cast<long>(pos + n));
        out.push_back(std::move(p));
        pos += n;
        first = false;
    }
}

}  // namespace

std::vector<Bytes> PacketizeH264(const Frame& accessUnit, const H264PacketizerOptions& options) {
    std::vector<Bytes> out;
    std::vector<const Bytes*> parameterSets;
    // primary_pic_type 7 (any slice type) and the stop bit.
    static const Bytes kDelimiter = {0x09, 0xF0};
    const bool hasDelimiter = !accessUnit.nals.empty() && !accessUnit.nals[0].empty() &&
                              (accessUnit.nals[0][0] & 0x1F) == 9;
    if (options.accessUnitDelimiters && !hasDelimiter) {
        if (options.annexBPayloads) {
            out.push_back({0, 0, 0, 1, kDelimiter[0], kDelimiter[1]});
        } else {
            out.push_back(kDelimiter);
        }
    }
    for (const Bytes& nal : accessUnit.nals) {
        if (nal.empty()) continue;
        uint8_t type = nal[0] & 0x1F;
        bool isParameterSet = type == 7 || type == 8;
        if (isParameterSet && options.dropParameterSets) continue;
        if (options.annexBPayloads) {
            Bytes p = {0, 0, 0, 1};
            p.insert(p.end(), nal.begin(), nal.end());
            out.push_back(std::move(p));
            continue;
        }
        if (isParameterSet && options.aggregateParameterSets) {
            parameterSets.push_back(&nal);
            continue;
        }
        if (!parameterSets.empty()) {
            Bytes stap = {static_cast<uint8_t>((parameterSets[0]->at(0) & 0x60) | 24)};
            for (const Bytes* ps : parameterSets) {
                stap.push_back(static_cast<uint8_t>(ps->size() >> 8));
                stap.push_back(static_cast<uint8_t>(ps->size()));
                stap.insert(stap.end(), ps->begin(), ps->end());
            }
            out.push_back(std::move(stap));
            parameterSets.clear();
        }
        if (nal.size() <= options.mtu) {
            out.push_back(nal);
        } else {
            AppendFragments(nal, options.mtu, out);
        }
    }
    return out;
}

}  // namespace rtpkit
