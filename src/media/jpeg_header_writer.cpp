#include "media/jpeg_header_writer.h"

#include <cstring>

namespace telvaro {

namespace {

constexpr size_t kTableLength = 64;

}  // namespace

void CJpegHeaderWriter::StartOfImage() { Marker(0xD8); }

void CJpegHeaderWriter::Jfif() {
    Marker(0xE0);
    Word(16);
    static const uint8_t kBody[] = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    Bytes(kBody, sizeof(kBody));
}

void CJpegHeaderWriter::RestartInterval(uint16_t interval) {
    Marker(0xDD);
    Word(4);
    Word(interval);
}

void CJpegHeaderWriter::QuantizationTable(uint8_t id, const uint8_t* table) {
    Marker(0xDB);
    Word(static_cast<uint16_t>(3 + kTableLength));
    Byte(id);
    Bytes(table, kTableLength);
}

void CJpegHeaderWriter::Frame(uint32_t width, uint32_t height, uint8_t firstId, uint8_t lumaSampling,
                              uint8_t chromaTable) {
    Marker(0xC0);
    Word(17);
    Byte(8);
    Word(static_cast<uint16_t>(height));
    Word(static_cast<uint16_t>(width));
    Byte(3);
    const uint8_t components[9] = {firstId,
                                   lumaSampling,
                                   0,
                                   static_cast<uint8_t>(firstId + 1),
                                   0x11,
                                   chromaTable,
                                   static_cast<uint8_t>(firstId + 2),
                                   0x11,
                                   chromaTable};
    Bytes(components, sizeof(components));
}

void CJpegHeaderWriter::HuffmanTables() {
    Huffman(0x00, CJpegTables::kDcLuminance);
    Huffman(0x10, CJpegTables::kAcLuminance);
    Huffman(0x01, CJpegTables::kDcChrominance);
    Huffman(0x11, CJpegTables::kAcChrominance);
}

void CJpegHeaderWriter::StartOfScan(uint8_t firstId) {
    Marker(0xDA);
    Word(12);
    Byte(3);
    const uint8_t components[6] = {firstId, 0x00, static_cast<uint8_t>(firstId + 1), 0x11,
                                   static_cast<uint8_t>(firstId + 2), 0x11};
    Bytes(components, sizeof(components));
    Byte(0);   // Ss
    Byte(63);  // Se
    Byte(0);   // Ah, Al
}

void CJpegHeaderWriter::Huffman(uint8_t classAndId, const CJpegTables::HuffmanTable& table) {
    Marker(0xC4);
    Word(static_cast<uint16_t>(3 + 16 + table.valueCount));
    Byte(classAndId);
    Bytes(table.bits, 16);
    Bytes(table.values, table.valueCount);
}

void CJpegHeaderWriter::Marker(uint8_t code) {
    Byte(0xFF);
    Byte(code);
}

void CJpegHeaderWriter::Word(uint16_t value) {
    Byte(static_cast<uint8_t>(value >> 8));
    Byte(static_cast<uint8_t>(value));
}

void CJpegHeaderWriter::Bytes(const uint8_t* data, size_t count) {
    std::memcpy(out_ + length_, data, count);
    length_ += count;
}

}  // namespace telvaro
