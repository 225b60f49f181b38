// RTP/JPEG depacketizer (RFC 2435): collects the fragments of a frame and
// rebuilds a complete JPEG file (start of image, quantization, frame,
// Huffman and scan headers) in front of the entropy-coded data. Frames are
// handed over as "JPEG".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

private:
    // Where the parts of a stored frame lie, read from its first packet.
    struct Layout {
        uint8_t type = 0;
        int q = 0;
        uint16_t restartInterval = 0;
        size_t dataPos = 0;            // first byte of scan data
        const uint8_t* tables = nullptr;  // Q 128 to 255: the tables; none for Q below 128
        size_t tableBytes = 0;
        bool tablesInPacket = false;      // rather than received with an earlier frame
        size_t headerLength = 0;       // of the rebuilt JPEG header
    };
    // False, with the reason noted, when the headers are cut short or
    // malformed, or the frame's quantization tables are unknown: Q 255
    // without tables in the packet, or Q 128 to 254 with none in it and none
    // received for that Q before (RFC 2435 section 3.1.8).
    bool ReadLayout(const uint8_t* frame, size_t length, Layout& layout);

    bool Append(const uint8_t* payload, size_t length);
    // Empties the stored frame and forgets its padding.
    void ClearStored();
    void HandOver();
    // Rebuilds the JPEG file for the stored frame (the first packet whole,
    // then the data of every further packet) into out. Returns its length,
    // 0 when the frame cannot be rebuilt; sets width and height.
    size_t Rebuild(uint8_t* out, size_t capacity);
    // The tables for Q, computed once per change of Q.
    const uint8_t* TablesForQ(int q);

    // Continuation packets are refused until a frame's first packet came.
    bool waiting_ = true;
    // The fragment offset the next packet of the frame must carry: the scan
    // data received so far. Anything else is a gap or an overlap.
    uint32_t expectedOffset_ = 0;
    // In-band tables last received for Q 128 to 254, which later frames of
    // the same Q may leave out; at most 127 x 128 bytes.
    std::vector<uint8_t> tablesOfQ_[127];
    // RTP/JPEG headers stripped from every packet but the first of a frame.
    size_t headerLength_ = 8;
    // Bytes in front of the stored first packet (see Append).
    size_t alignPad_ = 0;
    uint8_t qTables_[128] = {};
    int qTablesFor_ = -1;
};

}  // namespace telvaro
