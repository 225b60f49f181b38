#include "media/bit_writer.h"

namespace telvaro {

void CBitWriter::WriteBits(uint32_t value, unsigned count) {
    // Fed in pieces of at most 16 bits so that the 32-bit accumulator never
    // holds more than 7 + 16 bits.
    while (count > 0) {
        const unsigned n = count > 16 ? 16 : count;
        count -= n;
        const uint32_t piece = (value >> count) & ((1u << n) - 1);
        accumulator_ = (accumulator_ << n) | piece;
        pending_ += n;
        while (pending_ >= 8) {
            pending_ -= 8;
            PutByte(static_cast<uint8_t>(accumulator_ >> pending_));
        }
        accumulator_ &= (1u << pending_) - 1;
    }
}

void CBitWriter::WriteUE(uint32_t value) {
    const uint64_t code = static_cast<uint64_t>(value) + 1;
    unsigned bits = 0;
    while ((code >> bits) > 1) ++bits;
    WriteBits(0, bits);
    // code has bits + 1 significant bits; the top one is the leading 1.
    WriteBits(1, 1);
    WriteBits(static_cast<uint32_t>(code), bits);
}

void CBitWriter::WriteSE(int32_t value) {
    const int64_t v = value;
    WriteUE(static_cast<uint32_t>(v > 0 ? 2 * v - 1 : -2 * v));
}

void CBitWriter::WriteTrailingBits() {
    WriteBits(1, 1);
    if (pending_ > 0) WriteBits(0, 8 - pending_);
}

void CBitWriter::PutByte(uint8_t byte) {
    bytes_.push_back(byte);
    if (byte != 0) {
        zeroBytes_ = 0;
        return;
    }
    if (++zeroBytes_ == 2) {
        bytes_.push_back(0x03);
        zeroBytes_ = 0;
    }
}

}  // namespace telvaro
