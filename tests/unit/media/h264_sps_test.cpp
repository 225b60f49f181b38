#include "media/h264_sps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/bit_reader.h"
#include "media/bit_writer.h"
#include "rtpkit/clip.h"

namespace {

using namespace telvaro;
using Bytes = std::vector<uint8_t>;

std::string ClipPath(const char* name) { return std::string(OMBRELIX_TESTDATA_DIR) + "/" + name; }

Bytes WithStartCode(const Bytes& nal) {
    Bytes out = {0, 0, 1};
    out.insert(out.end(), nal.begin(), nal.end());
    return out;
}

bool SizeOf(const Bytes& buffer, uint32_t& w, uint32_t& h) {
    return CH264Sps::FindPictureSize(buffer.data(), buffer.size(), w, h);
}

bool HasEmulationPrevention(const Bytes& b) {
    for (size_t i = 0; i + 2 < b.size(); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 3) return true;
    }
    return false;
}

// The fields of a sequence parameter set up to the picture size, written
// with the writer under test so that sets the clips do not hold can be made.
struct SpsFields {
    uint32_t profile = 66;
    uint32_t constraints = 0xC0;
    uint32_t level = 30;
    uint32_t chromaFormat = 1;
    bool scalingLists = false;
    uint32_t pocType = 2;
    int32_t offsetForNonRefPic = 0;
    uint32_t widthMbsMinus1 = 39;
    uint32_t heightMapUnitsMinus1 = 29;
    bool frameMbsOnly = true;
    bool crop = false;
    uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
};

Bytes WriteSps(const SpsFields& f) {
    CBitWriter w;
    w.WriteBits(0x67, 8);
    w.WriteBits(f.profile, 8);
    w.WriteBits(f.constraints, 8);
    w.WriteBits(f.level, 8);
    w.WriteUE(0);
    if (f.profile > 99) {
        w.WriteUE(f.chromaFormat);
        if (f.chromaFormat == 3) w.WriteBit(false);
        w.WriteUE(0);
        w.WriteUE(0);
        w.WriteBit(false);
        w.WriteBit(f.scalingLists);
        if (f.scalingLists) {
            for (int i = 0; i < 8; ++i) {
                const bool present = i == 0 || i == 3 || i == 6;
                w.WriteBit(present);
                if (!present) continue;
                if (i == 3) {
                    w.WriteSE(-8);  // next scale 0 at once: the default list, one entry read
                    continue;
                }
                const int size = i < 6 ? 16 : 64;
                int last = 8;
                for (int j = 0; j < size; ++j) {
                    const int next = 8 + (j * 7) % 90;
                    int delta = next - last;
                    if (delta > 127) delta -= 256;
                    if (delta < -128) delta += 256;
                    w.WriteSE(delta);
                    last = next;
                }
            }
        }
    }
    w.WriteUE(0);
    w.WriteUE(f.pocType);
    if (f.pocType == 0) w.WriteUE(2);
    if (f.pocType == 1) {
        w.WriteBit(false);
        w.WriteSE(f.offsetForNonRefPic);
        w.WriteSE(-3);
        w.WriteUE(2);
        w.WriteSE(5);
        w.WriteSE(-7);
    }
    w.WriteUE(1);
    w.WriteBit(false);
    w.WriteUE(f.widthMbsMinus1);
    w.WriteUE(f.heightMapUnitsMinus1);
    w.WriteBit(f.frameMbsOnly);
    if (!f.frameMbsOnly) w.WriteBit(true);
    w.WriteBit(true);
    w.WriteBit(f.crop);
    if (f.crop) {
        w.WriteUE(f.cropLeft);
        w.WriteUE(f.cropRight);
        w.WriteUE(f.cropTop);
        w.WriteUE(f.cropBottom);
    }
    w.WriteBit(false);
    w.WriteTrailingBits();
    return w.Bytes();
}

