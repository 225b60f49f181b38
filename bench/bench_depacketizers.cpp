// Throughput of the three depacketizers on realistic streams of about
// 1400-byte packets, the hand-over to a host with a trivial allocator
// included, against a plain memcpy of the same payload bytes measured in the
// same run. A depacketizer copies each byte twice (into the frame buffer and
// into the sample), so the ratio to one memcpy is at most about 0.5.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "media/h264_media_parser.h"
#include "media/jpeg_media_parser.h"
#include "media/mpeg4_media_parser.h"
#include "rtp/rtp_packet.h"
#include "rtpkit/clip.h"
#include "rtpkit/h264_packetizer.h"
#include "rtpkit/jpeg_packetizer.h"
#include "rtpkit/mpeg4_packetizer.h"
#include "support/clip_packets.h"
#include "support/null_driver.h"

namespace {

using namespace telvaro;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// One sample whose buffer is reused; the host's recycling at its cheapest.
class ReusedSample : public ipcapture::IMediaSample {
public:
    uint8_t* GetBuffer() override { return buffer.data(); }
    void SetLength(uint32_t l) override { length = l; }
    void SetTime(const SYSTEMTIME&) override {}
    void SetFourCC(uint32_t) override {}
    void SetHeight(uint32_t) override {}
    void SetWidth(uint32_t) override {}
    void SetSizeClass(uint32_t) override {}
    std::vector<uint8_t> buffer;
    uint32_t length = 0;
};

class TrivialHost : public ipcapture::ISampleAllocator, public IMediaParserClient {
public:
    ipcapture::IMediaSample* AllocateSample(uint32_t, uint32_t capacity, const char*) override {
        if (sample.buffer.size() < capacity) sample.buffer.resize(capacity);
        return &sample;
    }
    void ReleaseSample(ipcapture::IMediaSample*) override {}
    bool OnFrame(ipcapture::IMediaSample* s) override {
        ++frames;
        bytesOut += static_cast<ReusedSample*>(s)->length;
        return true;
    }
    std::pair<uint32_t, uint32_t> GetResolution() override { return {1920, 1080}; }

