#include "media/jpeg_media_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "media/jpeg_tables.h"
#include "rtpkit/clip.h"
#include "rtpkit/jpeg_packetizer.h"
#include "support/clip_packets.h"
#include "support/depacketizer_rig.h"

namespace {

using namespace telvaro;
using Bytes = std::vector<uint8_t>;
using Rig = fakes::DepacketizerRig<CJpegRTPMediaParser>;

std::string ClipPath(const std::string& name) { return std::string(OMBRELIX_TESTDATA_DIR) + "/" + name; }

struct Segment {
    uint8_t marker;
    Bytes body;
};

// The marker segments from SOI up to and including SOS, and where the
// entropy-coded data begins.
std::vector<Segment> Segments(const Bytes& jpeg, size_t* dataStart = nullptr) {
    std::vector<Segment> out;
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return out;
    out.push_back({0xD8, {}});
    size_t p = 2;
    while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF) {
        const size_t length = static_cast<size_t>(jpeg[p + 2]) << 8 | jpeg[p + 3];
        if (length < 2 || p + 2 + length > jpeg.size()) break;
        out.push_back({jpeg[p + 1], Bytes(jpeg.begin() + p + 4, jpeg.begin() + p + 2 + length)});
        p += 2 + length;
        if (out.back().marker == 0xDA) break;
    }
    if (dataStart) *dataStart = p;
    return out;
}

std::vector<uint8_t> Markers(const std::vector<Segment>& segments) {
    std::vector<uint8_t> m;
    for (const auto& s : segments) m.push_back(s.marker);
    return m;
}

// Huffman table definitions by class and id, however they are grouped.
std::map<uint8_t, Bytes> HuffmanTables(const Bytes& jpeg) {
    std::map<uint8_t, Bytes> tables;
    for (const Segment& s : Segments(jpeg)) {
        if (s.marker != 0xC4) continue;
        for (size_t p = 0; p + 17 <= s.body.size();) {
            size_t count = 0;
            for (int i = 1; i <= 16; ++i) count += s.body[p + i];
            tables[s.body[p]] = Bytes(s.body.begin() + p + 1, s.body.begin() + p + 17 + count);
            p += 17 + count;
        }
    }
    return tables;
}

