#include "media/h264_media_parser.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "media/h264_sps.h"
#include "rtpkit/clip.h"
#include "rtpkit/h264_packetizer.h"
#include "support/clip_packets.h"
#include "support/depacketizer_rig.h"

namespace {

using namespace telvaro;
using Bytes = std::vector<uint8_t>;
using Rig = fakes::DepacketizerRig<CH264RTPMediaParser>;

const Bytes kAud = {0, 0, 1, 0x09, 0x30};
const Bytes kFallbackPps = {0x68, 0xCE, 0x3C, 0x80};

std::string ClipPath(const std::string& name) { return std::string(OMBRELIX_TESTDATA_DIR) + "/" + name; }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Nal(const Bytes& nal) { return Cat({{0, 0, 1}, nal}); }

// A small but real key frame: the baseline clip's parameter sets and a
// made-up slice.
struct KeyFrame {
    Bytes sps, pps;
    Bytes stapA;  // both sets in one STAP-A
};
KeyFrame ClipKeyFrame() {
    rtpkit::Clip clip;
    EXPECT_TRUE(rtpkit::LoadClip(ClipPath("h264_baseline_640x480.h264"), clip));
    KeyFrame k{clip.sps, clip.pps, {0x78}};
    for (const Bytes* s : {&k.sps, &k.pps}) {
        k.stapA.push_back(static_cast<uint8_t>(s->size() >> 8));
        k.stapA.push_back(static_cast<uint8_t>(s->size()));
        k.stapA.insert(k.stapA.end(), s->begin(), s->end());
    }
    return k;
}

// Brings the parser to streaming with a key frame, so that later frames are
// handed over as they are rebuilt.
void Prime(Rig& rig, const KeyFrame& k) {
    rig.FeedPayload(k.stapA, false);
    rig.FeedPayload({0x65, 0x88, 0x84}, true);
    ASSERT_FALSE(rig.parser.IsWaiting());
    rig.client.sink.Clear();
}

TEST(H264Depacketizer, PayloadsAreRebuiltWithStartCodes) {
    const Bytes ten = {0x41, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Bytes five = {0x06, 5, 4, 3, 2};
    struct Case {
        const char* name;
        std::vector<Bytes> payloads;
        bool delivered;
        Bytes frame;  // without the delimiter
    } cases[] = {
        {"single NAL unit", {{0x41, 0xAA, 0xBB}}, true, {0, 0, 1, 0x41, 0xAA, 0xBB}},
        // The camera's delimiters are left out wherever they come: the
        // frame's own at its end is the only one.
        {"camera's delimiter", {{0x09, 0x10}, {0x41, 0xAA}}, true, {0, 0, 1, 0x41, 0xAA}},
        {"camera's delimiter in a STAP-A", {Cat({{0x18, 0, 2, 0x09, 0x10, 0, 5}, five})}, true, Nal(five)},
        {"camera's delimiter as an FU-A", {{0x7C, 0x89, 0x10}, {0x7C, 0x49, 0x30}, {0x41, 0xAA}}, true, {0, 0, 1, 0x41, 0xAA}},
        {"camera's delimiters in a byte stream",
         {{0, 0, 0, 1, 0x09, 0x10, 0, 0, 0, 1, 0x41, 0xAA, 0, 0, 1, 0x09, 0x30, 0, 0, 1, 0x41, 0xBB}},
         true,
         {0, 0, 0, 1, 0x41, 0xAA, 0, 0, 1, 0x41, 0xBB}},
        {"single NAL unit of 1 byte", {{0x41}}, true, {0, 0, 1, 0x41}},
        {"byte stream payload", {{0, 0, 0, 1, 0x41, 0xAA}}, true, {0, 0, 0, 1, 0x41, 0xAA}},
        {"STAP-A 10 and 5", {Cat({{0x18, 0, 10}, ten, {0, 5}, five})}, true, Cat({Nal(ten), Nal(five)})},
        {"STAP-A with a trailing byte", {Cat({{0x18, 0, 5}, five, {0x77}})}, true, Nal(five)},
        {"STAP-A with a size of 0", {Cat({{0x18, 0, 0, 0, 5}, five})}, true, Cat({{0, 0, 1}, Nal(five)})},
        {"STAP-A size beyond the payload", {Cat({{0x18, 0, 10}, five})}, false, {}},
        {"STAP-A of 3 bytes", {{0x18, 0, 0}}, false, {}},
        {"FU-A", {{0x7C, 0x81, 1, 2}, {0x7C, 0x01, 3}, {0x7C, 0x41, 4}}, true, {0, 0, 1, 0x61, 1, 2, 3, 4}},
        {"FU-A with its own start code", {{0x7C, 0x81, 0, 0, 1, 0x41, 9}}, true, {0, 0, 1, 0x41, 9}},
        {"FU-A of 2 bytes", {{0x7C, 0x81}}, false, {}},
        {"empty payload", {{}}, false, {}},
        {"STAP-B", {{0x19, 0, 0, 0, 2, 0x41, 1}}, false, {}},
        {"MTAP16", {{0x1A, 0, 0, 0, 2, 0x41, 1}}, false, {}},
        {"MTAP24", {{0x1B, 0, 0, 0, 2, 0x41, 1}}, false, {}},
        {"FU-B", {{0x1D, 0x81, 0, 0, 1}}, false, {}},
        {"type 0", {{0x00, 1, 2}}, false, {}},
        {"type 30", {{0x1E, 1, 2}}, false, {}},
        {"type 31", {{0x1F, 1, 2}}, false, {}},
    };
    const KeyFrame k = ClipKeyFrame();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        Prime(rig, k);
        for (size_t i = 0; i < c.payloads.size(); ++i) rig.FeedPayload(c.payloads[i], i + 1 == c.payloads.size());
        const auto frames = rig.Frames();
        if (!c.delivered) {
            EXPECT_TRUE(frames.empty());
            EXPECT_TRUE(rig.parser.IsWaiting());
            continue;
        }
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].data, Cat({c.frame, kAud}));
        EXPECT_EQ(frames[0].fourcc, kFourCCI264);
        EXPECT_EQ(frames[0].width, 640u);
        EXPECT_EQ(frames[0].height, 480u);
    }
}

