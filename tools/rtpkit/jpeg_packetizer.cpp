#include "rtpkit/jpeg_packetizer.h"

#include <algorithm>

namespace rtpkit {

namespace {

// ITU-T T.81 Annex K tables K.1 and K.2 in zig-zag order (RFC 2435 appendix A).
const int kLuma[64] = {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                       26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                       56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                       95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
const int kChroma[64] = {17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99,
                         99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                         99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                         99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

}  // namespace

Bytes TablesForQ(int q) {
    q = std::min(std::max(q, 1), 99);
    int factor = q < 50 ? 5000 / q : 200 - q * 2;
    Bytes tables(128);
    for (int i = 0; i < 64; ++i) {
        tables[i] = static_cast<uint8_t>(std::min(std::max((kLuma[i] * factor + 50) / 100, 1), 255));
        tables[64 + i] = static_cast<uint8_t>(std::min(std::max((kChroma[i] * factor + 50) / 100, 1), 255));
    }
    return tables;
}

bool ParseJpeg(const Bytes& s, JpegInfo& info, std::string* error) {
    info = JpegInfo();
    if (s.size() < 4 || s[0] != 0xFF || s[1] != 0xD8) return Fail(error, "no start of image");
    Bytes table[4];
    uint8_t lumaSampling = 0;
    uint8_t tableOf[3] = {0, 0, 0};
    size_t p = 2;
    for (;;) {
        if (p + 4 > s.size() || s[p] != 0xFF) return Fail(error, "bad marker");
        uint8_t marker = s[p + 1];
        size_t length = static_cast<size_t>(s[p + 2]) << 8 | s[p + 3];
        if (length < 2 || p + 2 + length > s.size()) return Fail(error, "bad segment length");
        const uint8_t* body = &s[p + 4];
        size_t bodyLength = length - 2;
        if (marker == 0xDB) {
            for (size_t q = 0; q + 65 <= bodyLength; q += 65) {
                if (body[q] >> 4) return Fail(error, "16-bit tables");
                table[body[q] & 3].assign(body + q + 1, body + q + 65);
            }
        } else if (marker == 0xC0) {
            if (bodyLength < 15 || body[5] != 3) return Fail(error, "not a 3-component baseline frame");
            info.height = static_cast<uint32_t>(body[1]) << 8 | body[2];
            info.width = static_cast<uint32_t>(body[3]) << 8 | body[4];
            lumaSampling = body[7];
            for (int c = 0; c < 3; ++c) tableOf[c] = body[8 + 3 * c];
            if (body[10] != 0x11 || body[13] != 0x11) return Fail(error, "chrominance must not be subsampled further");
        } else if (marker == 0xC1 || marker == 0xC2 || marker == 0xC3) {
            return Fail(error, "not baseline");
        } else if (marker == 0xDD) {
            if (bodyLength >= 2) info.restartInterval = static_cast<uint16_t>(body[0] << 8 | body[1]);
        } else if (marker == 0xDA) {
            size_t start = p + 2 + length;
            size_t end = start;
            while (end + 1 < s.size() && !(s[end] == 0xFF && s[end + 1] == 0xD9)) ++end;
            info.scan.assign(s.begin() + static_cast<long>(start), s.begin() + static_cast<long>(end));
            break;
        }
        p += 2 + length;
    }
    if (info.width == 0 || info.height == 0) return Fail(error, "no frame header");
    if (info.width > 2040 || info.height > 2040 || info.width % 8 || info.height % 8)
        return Fail(error, "size not expressible in 8-pixel units");
    if (lumaSampling == 0x21) {
        info.type = 0;
    } else if (lumaSampling == 0x22) {
        info.type = 1;
    } else {
        return Fail(error, "sampling is neither 4:2:2 nor 4:2:0");
    }
    if (info.restartInterval) info.type = static_cast<uint8_t>(info.type + 64);
    if (tableOf[0] != 0 || tableOf[1] != 1 || tableOf[2] != 1 || table[0].empty() || table[1].empty())
        return Fail(error, "tables must be 0 for luminance and 1 for chrominance");
    info.tables = table[0];
    info.tables.insert(info.tables.end(), table[1].begin(), table[1].end());
    return true;
}

bool PacketizeJpeg(const Frame& image, const JpegPacketizerOptions& options, std::vector<Bytes>& payloads,
                   std::string* error) {
    payloads.clear();
    JpegInfo info;
    if (!ParseJpeg(image.data, info, error)) return false;
    if (options.q < 1 || options.q > 255 || (options.q > 99 && options.q < 128)) return Fail(error, "bad Q");
    if (options.q < 128 && info.tables != TablesForQ(options.q))
        return Fail(error, "the file's tables are not those of this Q");

    Bytes header = {0, 0, 0, 0, info.type, static_cast<uint8_t>(options.q), static_cast<uint8_t>(info.width / 8),
                    static_cast<uint8_t>(info.height / 8)};
    if (info.restartInterval) {
        // Packets are not cut at restart intervals: F and L set, count all ones.
        header.push_back(static_cast<uint8_t>(info.restartInterval >> 8));
        header.push_back(static_cast<uint8_t>(info.restartInterval));
        header.push_back(0xFF);
        header.push_back(0xFF);
    }
    size_t offset = 0;
    do {
        Bytes p = header;
        p[1] = static_cast<uint8_t>(offset >> 16);
        p[2] = static_cast<uint8_t>(offset >> 8);
        p[3] = static_cast<uint8_t>(offset);
        if (offset == 0 && options.q >= 128) {
            p.push_back(0);
            p.push_back(0);
            p.push_back(static_cast<uint8_t>(info.tables.size() >> 8));
            p.push_back(static_cast<uint8_t>(info.tables.size()));
            p.insert(p.end(), info.tables.begin(), info.tables.end());
        }
        size_t room = options.mtu > p.size() ? options.mtu - p.size() : 1;
        size_t n = std::min(room, info.scan.size() - offset);
        p.insert(p.end(), info.scan.begin() + static_cast<long>(offset),
                 info.scan.begin() + static_cast<long>(offset + n));
        payloads.push_back(std::move(p));
        offset += n;
    } while (offset < info.scan.size());
    return true;
}

}  // namespace rtpkit
