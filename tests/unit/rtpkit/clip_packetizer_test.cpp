// The test clips and packetizers are what every depacketizer test and the
// camera simulator stand on: check them against the files and a decoder.
#include <gtest/gtest.h>

#include <string>

#include "rtpkit/clip.h"
#include "rtpkit/h264_packetizer.h"
#include "rtpkit/jpeg_packetizer.h"
#include "rtpkit/mpeg4_packetizer.h"
#include "support/video_decoder.h"

namespace {

using rtpkit::Bytes;

std::string Clip(const char* name) { return std::string(OMBRELIX_TESTDATA_DIR) + "/" + name; }

TEST(Clips, LoadWithTheirFrameCountsAndDecodeAtTheirSize) {
    struct Case {
        const char* file;
        size_t frames;
        int width, height;
        fakes::VideoDecoder::Codec codec;
    } cases[] = {
        {"h264_baseline_640x480.h264", 30, 640, 480, fakes::VideoDecoder::Codec::H264},
        {"h264_baseline_1280x720.h264", 20, 1280, 720, fakes::VideoDecoder::Codec::H264},
        {"h264_high_1920x1080.h264", 10, 1920, 1080, fakes::VideoDecoder::Codec::H264},
        {"h264_interlaced_720x576.h264", 10, 720, 576, fakes::VideoDecoder::Codec::H264},
        {"mpeg4_sp_640x480.m4v", 30, 640, 480, fakes::VideoDecoder::Codec::Mpeg4},
        {"mpeg4_sp_1280x720.m4v", 20, 1280, 720, fakes::VideoDecoder::Codec::Mpeg4},
        {"jpeg420_640x480.mjpeg", 15, 640, 480, fakes::VideoDecoder::Codec::Jpeg},
        {"jpeg422_640x480.mjpeg", 15, 640, 480, fakes::VideoDecoder::Codec::Jpeg},
        {"jpeg420_restart_640x480.mjpeg", 10, 640, 480, fakes::VideoDecoder::Codec::Jpeg},
        {"jpeg420_1280x720.mjpeg", 10, 1280, 720, fakes::VideoDecoder::Codec::Jpeg},
    };
    for (const auto& c : cases) {
        rtpkit::Clip clip;
        ASSERT_TRUE(rtpkit::LoadClip(Clip(c.file), clip)) << c.file;
        EXPECT_EQ(clip.frames.size(), c.frames) << c.file;
        EXPECT_TRUE(clip.frames[0].key) << c.file;
        fakes::VideoDecoder decoder(c.codec);
        for (const auto& f : clip.frames) {
            Bytes whole;
            if (c.codec == fakes::VideoDecoder::Codec::H264) {
                for (const Bytes& nal : f.nals) {
                    whole.insert(whole.end(), {0, 0, 1});
                    whole.insert(whole.end(), nal.begin(), nal.end());
                }
            } else {
                whole = f.key && c.codec == fakes::VideoDecoder::Codec::Mpeg4 ? clip.config : Bytes();
                whole.insert(whole.end(), f.data.begin(), f.data.end());
            }
            ASSERT_TRUE(decoder.Decode(whole)) << c.file << ": " << decoder.LastError();
        }
        ASSERT_TRUE(decoder.Flush()) << c.file;
        ASSERT_EQ(decoder.Pictures().size(), c.frames) << c.file;
        EXPECT_EQ(decoder.Pictures()[0].width, c.width) << c.file;
        EXPECT_EQ(decoder.Pictures()[0].height, c.height) << c.file;
    }
}

TEST(H264Packetizer, FragmentsAndAggregatesWithinTheMtu) {
    rtpkit::Clip clip;
    ASSERT_TRUE(rtpkit::LoadClip(Clip("h264_high_1920x1080.h264"), clip));
    rtpkit::H264PacketizerOptions options;
    options.mtu = 1000;
    auto payloads = rtpkit::PacketizeH264(clip.frames[0], options);
    ASSERT_GE(payloads.size(), 3u);
    EXPECT_EQ(payloads[0][0] & 0x1F, 24);  // STAP-A with the parameter sets
    // Reassemble the FU-A fragments and compare with the NAL units.
    std::vector<Bytes> rebuilt;
    for (const Bytes& p : payloads) {
        ASSERT_LE(p.size(), options.mtu);
        uint8_t type = p[0] & 0x1F;
        if (type == 24) {
            for (size_t i = 1; i + 2 <= p.size();) {
                size_t n = static_cast<size_t>(p[i]) << 8 | p[i + 1];
                rebuilt.emplace_back(p.begin() + static_cast<long>(i + 2), p.begin() + static_cast<long>(i + 2 + n));
                i += 2 + n;
            }
        } else if (type == 28) {
            if (p[1] & 0x80) rebuilt.push_back({static_cast<uint8_t>((p[0] & 0xE0) | (p[1] & 0x1F))});
            rebuilt.back().insert(rebuilt.back().end(), p.begin() + 2, p.end());
        } else {
            rebuilt.push_back(p);
        }
    }
    EXPECT_EQ(rebuilt, clip.frames[0].nals);
}

TEST(JpegPacketizer, CarriesTheScanAndTheTablesOfTheFile) {
    struct Case {
        const char* file;
        int q;
        uint8_t type;
    } cases[] = {{"jpeg420_640x480.mjpeg", 50, 1}, {"jpeg422_640x480.mjpeg", 50, 0},
                 {"jpeg420_restart_640x480.mjpeg", 75, 65}, {"jpeg420_640x480.mjpeg", 255, 1}};
    for (const auto& c : cases) {
        rtpkit::Clip clip;
        ASSERT_TRUE(rtpkit::LoadClip(Clip(c.file), clip));
        rtpkit::JpegInfo info;
        std::string error;
        ASSERT_TRUE(rtpkit::ParseJpeg(clip.frames[0].data, info, &error)) << error;
        EXPECT_EQ(info.type, c.type) << c.file;
        rtpkit::JpegPacketizerOptions options;
        options.q = c.q;
        std::vector<Bytes> payloads;
        ASSERT_TRUE(rtpkit::PacketizeJpeg(clip.frames[0], options, payloads, &error)) << c.file << ": " << error;
        Bytes scan;
        for (const Bytes& p : payloads) {
            size_t offset = static_cast<size_t>(p[1]) << 16 | static_cast<size_t>(p[2]) << 8 | p[3];
            EXPECT_EQ(offset, scan.size());
            EXPECT_EQ(p[4], c.type);
            EXPECT_EQ(p[5], c.q);
            EXPECT_EQ(p[6], 80);
            EXPECT_EQ(p[7], 60);
            size_t skip = 8 + (c.type >= 64 ? 4 : 0) + (offset == 0 && c.q >= 128 ? 4 + 128 : 0);
            scan.insert(scan.end(), p.begin() + static_cast<long>(skip), p.end());
        }
        EXPECT_EQ(scan, info.scan) << c.file;
    }
    // A file made at one quality cannot be announced with another Q.
    rtpkit::Clip clip;
    ASSERT_TRUE(rtpkit::LoadClip(Clip("jpeg420_640x480.mjpeg"), clip));
    rtpkit::JpegPacketizerOptions options;
    options.q = 60;
    std::vector<Bytes> payloads;
    EXPECT_FALSE(rtpkit::PacketizeJpeg(clip.frames[0], options, payloads, nullptr));
}

TEST(Mpeg4Packetizer, PutsTheConfigurationInFrontOfIntraVops) {
    rtpkit::Clip clip;
    ASSERT_TRUE(rtpkit::LoadClip(Clip("mpeg4_sp_640x480.m4v"), clip));
    ASSERT_GE(clip.config.size(), 4u);
    EXPECT_EQ(clip.config[3], 0xB0);
    rtpkit::Mpeg4PacketizerOptions options;
    auto first = rtpkit::PacketizeMpeg4(clip.frames[0], clip.config, options);
    EXPECT_TRUE(std::equal(clip.config.begin(), clip.config.end(), first[0].begin()));
    auto second = rtpkit::PacketizeMpeg4(clip.frames[1], clip.config, options);
    EXPECT_EQ(second[0][3], 0xB6);
}

}  // namespace
