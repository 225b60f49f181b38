#include "media/mpeg4_media_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/mp4_parser.h"
#include "rtpkit/clip.h"
#include "rtpkit/mpeg4_packetizer.h"
#include "support/clip_packets.h"
#include "support/depacketizer_rig.h"

namespace {

using namespace telvaro;
using Bytes = std::vector<uint8_t>;
using Rig = fakes::DepacketizerRig<CMpeg4RTPMediaParser>;

std::string ClipPath(const std::string& name) { return std::string(OMBRELIX_TESTDATA_DIR) + "/" + name; }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A bit string written most significant bit first, without any escaping.
class Bits {
public:
    Bits& Put(uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) bits_.push_back((value >> i) & 1);
        return *this;
    }
    // Stuffing up to the byte boundary: a 0, then 1s (ISO/IEC 14496-2 5.2.4).
    Bits& NextStartCode() {
        Put(0, 1);
        while (bits_.size() % 8) Put(1, 1);
        return *this;
    }
    Bytes Get() const {
        Bytes out((bits_.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits_.size(); ++i) out[i / 8] |= static_cast<uint8_t>(bits_[i] << (7 - i % 8));
        return out;
    }

private:
    std::vector<int> bits_;
};

struct VolFields {
    uint32_t objectType = 1;
    bool layerIdentifier = true;
    uint32_t aspectRatio = 1;
    bool controlParameters = true;
    uint32_t chromaFormat = 1;
    uint32_t lowDelay = 1;
    bool vbv = false;
    uint32_t shape = 0;
    uint32_t resolution = 25;
    bool fixedRate = false;
    unsigned fixedIncrementBits = 0;
    uint32_t marker = 1;
    uint32_t width = 640, height = 480;
};

Bytes Vol(const VolFields& f) {
    Bits b;
    b.Put(0x00000120, 32).Put(0, 1).Put(f.objectType, 8).Put(f.layerIdentifier, 1);
    if (f.layerIdentifier) b.Put(2, 4).Put(1, 3);
    b.Put(f.aspectRatio, 4);
    if (f.aspectRatio == 15) b.Put(12, 8).Put(11, 8);
    b.Put(f.controlParameters, 1);
    if (f.controlParameters) {
        b.Put(f.chromaFormat, 2).Put(f.lowDelay, 1).Put(f.vbv, 1);
        if (f.vbv) {
            b.Put(100, 15).Put(1, 1).Put(0, 15).Put(1, 1).Put(200, 15).Put(1, 1).Put(0, 3).Put(50, 11).Put(1, 1);
            b.Put(0, 15).Put(f.marker, 1);
        }
    }
    b.Put(f.shape, 2).Put(1, 1).Put(f.resolution, 16).Put(1, 1).Put(f.fixedRate, 1);
    if (f.fixedRate) b.Put(1001, f.fixedIncrementBits);
    b.Put(f.vbv ? 1 : f.marker, 1).Put(f.width, 13).Put(1, 1).Put(f.height, 13).Put(1, 1);
    b.Put(0, 1).Put(1, 1).NextStartCode();  // interlaced, obmc_disable, stuffing
    return b.Get();
}

// Visual object sequence and visual object headers, then a video object.
Bytes Headers(uint32_t visualObjectType = 1, bool userData = false) {
    Bytes vos = {0, 0, 1, 0xB0, 0x03};
    if (userData) vos = Cat({vos, {0, 0, 1, 0xB2, 'x', 'y'}});
    Bits vo;
    vo.Put(0x000001B5, 32).Put(1, 1).Put(1, 4).Put(1, 3).Put(visualObjectType, 4);
    if (visualObjectType == 1) vo.Put(1, 1).Put(5, 3).Put(0, 1).Put(1, 1).Put(1, 8).Put(1, 8).Put(1, 8);
    vo.NextStartCode();
    return Cat({vos, vo.Get(), {0, 0, 1, 0x00}});
}

Bytes ShortHeader(uint32_t format, bool custom = false, uint32_t ufep = 1) {
    Bits b;
    b.Put(0x20, 22).Put(7, 8).Put(1, 1).Put(0, 4).Put(format, 3);
    if (format == 7) {
        b.Put(ufep, 3).Put(custom ? 6 : 2, 3).Put(0x10, 15).Put(0x01, 9).Put(0, 1);
        if (custom) b.Put(2, 4).Put(159, 9).Put(1, 1).Put(118, 9);
    }
    b.Put(0, 16);
    return b.Get();
}

TEST(MP4Parser, PictureSizeFromTheHeaders) {
    struct Case {
        const char* name;
        Bytes data;
        bool valid;
        uint32_t width, height;
    };
    std::vector<Case> cases;
    VolFields f;
    cases.push_back({"headers and layer", Cat({Headers(), Vol(f)}), true, 640, 480});
    cases.push_back({"user data after the sequence header", Cat({Headers(1, true), Vol(f)}), true, 640, 480});
    cases.push_back({"layer alone", Vol(f), true, 640, 480});
    cases.push_back({"not video: search for the layer", Cat({Headers(2), {0xAA, 0x55}, Vol(f)}), true, 640, 480});
    f.width = 1272;
    f.height = 714;
    cases.push_back({"1272x714 rounds up", Cat({Headers(), Vol(f)}), true, 1280, 720});
    f = VolFields();
    f.resolution = 30000;
    f.fixedRate = true;
    f.fixedIncrementBits = 15;
    cases.push_back({"fixed rate, 15-bit increment", Cat({Headers(), Vol(f)}), true, 640, 480});
    f.resolution = 1;
    f.fixedIncrementBits = 1;
    cases.push_back({"fixed rate, 1-bit increment", Cat({Headers(), Vol(f)}), true, 640, 480});
    f = VolFields();
    f.aspectRatio = 15;
    f.vbv = true;
    f.layerIdentifier = false;
    cases.push_back({"extended aspect ratio and VBV", Cat({Headers(), Vol(f)}), true, 640, 480});
    f.marker = 0;
    cases.push_back({"VBV marker 0", Cat({Headers(), Vol(f)}), false, 0, 0});
    f = VolFields();
    f.controlParameters = false;
    cases.push_back({"no control parameters", Cat({Headers(), Vol(f)}), true, 640, 480});
    f = VolFields();
    f.lowDelay = 0;
    cases.push_back({"low_delay 0", Cat({Headers(), Vol(f)}), false, 0, 0});
    f = VolFields();
    f.objectType = 17;
    cases.push_back({"not the simple object type", Cat({Headers(), Vol(f)}), false, 0, 0});
    f = VolFields();
    f.chromaFormat = 2;
    cases.push_back({"chroma format other than 4:2:0", Cat({Headers(), Vol(f)}), false, 0, 0});
    f = VolFields();
    f.shape = 1;
    cases.push_back({"binary shape", Cat({Headers(), Vol(f)}), false, 0, 0});
    f = VolFields();
    f.marker = 0;
    cases.push_back({"marker 0", Cat({Headers(), Vol(f)}), false, 0, 0});
    f = VolFields();
    f.width = 0;
    cases.push_back({"width 0", Cat({Headers(), Vol(f)}), false, 0, 0});
    const Bytes whole = Cat({Headers(), Vol(VolFields())});
    cases.push_back({"cut inside the layer", Bytes(whole.begin(), whole.end() - 4), false, 0, 0});
    cases.push_back({"no visual object after the sequence", Cat({{0, 0, 1, 0xB0, 3}, Vol(VolFields())}), false, 0, 0});
    cases.push_back({"a VOP and no layer", {0, 0, 1, 0xB6, 0x10, 0x20}, false, 0, 0});
    const uint32_t sizes[][2] = {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
    for (uint32_t format = 1; format <= 5; ++format) {
        cases.push_back({"short video header", ShortHeader(format), true, sizes[format - 1][0], sizes[format - 1][1]});
    }
    cases.push_back({"short video header, format 0", ShortHeader(0), false, 0, 0});
    cases.push_back({"extended type, format 2", ShortHeader(7), true, 176, 144});
    cases.push_back({"extended type, custom 640x472", ShortHeader(7, true), true, 640, 480});
    cases.push_back({"extended type without update", ShortHeader(7, true, 0), false, 0, 0});

    CMP4Parser parser;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t w = 0, h = 0;
        ASSERT_EQ(parser.Parse(c.data.data(), c.data.size(), w, h), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
    }
}

TEST(MP4Parser, ClipConfigurations) {
    const std::pair<const char*, std::pair<uint32_t, uint32_t>> clips[] = {{"mpeg4_sp_640x480.m4v", {640, 480}},
                                                                           {"mpeg4_sp_1280x720.m4v", {1280, 720}}};
    for (const auto& c : clips) {
        rtpkit::Clip clip;
        ASSERT_TRUE(rtpkit::LoadClip(ClipPath(c.first), clip));
        uint32_t w = 0, h = 0;
        ASSERT_TRUE(CMP4Parser().Parse(clip.config.data(), clip.config.size(), w, h)) << c.first;
        EXPECT_EQ(std::make_pair(w, h), c.second);
    }
}

const Bytes kIVop = {0, 0, 1, 0xB6, 0x10, 0x11, 0x12};
const Bytes kPVop = {0, 0, 1, 0xB6, 0x50, 0x21, 0x22};

TEST(Mpeg4Depacketizer, ConfigurationGoesInFrontOfEveryIntraVop) {
    const Bytes config = Cat({Headers(), Vol(VolFields())});
    Rig rig;
    rig.FeedPayload(kPVop, true);  // before any I-VOP: dropped
    rig.FeedPayload(Cat({config, kIVop}), false);
    rig.FeedPayload({0x33, 0x44}, true);
    rig.FeedPayload(kPVop, true);
    rig.FeedPayload(kIVop, true);  // no configuration of its own: the last one
    const auto frames = rig.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].data, Cat({config, kIVop, {0x33, 0x44}}));
    EXPECT_EQ(frames[0].fourcc, kFourCCDIVX);
    EXPECT_EQ(frames[1].data, kPVop);
    EXPECT_EQ(frames[1].fourcc, kFourCCDIVI);
    EXPECT_EQ(frames[2].data, Cat({config, kIVop}));
    EXPECT_EQ(frames[2].fourcc, kFourCCDIVX);
    for (const auto& f : frames) {
        EXPECT_EQ(f.width, 640u);
        EXPECT_EQ(f.height, 480u);
    }
    EXPECT_EQ(rig.parser.GetInBandConfig(), config);
}