// What the parser refuses or finds out of order is kept, kind and cause,
// for the channel's log.
TEST(H264Depacketizer, RefusedPayloadsLeaveTheirReason) {
    struct Case {
        const char* name;
        std::vector<Bytes> payloads;
        FailureKind kind;
        const char* cause;  // a word of the text
    } cases[] = {
        {"empty payload", {{}}, kFailureMalformed, "empty"},
        {"STAP-B", {{0x19, 0, 0, 0, 2, 0x41, 1}}, kFailureUnsupported, "STAP-B"},
        {"type 31", {{0x1F, 1, 2}}, kFailureUnsupported, "undefined"},
        {"STAP-A size beyond the payload", {{0x18, 0, 10, 1, 2}}, kFailureMalformed, "STAP-A"},
        {"FU-A of 2 bytes", {{0x7C, 0x81}}, kFailureMalformed, "FU-A"},
        {"FU-A without its start", {{0x7C, 0x01, 3}, {0x7C, 0x41, 4}}, kFailureOutOfOrder, "start"},
        {"FU-A after a complete one", {{0x7C, 0xC1, 1}, {0x7C, 0x41, 4}}, kFailureOutOfOrder, "start"},
        {"IDR without sets and none to make", {{0x7C, 0x85, 1}}, kFailureIncomplete, "parameter sets"},
    };
    const KeyFrame k = ClipKeyFrame();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        if (c.kind == kFailureIncomplete) {
            rig.parser.SetClient(nullptr);
        } else {
            Prime(rig, k);
        }
        EXPECT_TRUE(rig.parser.LastFailure().Empty());
        for (size_t i = 0; i < c.payloads.size(); ++i) rig.FeedPayload(c.payloads[i], i + 1 == c.payloads.size());
        const FailureReason failure = rig.parser.LastFailure();
        EXPECT_EQ(failure.kind, c.kind);
        EXPECT_NE(failure.text.find(c.cause), std::string::npos) << failure.text;
    }
}