TEST(BitWriter, ExpGolombCodesReadBackAndZeroRunsGetEmulationPrevention) {
    CBitWriter w;
    const uint32_t unsignedValues[] = {0, 1, 2, 3, 7, 119, 255, 65535, 1u << 20, 0xFFFFFFFEu};
    const int32_t signedValues[] = {0, 1, -1, 2, -2, 127, -128, 1 << 20, -(1 << 20)};
    for (uint32_t v : unsignedValues) w.WriteUE(v);
    for (int32_t v : signedValues) w.WriteSE(v);
    w.WriteBits(0, 24);
    w.WriteBits(1, 8);
    w.WriteTrailingBits();
    const Bytes& bytes = w.Bytes();
    ASSERT_TRUE(HasEmulationPrevention(bytes));
    // No start code prefix survives in the written bytes.
    for (size_t i = 0; i + 2 < bytes.size(); ++i) {
        EXPECT_FALSE(bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] <= 2) << i;
    }

    CBitReader r(bytes.data(), bytes.size(), true);
    for (uint32_t v : unsignedValues) EXPECT_EQ(r.ReadUE(), v);
    for (int32_t v : signedValues) EXPECT_EQ(r.ReadSE(), v);
    EXPECT_EQ(r.ReadBits(24), 0u);
    EXPECT_EQ(r.ReadBits(8), 1u);
    EXPECT_EQ(r.ReadBit(), 1u);
    EXPECT_FALSE(r.Failed());
}

TEST(BitReader, BitsPastTheEndReadAsOnesAndMarkTheOverrun) {
    const Bytes b = {0xA0};
    CBitReader r(b.data(), b.size());
    EXPECT_EQ(r.ReadBits(8), 0xA0u);
    EXPECT_FALSE(r.Overrun());
    EXPECT_EQ(r.ReadBits(3), 7u);
    EXPECT_TRUE(r.Overrun());

    const Bytes zeros(8, 0);
    CBitReader longCode(zeros.data(), zeros.size());
    longCode.ReadUE();
    EXPECT_TRUE(longCode.Failed());
}

TEST(H264Sps, PictureSizesOfTheClips) {
    struct Case {
        const char* file;
        uint32_t width, height;
    } cases[] = {
        {"h264_baseline_640x480.h264", 640, 480},        // emulation prevention in its VUI
        {"h264_baseline_1280x720.h264", 1280, 720},
        {"h264_baseline_1920x1080.h264", 1920, 1080},    // cropped
        {"h264_high_1920x1080.h264", 1920, 1080},        // high profile, cropped
        {"h264_interlaced_720x576.h264", 720, 576},      // 18 map units of two macroblock rows
        {"h264_interlaced_1920x1080.h264", 1920, 1080},  // field crop unit: 2 offsets are 8 lines
    };
    for (const auto& c : cases) {
        rtpkit::Clip clip;
        ASSERT_TRUE(rtpkit::LoadClip(ClipPath(c.file), clip)) << c.file;
        Bytes buffer = WithStartCode(clip.sps);
        const Bytes pps = WithStartCode(clip.pps);
        buffer.insert(buffer.end(), pps.begin(), pps.end());
        uint32_t w = 0, h = 0;
        ASSERT_TRUE(SizeOf(buffer, w, h)) << c.file;
        EXPECT_EQ(w, c.width) << c.file;
        EXPECT_EQ(h, c.height) << c.file;
    }
}

