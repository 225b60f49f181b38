// Baseline JPEG files as RTP/JPEG payloads (RFC 2435).
#pragma once

#include <string>

#include "rtpkit/clip.h"

namespace rtpkit {

struct JpegPacketizerOptions {
    size_t mtu = 1400;
    // 1 to 99: the receiver computes the tables from Q, so the file's tables
    // must be exactly those (IJG quality scaling); 128 to 255: the tables
    // travel in the first packet of every frame.
    int q = 255;
};

struct JpegInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t type = 0;  // 0 (4:2:2) or 1 (4:2:0), plus 64 with restart markers
    uint16_t restartInterval = 0;
    Bytes tables;      // luminance then chrominance, zig-zag order
    Bytes scan;        // entropy-coded data, restart markers included
};

// Reads what RTP/JPEG carries out of a JPEG file; false with a reason for
// files RTP/JPEG cannot carry.
bool ParseJpeg(const Bytes& file, JpegInfo& info, std::string* error);
// The two tables (zig-zag order) a receiver computes for Q 1 to 99.
Bytes TablesForQ(int q);

bool PacketizeJpeg(const Frame& image, const JpegPacketizerOptions& options, std::vector<Bytes>& payloads,
                   std::string* error);

}  // namespace rtpkit