TEST(H264Depacketizer, SessionSetsGoInFrontOfAnIdrThatStartsAFrameAsFuA) {
    const KeyFrame k = ClipKeyFrame();
    const Bytes sei = {0x06, 0x05, 0x01, 0xFF, 0x80};
    struct Case {
        const char* name;
        std::vector<Bytes> payloads;
        bool insert;
    } cases[] = {
        {"FU-A start 0x85", {{0x7C, 0x85, 0x88}, {0x7C, 0x45, 0x84}}, true},
        {"FU-A start 0x85 after an SEI", {sei, {0x7C, 0x85, 0x88}, {0x7C, 0x45, 0x84}}, true},
        {"FU-A start 0x85 after a delimiter", {{0x09, 0x10}, {0x7C, 0x85, 0x88}, {0x7C, 0x45, 0x84}}, true},
        {"FU-A start and end 0xC5", {{0x7C, 0xC5, 0x88, 0x84}}, false},
        {"single NAL unit", {{0x65, 0x88, 0x84}}, false},
        {"0x85 behind a slice", {{0x41, 0x9A, 0x01}, {0x7C, 0x85, 0x88}, {0x7C, 0x45, 0x84}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        MediaConfig config;
        config.sps = k.sps;
        config.pps = k.pps;
        rig.parser.SetMediaConfig(config);
        EXPECT_EQ(rig.parser.GetWidth(), 640u);
        for (size_t i = 0; i < c.payloads.size(); ++i) rig.FeedPayload(c.payloads[i], i + 1 == c.payloads.size());
        const auto frames = rig.Frames();
        // Without sets the frame is no key frame, and the parser still waits.
        ASSERT_EQ(frames.size(), c.insert ? 1u : 0u);
        if (!c.insert) continue;
        Bytes expected = Cat({Nal(k.sps), Nal(k.pps)});
        // The camera's delimiter is left out; an SEI stays.
        if (c.payloads.size() == 3 && (c.payloads[0][0] & 0x1F) != 9) expected = Cat({expected, Nal(c.payloads[0])});
        expected = Cat({expected, Nal({0x65, 0x88, 0x84}), kAud});
        EXPECT_EQ(frames[0].data, expected);
        EXPECT_EQ(frames[0].fourcc, kFourCCH264);
    }
}

TEST(H264Depacketizer, SetsAreMadeUpForCamerasThatAnnounceNone) {
    Rig rig;
    rig.client.resolution = {1920, 1080};
    rig.FeedPayload({0x7C, 0x85, 0x88}, false);
    rig.FeedPayload({0x7C, 0x45, 0x84}, true);
    auto frames = rig.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, Cat({Nal(CH264Sps::Write(1920, 1080)), Nal(kFallbackPps), Nal({0x65, 0x88, 0x84}), kAud}));
    EXPECT_EQ(frames[0].fourcc, kFourCCH264);
    EXPECT_EQ(frames[0].width, 1920u);
    EXPECT_EQ(frames[0].height, 1080u);
    EXPECT_EQ(rig.parser.GetMediaConfig().pps, kFallbackPps);

    // Without a client to ask for the resolution nothing can be made up.
    Rig alone;
    alone.parser.SetClient(nullptr);
    alone.FeedPayload({0x7C, 0x85, 0x88}, false);
    EXPECT_TRUE(alone.parser.IsWaiting());
    EXPECT_TRUE(alone.parser.GetMediaConfig().sps.empty());
}

TEST(H264Depacketizer, StreamsWithTheirOwnSetsGetNoMadeUpOnes) {
    const KeyFrame k = ClipKeyFrame();
    Rig rig;
    rig.FeedPayload(k.stapA, false);
    rig.FeedPayload({0x65, 0x88, 0x84}, true);
    ASSERT_EQ(rig.Frames().size(), 1u);
    // The STAP-A of the next key frame is lost.
    ++rig.sequence;
    rig.FeedPayload({0x7C, 0x85, 0x88}, false);
    rig.FeedPayload({0x7C, 0x45, 0x84}, true);
    EXPECT_EQ(rig.client.resolutionQueries, 0);
    EXPECT_EQ(rig.Frames().size(), 1u);
    EXPECT_TRUE(rig.parser.IsWaiting());
}

TEST(H264Depacketizer, SessionDescriptionSets) {
    const KeyFrame k = ClipKeyFrame();
    struct Case {
        const char* name;
        Bytes sps, pps;
        bool synthesized;
    } cases[] = {
        {"parsable", k.sps, k.pps, false},
        {"unparsable", {0x67, 0x42}, k.pps, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.client.resolution = {1280, 720};
        MediaConfig config;
        config.sps = c.sps;
        config.pps = c.pps;
        config.config = {1, 2, 3};
        rig.parser.SetMediaConfig(config);
        EXPECT_EQ(rig.parser.GetMediaConfig().sps, c.synthesized ? CH264Sps::Write(1280, 720) : c.sps);
        EXPECT_EQ(rig.parser.GetMediaConfig().pps, c.synthesized ? kFallbackPps : c.pps);
        EXPECT_TRUE(rig.parser.GetMediaConfig().config.empty());
        EXPECT_EQ(rig.parser.GetWidth(), c.synthesized ? 1280u : 640u);
        EXPECT_EQ(rig.parser.GetHeight(), c.synthesized ? 720u : 480u);
    }
    Rig rig;
    MediaConfig none;
    none.pps = k.pps;
    rig.parser.SetMediaConfig(none);
    EXPECT_TRUE(rig.parser.GetMediaConfig().pps.empty());
    EXPECT_EQ(rig.client.resolutionQueries, 0);
}

TEST(H264Depacketizer, RefusedAndThrowingFramesResetTheParser) {
    const KeyFrame k = ClipKeyFrame();
    Rig rig;
    Prime(rig, k);
    rig.client.sink.accept = false;
    rig.FeedPayload({0x41, 0x9A, 0x01}, true);
    EXPECT_TRUE(rig.parser.IsWaiting());

    rig.client.sink.accept = true;
    Prime(rig, k);
    rig.client.sink.throwOnSample = true;
    rig.FeedPayload({0x41, 0x9A, 0x01}, true);  // the exception stays inside
    EXPECT_TRUE(rig.parser.IsWaiting());
    EXPECT_EQ(rig.allocator.allocations.load(), rig.allocator.releases.load());
}

// The clip as RTP packets, through the sequence number wrap; the clip may be
// sent more than once in a row.
fakes::ClipPackets Packetize(const rtpkit::Clip& clip, const rtpkit::H264PacketizerOptions& options, int times = 1) {
    return fakes::PacketizeClip(
        clip.frames, [&](const rtpkit::Frame& f) { return rtpkit::PacketizeH264(f, options); }, 65500, times);
}

// What the depacketizer must hand over for a frame of the clip.
Bytes ExpectedFrame(const rtpkit::Frame& f, const rtpkit::H264PacketizerOptions& options, const Bytes& insertedSps,
                    const Bytes& insertedPps) {
    Bytes out;
    if (f.key && options.dropParameterSets) out = Cat({Nal(insertedSps), Nal(insertedPps)});
    for (const Bytes& nal : f.nals) {
        const uint8_t type = nal[0] & 0x1F;
        if (options.dropParameterSets && (type == 7 || type == 8)) continue;
        out = Cat({out, options.annexBPayloads ? Bytes{0} : Bytes{}, Nal(nal)});
    }
    return Cat({out, kAud});
}

TEST(H264Depacketizer, ClipsRoundTripThroughADecoder) {
    enum class Sets { InBand, SessionDescription, MadeUp };
    struct Case {
        const char* file;
        uint32_t width, height;
        Sets sets;
        bool aggregate;
        bool annexB;
    } cases[] = {
        {"h264_baseline_640x480.h264", 640, 480, Sets::InBand, true, false},
        {"h264_baseline_640x480.h264", 640, 480, Sets::InBand, false, false},
        {"h264_baseline_640x480.h264", 640, 480, Sets::InBand, false, true},
        {"h264_baseline_640x480.h264", 640, 480, Sets::SessionDescription, true, false},
        {"h264_baseline_640x480.h264", 640, 480, Sets::MadeUp, true, false},
        {"h264_baseline_1280x720.h264", 1280, 720, Sets::InBand, true, false},
        {"h264_baseline_1920x1080.h264", 1920, 1080, Sets::MadeUp, true, false},
        {"h264_high_1920x1080.h264", 1920, 1080, Sets::InBand, true, false},
        {"h264_high_1920x1080.h264", 1920, 1080, Sets::SessionDescription, true, false},
        {"h264_interlaced_720x576.h264", 720, 576, Sets::InBand, true, false},
        {"h264_interlaced_1920x1080.h264", 1920, 1080, Sets::InBand, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " sets " + std::to_string(static_cast<int>(c.sets)) +
                     (c.aggregate ? " STAP-A" : "") + (c.annexB ? " byte stream" : ""));
        rtpkit::Clip clip;
        ASSERT_TRUE(rtpkit::LoadClip(ClipPath(c.file), clip));
        rtpkit::H264PacketizerOptions options;
        options.aggregateParameterSets = c.aggregate;
        options.annexBPayloads = c.annexB;
        options.dropParameterSets = c.sets != Sets::InBand;

        Rig rig;
        rig.client.resolution = {c.width, c.height};
        if (c.sets == Sets::SessionDescription) {
            MediaConfig config;
            config.sps = clip.sps;
            config.pps = clip.pps;
            rig.parser.SetMediaConfig(config);
        }
        rig.Feed(Packetize(clip, options).packets);

        const auto frames = rig.Frames();
        ASSERT_EQ(frames.size(), clip.frames.size());
        const Bytes sps = c.sets == Sets::MadeUp ? CH264Sps::Write(c.width, c.height) : clip.sps;
        const Bytes pps = c.sets == Sets::MadeUp ? kFallbackPps : clip.pps;
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_EQ(frames[i].data, ExpectedFrame(clip.frames[i], options, sps, pps)) << "frame " << i;
            EXPECT_EQ(frames[i].fourcc, clip.frames[i].key ? kFourCCH264 : kFourCCI264) << "frame " << i;
        }
        EXPECT_EQ(fakes::CheckFramesDecode(frames, fakes::VideoDecoder::Codec::H264), "");
        EXPECT_EQ(rig.allocator.allocations.load(), rig.allocator.releases.load());
        EXPECT_TRUE(rig.parser.LastFailure().Empty()) << rig.parser.LastFailure().text;
    }
}

TEST(H264Depacketizer, LostPacketsDropFramesUntilTheNextKeyFrame) {
    enum class Where { First, Middle, Last, ParameterSets };
    struct Case {
        const char* file;
        int times;
        bool sessionSets;
        size_t frame;
        Where where;
    } cases[] = {
        {"h264_baseline_640x480.h264", 1, false, 5, Where::First},
        {"h264_baseline_640x480.h264", 1, false, 9, Where::Last},
        {"h264_baseline_640x480.h264", 1, false, 0, Where::Middle},
        {"h264_baseline_640x480.h264", 1, false, 10, Where::First},
        {"h264_baseline_640x480.h264", 1, false, 10, Where::ParameterSets},
        {"h264_baseline_640x480.h264", 1, true, 3, Where::First},
        {"h264_baseline_640x480.h264", 1, true, 10, Where::Middle},
        {"h264_high_1920x1080.h264", 2, false, 10, Where::ParameterSets},
        {"h264_high_1920x1080.h264", 2, false, 4, Where::Last},
        {"h264_high_1920x1080.h264", 2, false, 3, Where::Middle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " frame " + std::to_string(c.frame) + " place " +
                     std::to_string(static_cast<int>(c.where)));
        rtpkit::Clip clip;
        ASSERT_TRUE(rtpkit::LoadClip(ClipPath(c.file), clip));
        rtpkit::H264PacketizerOptions options;
        options.dropParameterSets = c.sessionSets;
        const fakes::ClipPackets s = Packetize(clip, options, c.times);
        const size_t frameCount = s.firstPacket.size();
        const size_t begin = s.firstPacket[c.frame];
        const size_t end = c.frame + 1 < frameCount ? s.firstPacket[c.frame + 1] : s.packets.size();
        ASSERT_GE(end - begin, c.where == Where::Middle ? 3u : 2u);
        size_t lost = c.where == Where::First ? begin : c.where == Where::Middle ? (begin + end) / 2 : end - 1;
        if (c.where == Where::ParameterSets) {
            ASSERT_TRUE(s.key[c.frame]);
            ASSERT_EQ(s.packets[begin][12] & 0x1F, 24);
            lost = begin;
        }

        Rig rig;
        if (c.sessionSets) {
            MediaConfig config;
            config.sps = clip.sps;
            config.pps = clip.pps;
            rig.parser.SetMediaConfig(config);
        }
        for (size_t i = 0; i < s.packets.size(); ++i) {
            if (i != lost) rig.Feed(s.packets[i]);
        }

        // Frames before the damaged one, then from the next key frame on;
        // with the session's sets an IDR that lost only its in-band sets
        // still comes through.
        size_t resume = c.frame + 1;
        while (resume < frameCount && !s.key[resume]) ++resume;
        const auto frames = rig.Frames();
        ASSERT_EQ(frames.size(), c.frame + (frameCount - resume));
        for (size_t i = 0; i < frames.size(); ++i) {
            const size_t source = (i < c.frame ? i : resume + (i - c.frame)) % clip.frames.size();
            ASSERT_EQ(frames[i].data, ExpectedFrame(clip.frames[source], options, clip.sps, clip.pps)) << i;
        }
        EXPECT_EQ(fakes::CheckFramesDecode(frames, fakes::VideoDecoder::Codec::H264), "");
        // Loss is not the sender's fault: it leaves no reason.
        EXPECT_TRUE(rig.parser.LastFailure().Empty()) << rig.parser.LastFailure().text;
    }
}

TEST(H264Depacketizer, OversizedFrameResetsWithTheOverflowMessage) {
    const KeyFrame k = ClipKeyFrame();
    Rig rig;
    Prime(rig, k);
    Bytes fragment(60000, 0x11);
    fragment[0] = 0x7C;
    fragment[1] = 0x01;
    for (size_t n = 0; n * fragment.size() <= CRTPMediaParser::kMaxFrameSize; ++n) rig.FeedPayload(fragment, false);
    EXPECT_TRUE(rig.parser.IsWaiting());
    EXPECT_EQ(rig.driver.CountMessages("Frame buffer overflow detected"), 1u);
}

}  // namespace