TEST(H264Sps, FieldsThatShapeTheSize) {
    struct Case {
        const char* name;
        SpsFields fields;
        bool valid;
        uint32_t width, height;
    };
    std::vector<Case> cases;
    SpsFields f;
    cases.push_back({"baseline 640x480", f, true, 640, 480});
    f = SpsFields();
    f.frameMbsOnly = false;
    f.widthMbsMinus1 = 119;
    f.heightMapUnitsMinus1 = 33;
    cases.push_back({"fields, 34 map units", f, true, 1920, 1088});
    f.crop = true;
    f.cropBottom = 2;
    cases.push_back({"fields, cropped by 2 units of 4 lines", f, true, 1920, 1080});
    f = SpsFields();
    f.profile = 100;
    f.scalingLists = true;
    f.pocType = 0;
    f.widthMbsMinus1 = 79;
    f.heightMapUnitsMinus1 = 44;
    cases.push_back({"high with scaling lists", f, true, 1280, 720});
    f.chromaFormat = 3;
    f.crop = true;
    f.cropRight = 4;
    f.cropBottom = 8;
    cases.push_back({"4:4:4, crop unit 1", f, true, 1276, 712});
    f = SpsFields();
    f.pocType = 1;
    f.constraints = 0;
    f.level = 0;
    f.offsetForNonRefPic = -(1 << 21);
    cases.push_back({"emulation prevention before the size", f, true, 640, 480});
    f = SpsFields();
    f.crop = true;
    f.cropLeft = 160;
    f.cropRight = 160;
    cases.push_back({"cropped to nothing", f, false, 0, 0});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes sps = WriteSps(c.fields);
        if (c.fields.level == 0) {
            ASSERT_TRUE(HasEmulationPrevention(sps));
        }
        uint32_t w = 0, h = 0;
        ASSERT_EQ(SizeOf(WithStartCode(sps), w, h), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
    }
}

TEST(H264Sps, TruncatedSetsGiveNoSize) {
    const Bytes sps = WithStartCode(WriteSps(SpsFields()));
    uint32_t w = 0, h = 0;
    for (size_t n = 0; n < sps.size() - 1; ++n) {
        EXPECT_FALSE(CH264Sps::FindPictureSize(sps.data(), n, w, h)) << n;
    }
    EXPECT_TRUE(CH264Sps::FindPictureSize(sps.data(), sps.size(), w, h));
}

TEST(H264Sps, OnlyStartCodesWithinTheFirst64BytesAreTried) {
    const Bytes sps = WithStartCode(WriteSps(SpsFields()));
    for (size_t at : {0u, 1u, 40u, 63u, 64u, 80u}) {
        Bytes buffer(at, 0x55);
        buffer.insert(buffer.end(), sps.begin(), sps.end());
        uint32_t w = 0, h = 0;
        EXPECT_EQ(SizeOf(buffer, w, h), at < 64) << at;
    }
}

TEST(H264Sps, WrittenSetForFullHd) {
    const Bytes sps = CH264Sps::Write(1920, 1080);
    // profile 66, constraint_set0, level 40; ue 0, 0, 2, 1; gaps 0;
    // ue 119, ue 67; frame_mbs_only 1, direct_8x8 0, cropping 1 with
    // offsets 0, 0, 0, 4; no VUI; stop bit.
    EXPECT_EQ(sps, Bytes({0x67, 0x42, 0x80, 0x28, 0xDA, 0x01, 0xE0, 0x08, 0x97, 0x95}));
}

TEST(H264Sps, WrittenSetsReadBackAtTheirSize) {
    const std::pair<uint32_t, uint32_t> sizes[] = {{1920, 1080}, {1280, 720}, {640, 480}, {352, 288},
                                                   {704, 576},   {1000, 600}, {176, 120}, {2592, 1944},
                                                   {16, 16},     {1010, 566}};
    for (const auto& s : sizes) {
        const Bytes sps = CH264Sps::Write(s.first, s.second);
        uint32_t w = 0, h = 0;
        ASSERT_TRUE(SizeOf(WithStartCode(sps), w, h)) << s.first << "x" << s.second;
        EXPECT_EQ(w, s.first);
        EXPECT_EQ(h, s.second);
    }
    EXPECT_TRUE(CH264Sps::Write(0, 480).empty());
    EXPECT_TRUE(CH264Sps::Write(640, 0).empty());
}

}  // namespace
