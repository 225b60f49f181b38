// Reads a bit string most significant bit first. Bits past the end read as
// 1 and mark the reader as overrun, so that a parse can run to its end and
// judge the result once. For H.264 it can skip the emulation-prevention
// bytes (00 00 03) of a NAL unit, so that fields are read from the RBSP.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvaro {

class CBitReader {
public:
    CBitReader(const uint8_t* data, size_t length, bool skipEmulationPrevention = false)
        : current_(data), end_(data + length), skipEmulationPrevention_(skipEmulationPrevention) {}

    uint32_t ReadBit() {
        if (current_ >= end_) {
            overrun_ = true;
            return 1;
        }
        const uint32_t bit = (*current_ >> (7 - bitIndex_)) & 1u;
        if (++bitIndex_ == 8) NextByte();
        return bit;
    }

    // Up to 32 bits.
    uint32_t ReadBits(unsigned count) {
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) value = (value << 1) | ReadBit();
        return value;
    }

    void SkipBits(size_t count) {
        for (size_t i = 0; i < count; ++i) ReadBit();
    }

    // The next count bits (up to 32) without consuming them.
    uint32_t PeekBits(unsigned count) const {
        CBitReader copy = *this;
        return copy.ReadBits(count);
    }

    // Exp-Golomb code (ITU-T H.264 9.1); a code longer than 32 bits marks
    // the reader as failed.
    uint32_t ReadUE() {
        unsigned leadingZeros = 0;
        while (ReadBit() == 0) {
            if (++leadingZeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        if (leadingZeros == 0) return 0;
        return static_cast<uint32_t>((1ull << leadingZeros) - 1 + ReadBits(leadingZeros));
    }

    // Signed exp-Golomb code (ITU-T H.264 9.1.1).
    int64_t ReadSE() {
        const uint64_t k = ReadUE();
        return (k & 1) ? static_cast<int64_t>((k + 1) / 2) : -static_cast<int64_t>(k / 2);
    }

    bool IsByteAligned() const { return bitIndex_ == 0; }
    void AlignToByte() {
        if (bitIndex_ != 0) {
            bitIndex_ = 0;
            NextByte();
        }
    }

    // Position of the byte being read, counted from the start of the data.
    const uint8_t* Current() const { return current_; }
    // Continues at a byte position (for searches over the data).
    void SeekTo(const uint8_t* position) {
        current_ = position;
        bitIndex_ = 0;
        zeroBytes_ = 0;
    }
    const uint8_t* End() const { return end_; }

    bool Overrun() const { return overrun_; }
    bool Failed() const { return failed_ || overrun_; }

private:
    void NextByte() {
        bitIndex_ = 0;
        zeroBytes_ = *current_ == 0 ? zeroBytes_ + 1 : 0;
        ++current_;
        if (skipEmulationPrevention_ && zeroBytes_ >= 2 && current_ < end_ && *current_ == 3) {
            ++current_;
            zeroBytes_ = 0;
        }
    }

    const uint8_t* current_;
    const uint8_t* end_;
    unsigned bitIndex_ = 0;  // 0 to 7, from the most significant bit
    unsigned zeroBytes_ = 0;
    bool skipEmulationPrevention_;
    bool overrun_ = false;
    bool failed_ = false;
};

}  // namespace telvaro