Bytes MainHeader(uint32_t offset, uint8_t type, uint8_t q, uint8_t width8, uint8_t height8) {
    return {0, static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
            type, q, width8, height8};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Scan(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

TEST(JpegTables, QuantizationFromQMatchesAnIndependentComputation) {
    for (int q : {1, 25, 49, 50, 75, 99, 100, 255}) {
        uint8_t tables[128];
        CJpegTables::MakeQuantizationTables(q, tables);
        EXPECT_EQ(Bytes(tables, tables + 128), rtpkit::TablesForQ(q)) << q;
    }
}

TEST(JpegTables, TypicalHuffmanTablesAreThoseOfTheClips) {
    rtpkit::Clip clip;
    ASSERT_TRUE(rtpkit::LoadClip(ClipPath("jpeg420_640x480.mjpeg"), clip));
    const auto fromFile = HuffmanTables(clip.frames[0].data);
    ASSERT_EQ(fromFile.size(), 4u);
    const std::pair<uint8_t, const CJpegTables::HuffmanTable*> ours[] = {{0x00, &CJpegTables::kDcLuminance},
                                                                         {0x10, &CJpegTables::kAcLuminance},
                                                                         {0x01, &CJpegTables::kDcChrominance},
                                                                         {0x11, &CJpegTables::kAcChrominance}};
    for (const auto& t : ours) {
        Bytes table(t.second->bits, t.second->bits + 16);
        table.insert(table.end(), t.second->values, t.second->values + t.second->valueCount);
        EXPECT_EQ(table, fromFile.at(t.first)) << int(t.first);
    }
}

TEST(JpegDepacketizer, FrameRebuiltFromQ) {
    const Bytes scan = Scan(1500, 3);
    for (uint8_t type : {1, 0}) {
        SCOPED_TRACE(int(type));
        Rig rig;
        rig.FeedPayload(Cat({MainHeader(0, type, 50, 80, 60), Bytes(scan.begin(), scan.begin() + 600)}), false);
        rig.FeedPayload(Cat({MainHeader(600, type, 50, 80, 60), Bytes(scan.begin() + 600, scan.begin() + 1200)}), false);
        rig.FeedPayload(Cat({MainHeader(1200, type, 50, 80, 60), Bytes(scan.begin() + 1200, scan.end())}), true);
        const auto frames = rig.Frames();
        ASSERT_EQ(frames.size(), 1u);
        const Bytes& jpeg = frames[0].data;
        EXPECT_EQ(frames[0].fourcc, kFourCCJPEG);
        EXPECT_EQ(rig.allocator.LastCapacity(), 8 + 1500 + 1024u);
        EXPECT_EQ(frames[0].width, 640u);
        EXPECT_EQ(frames[0].height, 480u);
        ASSERT_EQ(jpeg.size(), 605 + scan.size() + 2);
        EXPECT_EQ(Bytes(jpeg.begin(), jpeg.begin() + 4), Bytes({0xFF, 0xD8, 0xFF, 0xDB}));
        EXPECT_EQ(Bytes(jpeg.begin() + 605, jpeg.end()), Cat({scan, {0xFF, 0xD9}}));
        size_t dataStart = 0;
        const auto segments = Segments(jpeg, &dataStart);
        EXPECT_EQ(dataStart, 605u);
        EXPECT_EQ(Markers(segments), Bytes({0xD8, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA}));
        const Bytes& sof = segments[3].body;
        EXPECT_EQ(sof, Bytes({8, 0x01, 0xE0, 0x02, 0x80, 3, 0, type == 0 ? uint8_t(0x21) : uint8_t(0x22), 0, 1, 0x11, 1,
                              2, 0x11, 1}));
        EXPECT_EQ(segments[8].body, Bytes({3, 0, 0x00, 1, 0x11, 2, 0x11, 0, 63, 0}));
        uint8_t tables[128];
        CJpegTables::MakeQuantizationTables(50, tables);
        EXPECT_EQ(segments[1].body, Cat({{0}, Bytes(tables, tables + 64)}));
        EXPECT_EQ(segments[2].body, Cat({{1}, Bytes(tables + 64, tables + 128)}));
    }
}

TEST(JpegDepacketizer, FrameRebuiltWithTablesFromThePacket) {
    const Bytes scan = Scan(700, 9);
    const Bytes inBand = Scan(128, 40);
    const Bytes earlier = Scan(128, 90);
    struct Case {
        const char* name;
        uint8_t type;
        uint8_t q;
        Bytes afterMain;  // restart and quantization headers
        Bytes expectedMarkers;
        Bytes lumaTable, chromaTable;
        uint8_t sampling;
    } cases[] = {
        {"type 65, restart 10, two tables", 65, 255, Cat({{0, 10, 0xFF, 0xFF}, {0, 0, 0, 128}, inBand}),
         {0xD8, 0xE0, 0xDD, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         Bytes(inBand.begin(), inBand.begin() + 64), Bytes(inBand.begin() + 64, inBand.end()), 0x22},
        {"type 0, table length 0: those sent before for Q 200", 0, 200, {0, 0, 0, 0},
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         Bytes(earlier.begin(), earlier.begin() + 64), Bytes(earlier.begin() + 64, earlier.end()), 0x21},
        {"type 1, one shared table", 1, 255, Cat({{0, 0, 0, 64}, Bytes(inBand.begin(), inBand.begin() + 64)}),
         {0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         Bytes(inBand.begin(), inBand.begin() + 64), {}, 0x22},
        {"type 64, restart 0, table length 0", 64, 200, {0, 0, 0xFF, 0xFF, 0, 0, 0, 0},
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         Bytes(earlier.begin(), earlier.begin() + 64), Bytes(earlier.begin() + 64, earlier.end()), 0x21},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        // An earlier frame of Q 200 sent its tables.
        rig.FeedPayload(Cat({MainHeader(0, 1, 200, 160, 90), {0, 0, 0, 128}, earlier, scan}), true);
        rig.client.sink.Clear();
        rig.FeedPayload(Cat({MainHeader(0, c.type, c.q, 160, 90), c.afterMain, Bytes(scan.begin(), scan.begin() + 300)}),
                        false);
        Bytes second = MainHeader(300, c.type, c.q, 160, 90);
        if (c.type >= 64) second = Cat({second, {0, 10, 0xFF, 0xFF}});
        rig.FeedPayload(Cat({second, Bytes(scan.begin() + 300, scan.end())}), true);
        const auto frames = rig.Frames();
        ASSERT_EQ(frames.size(), 1u);
        size_t dataStart = 0;
        const auto segments = Segments(frames[0].data, &dataStart);
        EXPECT_EQ(Markers(segments), c.expectedMarkers);
        EXPECT_EQ(Bytes(frames[0].data.begin() + dataStart, frames[0].data.end()), Cat({scan, {0xFF, 0xD9}}));
        EXPECT_EQ(segments[1].body, Bytes({'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
        size_t i = 2;
        if (c.expectedMarkers[2] == 0xDD) {
            EXPECT_EQ(segments[i++].body, Bytes({0, 10}));
        }
        EXPECT_EQ(segments[i++].body, Cat({{0}, c.lumaTable}));
        const bool two = !c.chromaTable.empty();
        if (two) {
            EXPECT_EQ(segments[i++].body, Cat({{1}, c.chromaTable}));
        }
        const uint8_t chroma = two ? 1 : 0;
        EXPECT_EQ(segments[i].body, Bytes({8, 0x02, 0xD0, 0x05, 0x00, 3, 1, c.sampling, 0, 2, 0x11, chroma, 3, 0x11,
                                           chroma}));
        EXPECT_EQ(segments.back().body, Bytes({3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
        EXPECT_EQ(frames[0].width, 1280u);
        EXPECT_EQ(frames[0].height, 720u);
    }
}

TEST(JpegDepacketizer, RestartMarkersWithTablesFromQGetARestartIntervalSegment) {
    const Bytes scan = Scan(900, 1);
    Rig rig;
    rig.FeedPayload(Cat({MainHeader(0, 64, 60, 80, 60), {0, 4, 0xFF, 0xFF}, Bytes(scan.begin(), scan.begin() + 500)}),
                    false);
    rig.FeedPayload(Cat({MainHeader(500, 64, 60, 80, 60), {0, 4, 0xFF, 0xFF}, Bytes(scan.begin() + 500, scan.end())}),
                    true);
    const auto frames = rig.Frames();
    ASSERT_EQ(frames.size(), 1u);
    size_t dataStart = 0;
    const auto segments = Segments(frames[0].data, &dataStart);
    EXPECT_EQ(Markers(segments), Bytes({0xD8, 0xDD, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA}));
    EXPECT_EQ(segments[1].body, Bytes({0, 4}));
    EXPECT_EQ(segments[4].body[7], 0x21);  // type 64 is 4:2:2
    EXPECT_EQ(dataStart, 611u);
    EXPECT_EQ(Bytes(frames[0].data.begin() + dataStart, frames[0].data.end()), Cat({scan, {0xFF, 0xD9}}));
}

TEST(JpegDepacketizer, FramesThatCannotBeRebuiltAreDroppedAndReset) {
    struct Case {
        const char* name;
        Bytes payload;
    } cases[] = {
        {"600 bytes with Q below 128", Cat({MainHeader(0, 1, 50, 80, 60), Scan(592, 0)})},
        {"no data behind the main header", MainHeader(0, 1, 50, 80, 60)},
        {"restart header cut short", Cat({MainHeader(0, 65, 255, 80, 60), {0, 1}})},
        {"quantization header cut short", Cat({MainHeader(0, 1, 255, 80, 60), {0, 0}})},
        {"tables longer than the packet", Cat({MainHeader(0, 1, 255, 80, 60), {0, 0, 0, 128}, Scan(100, 0)})},
        {"tables of 100 bytes", Cat({MainHeader(0, 1, 255, 80, 60), {0, 0, 0, 100}, Scan(300, 0)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.FeedPayload(c.payload, true);
        EXPECT_TRUE(rig.Frames().empty());
        EXPECT_TRUE(rig.parser.IsWaiting());
        EXPECT_EQ(rig.allocator.allocations.load(), rig.allocator.releases.load());
    }
}

// What hostile senders made of RTP/JPEG: fragments that leave a gap or
// overlap, and frames whose quantization tables were never sent. None of
// them reaches the host; the next sound frame does.
TEST(JpegDepacketizer, FramesWithHolesOrUnknownTablesAreDropped) {
    const Bytes first = Cat({MainHeader(0, 1, 50, 80, 60), Scan(700, 0)});
    auto next = [](uint32_t offset, uint8_t q) { return Cat({MainHeader(offset, 1, q, 80, 60), Scan(100, 1)}); };
    const Bytes inBand = Scan(128, 40);
    struct Case {
        const char* name;
        std::vector<Bytes> packets;  // the last one carries the marker
    } cases[] = {
        {"a fragment at 0xFFFF00 after the first", {first, next(0xFFFF00, 50)}},
        {"a gap", {first, next(701, 50)}},
        {"an overlap", {first, next(699, 50)}},
        {"a fragment repeated", {first, next(700, 50), next(700, 50)}},
        {"Q 255 without tables", {Cat({MainHeader(0, 1, 255, 255, 255), {0, 0, 0, 0}, Scan(700, 0)})}},
        {"Q 200 without tables, only Q 201 sent them",
         {Cat({MainHeader(0, 1, 201, 80, 60), {0, 0, 0, 128}, inBand, Scan(700, 0)}), next(700, 201),
          Cat({MainHeader(0, 1, 200, 80, 60), {0, 0, 0, 0}, Scan(700, 0)})}},
        {"a quantization header with MBZ set", {Cat({MainHeader(0, 1, 255, 80, 60), {1, 0, 0, 128}, inBand, Scan(700, 0)})}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        for (size_t i = 0; i < c.packets.size(); ++i) rig.FeedPayload(c.packets[i], i + 1 == c.packets.size());
        EXPECT_TRUE(rig.Frames().empty());
        EXPECT_TRUE(rig.parser.IsWaiting());
        rig.FeedPayload(first, false);
        rig.FeedPayload(next(700, 50), true);
        ASSERT_EQ(rig.Frames().size(), 1u);
        EXPECT_EQ(rig.Frames().back().data.size(), 605 + 700 + 100 + 2u);
        EXPECT_EQ(rig.allocator.allocations.load(), rig.allocator.releases.load());
    }
}

TEST(JpegDepacketizer, RefusedFramesLeaveTheirReason) {
    const Bytes first = Cat({MainHeader(0, 1, 50, 80, 60), Scan(700, 0)});
    struct Case {
        const char* name;
        std::vector<Bytes> packets;
        FailureKind kind;
        const char* cause;  // a word of the text
    } cases[] = {
        {"3 bytes", {{0, 0, 0}}, kFailureMalformed, "shorter than 4"},
        {"restart header cut short", {Cat({MainHeader(0, 65, 255, 80, 60), {0, 1}})}, kFailureMalformed, "restart"},
        {"MBZ set", {Cat({MainHeader(0, 1, 255, 80, 60), {1, 0, 0, 128}, Scan(828, 0)})}, kFailureUnsupported, "MBZ"},
        {"tables of 100 bytes", {Cat({MainHeader(0, 1, 255, 80, 60), {0, 0, 0, 100}, Scan(300, 0)})},
         kFailureUnsupported, "64 or 128"},
        {"Q 200 whose tables never came", {Cat({MainHeader(0, 1, 200, 80, 60), {0, 0, 0, 0}, Scan(700, 0)})},
         kFailureIncomplete, "never came"},
        {"600 bytes from Q", {Cat({MainHeader(0, 1, 50, 80, 60), Scan(592, 0)})}, kFailureMalformed, "605"},
        {"an overlap", {first, Cat({MainHeader(699, 1, 50, 80, 60), Scan(100, 1)})}, kFailureOutOfOrder, "follow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        for (size_t i = 0; i < c.packets.size(); ++i) rig.FeedPayload(c.packets[i], i + 1 == c.packets.size());
        const FailureReason failure = rig.parser.LastFailure();
        EXPECT_EQ(failure.kind, c.kind);
        EXPECT_NE(failure.text.find(c.cause), std::string::npos) << failure.text;
    }
}

// A frame whose marker never comes grows only to the frame buffer's bound.
TEST(JpegDepacketizer, AFrameWithoutEndStopsAtTheBound) {
    Rig rig;
    const Bytes data = Scan(60000, 5);
    rig.FeedPayload(Cat({MainHeader(0, 1, 50, 80, 60), data}), false);
    uint32_t offset = static_cast<uint32_t>(data.size());
    while (!rig.parser.IsWaiting() && offset <= CRTPMediaParser::kMaxFrameSize) {
        rig.FeedPayload(Cat({MainHeader(offset, 1, 50, 80, 60), data}), false);
        offset += static_cast<uint32_t>(data.size());
    }
    EXPECT_TRUE(rig.parser.IsWaiting());
    EXPECT_GT(offset, CRTPMediaParser::kMaxFrameSize - data.size());
    EXPECT_EQ(rig.driver.CountMessages("Frame buffer overflow detected"), 1u);
}

TEST(JpegDepacketizer, SizeByteZeroStandsFor2048) {
    for (uint8_t q : {50, 255}) {
        SCOPED_TRACE(int(q));
        Rig rig;
        Bytes payload = MainHeader(0, 1, q, 0, 0);
        if (q >= 128) payload = Cat({payload, {0, 0, 0, 128}, Scan(128, 40)});
        rig.FeedPayload(Cat({payload, Scan(700, 0)}), true);
        const auto frames = rig.Frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].width, 2048u);
        EXPECT_EQ(frames[0].height, 2048u);
        const auto segments = Segments(frames[0].data);
        for (const auto& s : segments) {
            if (s.marker == 0xC0) {
                EXPECT_EQ(Bytes(s.body.begin() + 1, s.body.begin() + 5), Bytes({8, 0, 8, 0}));
            }
        }
    }
}

// Every rebuilt file ends with one end-of-image marker, whether or not the
// sender put it at the end of the scan.
TEST(JpegDepacketizer, EveryFrameEndsWithOneEndOfImageMarker) {
    for (const Bytes& end : {Bytes{}, Bytes{0xFF}, Bytes{0xD9}, Bytes{0xFF, 0xD9}}) {
        Rig rig;
        const Bytes scan = Cat({Scan(700, 1), end});
        rig.FeedPayload(Cat({MainHeader(0, 1, 50, 80, 60), scan}), true);
        const auto frames = rig.Frames();
        ASSERT_EQ(frames.size(), 1u);
        const Bytes& jpeg = frames[0].data;
        const bool hadIt = end.size() == 2;
        EXPECT_EQ(Bytes(jpeg.begin() + 605, jpeg.end()), hadIt ? scan : Cat({scan, {0xFF, 0xD9}})) << end.size();
    }
}

TEST(JpegDepacketizer, ContinuationsWithoutTheirFirstPacketAreRefused) {
    Rig rig;
    const Bytes first = Cat({MainHeader(0, 1, 50, 80, 60), Scan(700, 0)});
    const Bytes next = Cat({MainHeader(700, 1, 50, 80, 60), Scan(10, 0)});
    rig.FeedPayload({0, 0, 0}, false);  // too short: dropped, nothing reset
    rig.FeedPayload(next, true);         // its first packet was lost
    EXPECT_TRUE(rig.parser.IsWaiting());
    rig.FeedPayload(first, false);
    rig.FeedPayload({0, 0, 0}, false);
    EXPECT_FALSE(rig.parser.IsWaiting());
    ++rig.sequence;  // a packet lost inside the frame
    rig.FeedPayload(next, true);
    EXPECT_TRUE(rig.Frames().empty());
    // A first packet always starts over, even without a marker before it.
    rig.FeedPayload(first, false);
    rig.FeedPayload(first, false);
    rig.FeedPayload(next, true);
    const auto frames = rig.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data.size(), 605 + 700 + 10 + 2u);
}

// Frames are stored a few bytes off (so that the scan data lines up with
// its place behind the rebuilt header); a frame made of continuation
// packets only, after such a frame, must not reuse that offset.
TEST(JpegDepacketizer, AFrameOfContinuationsAloneAfterAStoredFrameIsSafe) {
    const Bytes inBand = Scan(128, 40);
    for (uint8_t q : {50, 255}) {
        SCOPED_TRACE(static_cast<int>(q));
        Rig rig;
        Bytes first = Cat({MainHeader(0, 1, q, 80, 60), q >= 128 ? Cat({{0, 0, 0, 128}, inBand}) : Bytes(), Scan(700, 0)});
        rig.FeedPayload(first, true);
        ASSERT_EQ(rig.Frames().size(), 1u);
        // Continuations only, some shorter than any header or padding.
        for (size_t length : {1u, 2u, 3u, 12u, 700u}) {
            rig.FeedPayload(Cat({MainHeader(700, 1, q, 80, 60), Scan(length, 1)}), true);
        }
        rig.FeedPayload(first, true);
        const auto frames = rig.Frames();
        ASSERT_GE(frames.size(), 2u);
        EXPECT_EQ(frames.back().data, frames.front().data);
        EXPECT_EQ(rig.allocator.allocations.load(), rig.allocator.releases.load());
    }
}

fakes::ClipPackets Packetize(const rtpkit::Clip& clip, int q) {
    rtpkit::JpegPacketizerOptions options;
    options.q = q;
    return fakes::PacketizeClip(
        clip.frames,
        [&](const rtpkit::Frame& f) {
            std::vector<Bytes> payloads;
            std::string error;
            EXPECT_TRUE(rtpkit::PacketizeJpeg(f, options, payloads, &error)) << error;
            return payloads;
        },
        65530);
}

TEST(JpegDepacketizer, ClipsRoundTripThroughADecoder) {
    struct Case {
        const char* file;
        int q;
        uint32_t width, height;
    } cases[] = {
        {"jpeg420_640x480.mjpeg", 50, 640, 480},        {"jpeg422_640x480.mjpeg", 50, 640, 480},
        {"jpeg420_restart_640x480.mjpeg", 75, 640, 480}, {"jpeg420_1280x720.mjpeg", 50, 1280, 720},
        {"jpeg420_640x480.mjpeg", 255, 640, 480},       {"jpeg422_640x480.mjpeg", 255, 640, 480},
        {"jpeg420_restart_640x480.mjpeg", 255, 640, 480},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " Q " + std::to_string(c.q));
        rtpkit::Clip clip;
        ASSERT_TRUE(rtpkit::LoadClip(ClipPath(c.file), clip));
        Rig rig;
        rig.Feed(Packetize(clip, c.q).packets);
        const auto frames = rig.Frames();
        ASSERT_EQ(frames.size(), clip.frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            // What the decoder needs is what the camera's file held.
            rtpkit::JpegInfo original, rebuilt;
            std::string error;
            ASSERT_TRUE(rtpkit::ParseJpeg(clip.frames[i].data, original, &error)) << error;
            ASSERT_TRUE(rtpkit::ParseJpeg(frames[i].data, rebuilt, &error)) << i << ": " << error;
            EXPECT_EQ(rebuilt.width, original.width);
            EXPECT_EQ(rebuilt.height, original.height);
            EXPECT_EQ(rebuilt.type, original.type);
            EXPECT_EQ(rebuilt.restartInterval, original.restartInterval);
            EXPECT_EQ(rebuilt.tables, original.tables);
            size_t dataStart = 0;
            Segments(frames[i].data, &dataStart);
            EXPECT_EQ(Bytes(frames[i].data.begin() + dataStart, frames[i].data.end()),
                      Cat({original.scan, {0xFF, 0xD9}}));
            EXPECT_EQ(HuffmanTables(frames[i].data), HuffmanTables(clip.frames[i].data));
            EXPECT_EQ(frames[i].fourcc, kFourCCJPEG);
            EXPECT_EQ(frames[i].width, c.width);
            EXPECT_EQ(frames[i].height, c.height);
        }
        EXPECT_EQ(fakes::CheckFramesDecode(frames, fakes::VideoDecoder::Codec::Jpeg), "");
        EXPECT_TRUE(rig.parser.LastFailure().Empty()) << rig.parser.LastFailure().text;
    }
}

TEST(JpegDepacketizer, LostPacketsCostOnlyTheirFrame) {
    rtpkit::Clip clip;
    ASSERT_TRUE(rtpkit::LoadClip(ClipPath("jpeg420_restart_640x480.mjpeg"), clip));
    for (int q : {75, 255}) {
        const fakes::ClipPackets s = Packetize(clip, q);
        const size_t frame = 4;
        const size_t begin = s.firstPacket[frame];
        const size_t end = s.firstPacket[frame + 1];
        ASSERT_GE(end - begin, 3u);
        for (size_t lost : {begin, (begin + end) / 2, end - 1}) {
            SCOPED_TRACE("Q " + std::to_string(q) + " packet " + std::to_string(lost - begin));
            Rig rig;
            for (size_t i = 0; i < s.packets.size(); ++i) {
                if (i != lost) rig.Feed(s.packets[i]);
            }
            const auto frames = rig.Frames();
            ASSERT_EQ(frames.size(), clip.frames.size() - 1);
            EXPECT_EQ(fakes::CheckFramesDecode(frames, fakes::VideoDecoder::Codec::Jpeg), "");
            // Loss is not the sender's fault: it leaves no reason.
            EXPECT_TRUE(rig.parser.LastFailure().Empty()) << rig.parser.LastFailure().text;
        }
    }
}

}  // namespace
