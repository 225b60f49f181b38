// Shared by the depacketizer fuzz targets: the input becomes a sequence of
// RTP packets fed to one parser, with a host whose samples are exactly as
// large as asked for, so that any write past the capacity shows up.
//
// Input layout, repeated: a control byte (bit 0 marker, bit 1 skip a
// sequence number, bit 2 the host refuses the frame), a length byte, then
// that many payload bytes (fewer at the end of the input).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tests/support/null_driver.h"
#include "media/media_parser.h"
#include "rtp/rtp_packet.h"

namespace fuzzing {

using namespace telvaro;

class Sample : public ipcapture::IMediaSample {
public:
    Sample(uint32_t fourCC, uint32_t capacity) : fourCC_(fourCC), buffer_(capacity) {}
    uint8_t* GetBuffer() override { return buffer_.data(); }
    void SetLength(uint32_t length) override {
        if (length > buffer_.size()) abort();
        length_ = length;
    }
    void SetTime(const SYSTEMTIME&) override {}
    void SetFourCC(uint32_t fourCC) override { fourCC_ = fourCC; }
    void SetHeight(uint32_t) override {}
    void SetWidth(uint32_t) override {}
    void SetSizeClass(uint32_t) override {}

    uint32_t fourCC_;
    uint32_t length_ = 0;
    std::vector<uint8_t> buffer_;
};

class Host : public ipcapture::ISampleAllocator, public IMediaParserClient {
public:
    ipcapture::IMediaSample* AllocateSample(uint32_t fourCC, uint32_t capacity, const char*) override {
        ++outstanding;
        return new Sample(fourCC, capacity);
    }
    void ReleaseSample(ipcapture::IMediaSample* sample) override {
        --outstanding;
        delete static_cast<Sample*>(sample);
    }

    bool OnFrame(ipcapture::IMediaSample* sample) override {
        auto* s = static_cast<Sample*>(sample);
        volatile uint8_t sum = 0;
        for (uint32_t i = 0; i < s->length_; ++i) sum = sum + s->buffer_[i];
        if (s->length_ == 0) abort();
        return !refuse;
    }
    std::pair<uint32_t, uint32_t> GetResolution() override { return {1920, 1080}; }

    bool refuse = false;
    int outstanding = 0;
};

template <typename Parser>
void FeedPackets(const uint8_t* data, size_t size) {
    Host host;
    fakes::NullDriver driver(&host);
    Parser parser(&driver, "Ombrelix");
    parser.SetClient(&host);
    RTPPacket packet;
    packet.timeStamp = 1000;
    packet.sequenceNumber = 7;
    size_t pos = 0;
    while (pos + 2 <= size) {
        const uint8_t control = data[pos];
        size_t length = data[pos + 1];
        pos += 2;
        if (length > size - pos) length = size - pos;
        // A copy of exactly the payload, so that reads past it are caught.
        std::vector<uint8_t> payload(data + pos, data + pos + length);
        pos += length;
        packet.marker = control & 1;
        if (control & 2) ++packet.sequenceNumber;
        host.refuse = control & 4;
        packet.payload = payload.data();
        packet.payloadLength = static_cast<uint32_t>(payload.size());
        parser.OnPacket(&packet);
        ++packet.sequenceNumber;
        if (packet.marker) packet.timeStamp += 3000;
    }
    if (host.outstanding != 0) abort();
}

}  // namespace fuzzing
