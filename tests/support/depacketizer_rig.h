// A depacketizer in the surroundings a codec channel gives it: driver
// services with a sample allocator, and a client that passes every frame to
// a recording stream sink. Packets go in as RTP packets or as bare payloads.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/media_parser.h"
#include "rtp/rtp_packet.h"
#include "support/fake_driver.h"
#include "support/fake_host.h"
#include "support/video_decoder.h"

namespace fakes {

using Bytes = std::vector<uint8_t>;

class ParserClient : public telvaro::IMediaParserClient {
public:
    bool OnFrame(IMediaSample* sample) override { return sink.OnSample(sample); }
    std::pair<uint32_t, uint32_t> GetResolution() override {
        ++resolutionQueries;
        return resolution;
    }

    FakeStreamSink sink;
    std::pair<uint32_t, uint32_t> resolution{640, 480};
    int resolutionQueries = 0;
};

template <typename Parser>
class DepacketizerRig {
public:
    DepacketizerRig() : parser(&driver, "Ombrelix") {
        driver.allocator = &allocator;
        parser.SetClient(&client);
    }

    // A whole RTP packet; false when its header does not parse.
    bool Feed(const Bytes& packet) {
        telvaro::RTPPacket parsed;
        if (!telvaro::ParseRTPHeader(packet.data(), packet.size(), parsed)) return false;
        parser.OnPacket(&parsed);
        return true;
    }
    void Feed(const std::vector<Bytes>& packets) {
        for (const Bytes& p : packets) Feed(p);
    }
    // A payload with the next sequence number.
    void FeedPayload(const Bytes& payload, bool marker, uint32_t timeStamp = 3000) {
        telvaro::RTPPacket p;
        p.sequenceNumber = sequence++;
        p.marker = marker;
        p.timeStamp = timeStamp;
        p.payload = payload.data();
        p.payloadLength = static_cast<uint32_t>(payload.size());
        parser.OnPacket(&p);
    }

    std::vector<ReceivedFrame> Frames() { return client.sink.Frames(); }

    FakeDriver driver;
    FakeSampleAllocator allocator;
    ParserClient client;
    Parser parser;
    uint16_t sequence = 100;
};

// Decodes each frame with libavcodec, in order; every frame must decode
// without error and give one picture of exactly the size set on its sample.
// Returns a description of the first fault, empty when there is none.
std::string CheckFramesDecode(const std::vector<ReceivedFrame>& frames, VideoDecoder::Codec codec);

}  // namespace fakes
