// Writes the marker segments of a baseline JPEG file (ITU-T T.81 Annex B)
// one after another into a buffer the caller has made large enough.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/jpeg_tables.h"

namespace telvaro {

class CJpegHeaderWriter {
public:
    explicit CJpegHeaderWriter(uint8_t* out) : out_(out) {}

    size_t Length() const { return length_; }

    void StartOfImage();
    // APP0 "JFIF" 1.1, no units, density 1:1, no thumbnail.
    void Jfif();
    void RestartInterval(uint16_t interval);
    // One 8-bit table of 64 entries in zig-zag order.
    void QuantizationTable(uint8_t id, const uint8_t* table);
    // Baseline frame of three components, ids from firstId on: the first
    // (luminance) with the given sampling and table 0, the other two at 1x1
    // with chromaTable.
    void Frame(uint32_t width, uint32_t height, uint8_t firstId, uint8_t lumaSampling, uint8_t chromaTable);
    // The four typical tables: DC and AC 0 (luminance), DC and AC 1.
    void HuffmanTables();
    // All three components, luminance with Huffman tables 0, chrominance 1.
    void StartOfScan(uint8_t firstId);

private:
    void Huffman(uint8_t classAndId, const CJpegTables::HuffmanTable& table);
    void Marker(uint8_t code);
    void Word(uint16_t value);
    void Byte(uint8_t value) { out_[length_++] = value; }
    void Bytes(const uint8_t* data, size_t count);

    uint8_t* out_;
    size_t length_ = 0;
};

}  // namespace telvaro
