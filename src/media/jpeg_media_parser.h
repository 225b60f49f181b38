// RTP/JPEG depacketizer (RFC 2435): collects the fragments of a frame and
// rebuilds a complete JPEG file (start of image, quantization, frame,
// Huffman and scan headers) in front of the entropy-coded data. Frames are
// handed over as "JPEG".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/media_parser.h"

namespace telvaro {

class CJpegRTPMediaParser : public CRTPMediaParser {
public:
    // The longest header a rebuilt frame can get; the sample is asked for
    // this much on top of the stored frame.
    static constexpr uint32_t kHeaderReserve = 1024;

    CJpegRTPMediaParser(IDriver* driver, const std::string& allocationName);
    ~CJpegRTPMediaParser() override;

    void OnPacket(const RTPPacket* packet) override;
    void Reset() override;

    bool IsWaiting() const { return waiting_; }

    // Rebuilds the JPEG file for a stored frame (the first packet whole,
    // then the data of every further packet) into out. Returns its length,
    // 0 when the frame cannot be rebuilt; sets width and height.
    static size_t Rebuild(const uint8_t* frame, size_t length, uint8_t* out, size_t capacity, uint32_t& width,
                          uint32_t& height);

private:
    bool Append(const uint8_t* payload, size_t length);
    void HandOver();

    // Continuation packets are refused until a frame's first packet came.
    bool waiting_ = true;
    // RTP/JPEG headers stripped from every packet but the first of a frame.
    size_t headerLength_ = 8;
};

}  // namespace telvaro
