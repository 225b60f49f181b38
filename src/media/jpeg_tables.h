// The standard tables of baseline JPEG (ITU-T T.81 Annex K) that RTP/JPEG
// (RFC 2435) leaves out of the stream and a receiver puts back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvaro {

class CJpegTables {
public:
    // Table K.1 (luminance) and K.2 (chrominance), natural (row) order.
    static const uint8_t kLuminanceQuantization[64];
    static const uint8_t kChrominanceQuantization[64];
    // Natural-order position of the k-th coefficient in zig-zag order.
    static const uint8_t kZigZag[64];

    // Typical Huffman tables of Annex K.3: BITS (codes per length 1 to 16)
    // and HUFFVAL.
    struct HuffmanTable {
        const uint8_t* bits;
        const uint8_t* values;
        size_t valueCount;
    };
    static const HuffmanTable kDcLuminance;
    static const HuffmanTable kAcLuminance;
    static const HuffmanTable kDcChrominance;
    static const HuffmanTable kAcChrominance;

    // The luminance then the chrominance table for an RTP/JPEG Q of 1 to 99
    // (RFC 2435 section 4.2, IJG scaling; Q clamped to that range), 64 bytes
    // each in zig-zag order.
    static void MakeQuantizationTables(int q, uint8_t* out);
};

}  // namespace telvaro
