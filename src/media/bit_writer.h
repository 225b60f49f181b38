// Writes a NAL unit's bit string most significant bit first, with the
// emulation prevention of ITU-T H.264 7.4.1: a 0x03 byte follows every two
// consecutive zero bytes written, so that no start code appears inside.
#pragma once

#include <cstdint>
#include <vector>

namespace telvaro {

class CBitWriter {
public:
    // Up to 32 bits of value, the most significant first.
    void WriteBits(uint32_t value, unsigned count);
    void WriteBit(bool bit) { WriteBits(bit ? 1u : 0u, 1); }
    // Exp-Golomb codes (ITU-T H.264 9.1).
    void WriteUE(uint32_t value);
    void WriteSE(int32_t value);
    // rbsp_trailing_bits: a 1, then zeros up to the byte boundary; flushes.
    void WriteTrailingBits();

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    void PutByte(uint8_t byte);

    std::vector<uint8_t> bytes_;
    uint32_t accumulator_ = 0;
    unsigned pending_ = 0;  // bits held in the accumulator, fewer than 8 after each write
    unsigned zeroBytes_ = 0;
};

}  // namespace telvaro