TEST(Mpeg4Depacketizer, SessionConfigurationServesStreamsWithoutTheirOwn) {
    VolFields f;
    f.width = 1272;
    f.height = 714;
    const Bytes config = Cat({Headers(), Vol(f)});
    Rig rig;
    MediaConfig session;
    session.config = config;
    rig.parser.SetMediaConfig(session);
    rig.FeedPayload(kIVop, true);
    rig.FeedPayload(kPVop, true);
    rig.FeedPayload(kIVop, true);
    const auto frames = rig.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].data, Cat({config, kIVop}));
    EXPECT_EQ(frames[2].data, Cat({config, kIVop}));
    EXPECT_EQ(frames[1].fourcc, kFourCCDIVI);
    EXPECT_EQ(frames[1].width, 1280u);
    EXPECT_EQ(frames[1].height, 720u);
}

// A group-of-VOP header in front of the VOP (ffmpeg's encoder, served by
// VLC) begins the frame and stays in it, after the configuration.
TEST(Mpeg4Depacketizer, AGroupOfVopHeaderBeginsTheFrameOfItsVop) {
    const Bytes config = Cat({Headers(), Vol(VolFields())});
    const Bytes gov = {0, 0, 1, 0xB3, 0x00, 0x10, 0x07};
    Rig rig;
    MediaConfig session;
    session.config = config;
    rig.parser.SetMediaConfig(session);
    rig.FeedPayload(Cat({gov, kIVop}), false);
    rig.FeedPayload({0x33}, true);
    rig.FeedPayload(kPVop, true);
    rig.FeedPayload(Cat({gov, kPVop}), true);
    const auto frames = rig.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].data, Cat({config, gov, kIVop, {0x33}}));
    EXPECT_EQ(frames[0].fourcc, kFourCCDIVX);
    EXPECT_EQ(frames[2].data, Cat({gov, kPVop}));
    EXPECT_EQ(frames[2].fourcc, kFourCCDIVI);
}