    ReusedSample sample;
    uint64_t frames = 0;
    uint64_t bytesOut = 0;
};

struct Stream {
    const char* name;
    std::vector<Bytes> wire;          // RTP packets as received
    std::vector<RTPPacket> packets;   // parsed, pointing into wire
    uint64_t payloadBytes = 0;
    size_t frames = 0;
};

void Finish(Stream& s) {
    for (const Bytes& w : s.wire) {
        RTPPacket p;
        if (!ParseRTPHeader(w.data(), w.size(), p)) continue;
        s.packets.push_back(p);
        s.payloadBytes += p.payloadLength;
    }
}

// 1080p H.264 at 8 Mbit/s and 25 frames per second: an IDR picture of about
// 160 kB every 25 frames and P pictures of about 34 kB, behind the
// parameter sets of the 1080p clip.
Stream MakeH264(const std::string& testdata) {
    Stream s{"H.264 1080p 8 Mbit/s", {}, {}, 0, 0};
    rtpkit::Clip clip;
    if (!rtpkit::LoadClip(testdata + "/h264_high_1920x1080.h264", clip)) return s;
    std::mt19937 random(7);
    std::vector<rtpkit::Frame> frames(50);
    for (size_t i = 0; i < frames.size(); ++i) {
        rtpkit::Frame& f = frames[i];
        f.key = i % 25 == 0;
        if (f.key) f.nals = {clip.sps, clip.pps};
        Bytes slice(f.key ? 160000 : 34000);
        for (uint8_t& b : slice) b = static_cast<uint8_t>(random() | 0x01);  // no start code inside
        slice[0] = f.key ? 0x65 : 0x41;
        f.nals.push_back(slice);
    }
    s.wire = fakes::PacketizeClip(frames, [](const rtpkit::Frame& f) { return rtpkit::PacketizeH264(f, {}); }, 0)
                 .packets;
    s.frames = frames.size();
    Finish(s);
    return s;
}

Stream MakeJpeg(const std::string& testdata) {
    Stream s{"JPEG 720p", {}, {}, 0, 0};
    rtpkit::Clip clip;
    if (!rtpkit::LoadClip(testdata + "/jpeg420_1280x720.mjpeg", clip)) return s;
    rtpkit::JpegPacketizerOptions options;
    options.q = 50;
    s.wire = fakes::PacketizeClip(clip.frames,
                                  [&](const rtpkit::Frame& f) {
                                      std::vector<Bytes> payloads;
                                      rtpkit::PacketizeJpeg(f, options, payloads, nullptr);
                                      return payloads;
                                  },
                                  0)
                 .packets;
    s.frames = clip.frames.size();
    Finish(s);
    return s;
}

Stream MakeMpeg4(const std::string& testdata) {
    Stream s{"MPEG-4 720p", {}, {}, 0, 0};
    rtpkit::Clip clip;
    if (!rtpkit::LoadClip(testdata + "/mpeg4_sp_1280x720.m4v", clip)) return s;
    s.wire = fakes::PacketizeClip(
                 clip.frames, [&](const rtpkit::Frame& f) { return rtpkit::PacketizeMpeg4(f, clip.config, {}); }, 0)
                 .packets;
    s.frames = clip.frames.size();
    Finish(s);
    return s;
}

// Seconds for the given number of passes over the stream.
template <typename Pass>
double Time(int passes, Pass pass) {
    const auto start = Clock::now();
    for (int i = 0; i < passes; ++i) pass();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Parser>
bool Measure(Stream& s) {
    if (s.packets.empty()) {
        std::printf("%-22s no stream (testdata missing)\n", s.name);
        return false;
    }
    TrivialHost host;
    fakes::NullDriver driver(&host);
    Parser parser(&driver, "Ombrelix");
    parser.SetClient(&host);
    uint16_t sequence = 0;
    auto depacketize = [&] {
        for (RTPPacket& p : s.packets) {
            p.sequenceNumber = sequence++;
            parser.OnPacket(&p);
        }
    };
    depacketize();  // warms the frame buffer and the sample
    if (host.frames != s.frames) {
        std::printf("%-22s %llu of %zu frames handed over\n", s.name, static_cast<unsigned long long>(host.frames),
                    s.frames);
        return false;
    }

    std::vector<uint8_t> target(CRTPMediaParser::kMaxFrameSize);
    size_t offset = 0;
    volatile uint8_t sink = 0;
    auto copy = [&] {
        for (const RTPPacket& p : s.packets) {
            if (offset + p.payloadLength > target.size()) offset = 0;
            std::memcpy(target.data() + offset, p.payload, p.payloadLength);
            offset += p.payloadLength;
            if (p.marker) {
                sink = sink + target[offset / 2];
                offset = 0;
            }
        }
    };

    const double megabytes = static_cast<double>(s.payloadBytes) / 1e6;
    const int passes = std::max(1, static_cast<int>(200.0 / megabytes));
    // Alternating rounds, the best of each: the machine may be shared.
    double parse = 1e9;
    double plain = 1e9;
    for (int round = 0; round < 5; ++round) {
        parse = std::min(parse, Time(passes, depacketize));
        plain = std::min(plain, Time(passes, copy));
    }
    const double parseRate = megabytes * passes / parse;
    const double copyRate = megabytes * passes / plain;
    std::printf("%-22s %6zu packets %8.1f kB/frame  depacketizer %8.0f MB/s  memcpy %8.0f MB/s  ratio %.2f\n", s.name,
                s.packets.size(), static_cast<double>(s.payloadBytes) / s.frames / 1e3, parseRate, copyRate,
                parseRate / copyRate);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The project's clips unless a folder is given.
    const std::string testdata = argc > 1 ? argv[1] : OMBRELIX_TESTDATA_DIR;
    Stream h264 = MakeH264(testdata);
    Stream jpeg = MakeJpeg(testdata);
    Stream mpeg4 = MakeMpeg4(testdata);
    bool ok = Measure<CH264RTPMediaParser>(h264);
    ok = Measure<CJpegRTPMediaParser>(jpeg) && ok;
    ok = Measure<CMpeg4RTPMediaParser>(mpeg4) && ok;
    return ok ? 0 : 1;
}