TEST(Mpeg4Depacketizer, KeyFramesWhoseHeadersDoNotParseAreDropped) {
    VolFields bad;
    bad.lowDelay = 0;
    struct Case {
        const char* name;
        Bytes first;
        FailureKind kind;  // kept for the channel's log
    } cases[] = {
        {"low_delay 0", Cat({Headers(), Vol(bad), kIVop}), kFailureUnsupported},
        {"no configuration at all", kIVop, kFailureIncomplete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.FeedPayload(c.first, true);
        rig.FeedPayload(kPVop, true);
        EXPECT_TRUE(rig.Frames().empty());
        EXPECT_TRUE(rig.parser.IsWaiting());
        EXPECT_EQ(rig.allocator.allocations.load(), 0);
        EXPECT_EQ(rig.parser.LastFailure().kind, c.kind);
        // The next I-VOP with good headers streams again.
        rig.FeedPayload(Cat({Headers(), Vol(VolFields()), kIVop}), true);
        ASSERT_EQ(rig.Frames().size(), 1u);
        EXPECT_EQ(rig.Frames()[0].fourcc, kFourCCDIVX);
    }
}

TEST(Mpeg4Depacketizer, RefusedFrameAndOverflowReset) {
    const Bytes first = Cat({Headers(), Vol(VolFields()), kIVop});
    Rig rig;
    rig.client.sink.accept = false;
    rig.FeedPayload(first, true);
    EXPECT_TRUE(rig.parser.IsWaiting());
    EXPECT_EQ(rig.allocator.releases.load(), 1);

    rig.client.sink.accept = true;
    rig.FeedPayload(first, false);
    const Bytes chunk(1 << 20, 0x77);
    for (int i = 0; i < 11; ++i) rig.FeedPayload(chunk, false);
    EXPECT_TRUE(rig.parser.IsWaiting());
    EXPECT_EQ(rig.driver.CountMessages("Frame buffer overflow detected"), 1u);
}

fakes::ClipPackets Packetize(const rtpkit::Clip& clip, bool configInBand) {
    rtpkit::Mpeg4PacketizerOptions options;
    options.configInBand = configInBand;
    return fakes::PacketizeClip(
        clip.frames, [&](const rtpkit::Frame& f) { return rtpkit::PacketizeMpeg4(f, clip.config, options); }, 65000);
}

TEST(Mpeg4Depacketizer, ClipsRoundTripThroughADecoder) {
    const char* files[] = {"mpeg4_sp_640x480.m4v", "mpeg4_sp_1280x720.m4v"};
    for (const char* file : files) {
        for (bool inBand : {true, false}) {
            SCOPED_TRACE(std::string(file) + (inBand ? " in band" : " session"));
            rtpkit::Clip clip;
            ASSERT_TRUE(rtpkit::LoadClip(ClipPath(file), clip));
            Rig rig;
            if (!inBand) {
                MediaConfig session;
                session.config = clip.config;
                rig.parser.SetMediaConfig(session);
            }
            rig.Feed(Packetize(clip, inBand).packets);
            const auto frames = rig.Frames();
            ASSERT_EQ(frames.size(), clip.frames.size());
            for (size_t i = 0; i < frames.size(); ++i) {
                const rtpkit::Frame& f = clip.frames[i];
                ASSERT_EQ(frames[i].data, f.key ? Cat({clip.config, f.data}) : f.data) << i;
                EXPECT_EQ(frames[i].fourcc, f.key ? kFourCCDIVX : kFourCCDIVI) << i;
            }
            EXPECT_EQ(fakes::CheckFramesDecode(frames, fakes::VideoDecoder::Codec::Mpeg4), "");
            EXPECT_TRUE(rig.parser.LastFailure().Empty()) << rig.parser.LastFailure().text;
        }
    }
}

TEST(Mpeg4Depacketizer, LostPacketsDropFramesUntilTheNextIntraVop) {
    rtpkit::Clip clip;
    ASSERT_TRUE(rtpkit::LoadClip(ClipPath("mpeg4_sp_640x480.m4v"), clip));
    const fakes::ClipPackets s = Packetize(clip, true);
    for (size_t frame : {0u, 4u, 9u}) {
        const size_t begin = s.firstPacket[frame];
        const size_t end = s.firstPacket[frame + 1];
        for (size_t lost : {begin, end - 1}) {
            SCOPED_TRACE("frame " + std::to_string(frame) + " packet " + std::to_string(lost - begin));
            Rig rig;
            for (size_t i = 0; i < s.packets.size(); ++i) {
                if (i != lost) rig.Feed(s.packets[i]);
            }
            size_t resume = frame + 1;
            while (resume < clip.frames.size() && !clip.frames[resume].key) ++resume;
            const auto frames = rig.Frames();
            ASSERT_EQ(frames.size(), frame + clip.frames.size() - resume);
            EXPECT_EQ(fakes::CheckFramesDecode(frames, fakes::VideoDecoder::Codec::Mpeg4), "");
            // Loss is not the sender's fault: it leaves no reason.
            EXPECT_TRUE(rig.parser.LastFailure().Empty()) << rig.parser.LastFailure().text;
        }
    }
}

}  // namespace
