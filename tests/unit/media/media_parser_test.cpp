#include "media/media_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/fake_driver.h"
#include "support/fake_host.h"
#include "thread/file_time.h"

namespace {

using namespace telvaro;

// The smallest depacketizer: appends every payload and hands the frame
// over on the marker packet, as the codecs do.
class PlainParser : public CRTPMediaParser {
public:
    using CRTPMediaParser::CRTPMediaParser;

    void OnPacket(const RTPPacket* packet) override {
        CheckSequence(packet->sequenceNumber);
        AppendToFrame(packet->payload, packet->payloadLength);
        if (!CheckBufferSize()) {
            Reset();
            return;
        }
        if (!packet->marker) return;
        timeStamps_.Convert(packet->timeStamp);
        if (writer) {
            HandOverFrame(kFourCCJPEG, static_cast<uint32_t>(frame_.size()) + 1024, false, writer);
        } else {
            HandOverFrame(fourCC, SampleCapacity(static_cast<uint32_t>(frame_.size())));
        }
        ClearFrame();
    }
    void Reset() override {
        ++resets;
        ClearFrame();
    }
    void SetSize(uint32_t w, uint32_t h) {
        width_ = w;
        height_ = h;
    }
    size_t FrameLength() const { return frame_.size(); }

    int resets = 0;
    uint32_t fourCC = kFourCCH264;
    std::function<uint32_t(uint8_t*, uint32_t)> writer;
};

// Passes frames to a recording stream sink, as the channel does.
class Client : public IMediaParserClient {
public:
    bool OnFrame(ipcapture::IMediaSample* sample) override {
        setFourCCs.push_back(static_cast<fakes::FakeSample*>(sample)->fourcc_);
        return sink.OnSample(sample);
    }
    std::pair<uint32_t, uint32_t> GetResolution() override { return {640, 480}; }

    fakes::FakeStreamSink sink;
    std::vector<uint32_t> setFourCCs;  // 0 where the FourCC was left to the allocation
};

class MediaParserTest : public ::testing::Test {
protected:
    MediaParserTest() : parser(&driver, "Ombrelix") {
        driver.allocator = &allocator;
        parser.SetClient(&client);
    }

    // Feeds one packet whose payload is count bytes of value fill.
    void Feed(uint16_t seq, bool marker, size_t count, uint8_t fill = 0xAB, uint32_t timeStamp = 90000) {
        std::vector<uint8_t> payload(count, fill);
        Feed(seq, marker, payload, timeStamp);
    }
    void Feed(uint16_t seq, bool marker, const std::vector<uint8_t>& payload, uint32_t timeStamp = 90000) {
        RTPPacket p;
        p.sequenceNumber = seq;
        p.marker = marker;
        p.timeStamp = timeStamp;
        p.payload = payload.data();
        p.payloadLength = static_cast<uint32_t>(payload.size());
        parser.OnPacket(&p);
    }

    fakes::FakeDriver driver;
    fakes::FakeSampleAllocator allocator;
    Client client;
    PlainParser parser;
};

TEST(MediaConstants, FourCCsHaveTheirFirstCharacterInTheLowestByte) {
    EXPECT_EQ(kFourCCH264, 0x34363248u);
    EXPECT_EQ(kFourCCI264, 0x34363249u);
    EXPECT_EQ(kFourCCDIVX, 0x58564944u);
    EXPECT_EQ(kFourCCDIVI, 0x49564944u);
    EXPECT_EQ(kFourCCJPEG, 0x4745504Au);
}

TEST(MediaConstants, CapacityBuckets) {
    const std::pair<uint32_t, uint32_t> cases[] = {
        {1, 4096},         {4096, 4096},     {4097, 16384},    {16384, 16384},   {16385, 32768},
        {32768, 32768},    {32769, 131072},  {131072, 131072}, {131073, 131073}, {200000, 200000},
    };
    for (const auto& c : cases) EXPECT_EQ(SampleCapacity(c.first), c.second) << c.first;
}

TEST(MediaConstants, SizeClasses) {
    struct Case {
        uint32_t width, height, sizeClass;
    };
    const Case cases[] = {
        {0, 0, 1},     {199, 1000, 1}, {200, 100, 2},   {352, 288, 2},  {399, 50, 2},     {640, 480, 4},
        {800, 300, 3}, {800, 400, 4},  {1023, 100, 3}, {1024, 100, 4}, {1920, 1080, 4},
    };
    for (const auto& c : cases) EXPECT_EQ(SizeClass(c.width, c.height), c.sizeClass) << c.width << "x" << c.height;
}

TEST_F(MediaParserTest, SequenceWrapIsOneRunAndTheFirstPacketIsAlwaysAccepted) {
    Feed(65534, false, 1, 1);
    Feed(65535, false, 1, 2);
    Feed(0, false, 1, 3);
    Feed(1, true, 1, 4);
    EXPECT_EQ(parser.resets, 0);
    auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, std::vector<uint8_t>({1, 2, 3, 4}));
}

TEST_F(MediaParserTest, GapDropsThePartialFrameAndTheRevealingPacketStartsTheNext) {
    Feed(100, false, 2, 1);
    Feed(102, false, 2, 2);  // 101 lost
    EXPECT_EQ(parser.resets, 1);
    Feed(103, true, 1, 3);
    auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, std::vector<uint8_t>({2, 2, 3}));
    Feed(103, true, 1, 4);  // a repeated number is a gap too
    EXPECT_EQ(parser.resets, 2);
}

TEST_F(MediaParserTest, OverflowBeyondTenMebibytesIsReportedAndResets) {
    DEVICE_INFO info;
    info.address = "10.1.2.3";
    info.port = 8080;
    driver.SetDeviceInfo(info);

    Feed(1, false, CRTPMediaParser::kMaxFrameSize);
    EXPECT_EQ(parser.FrameLength(), CRTPMediaParser::kMaxFrameSize);
    EXPECT_EQ(parser.resets, 0);
    EXPECT_TRUE(driver.Messages().empty());

    EXPECT_TRUE(parser.LastFailure().Empty());

    Feed(2, false, 1);
    EXPECT_EQ(parser.resets, 1);
    EXPECT_EQ(parser.FrameLength(), 0u);
    EXPECT_EQ(parser.LastFailure().kind, kFailureTooLarge);
    auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, 1);
    EXPECT_EQ(messages[0].text,
              "telvaro::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 10.1.2.3:8080");
}

TEST_F(MediaParserTest, HandOverFillsTheSampleAndReleasesIt) {
    parser.SetSize(640, 480);
    std::vector<uint8_t> payload(4097);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
    Feed(1, true, payload, 3000);

    auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), 1u);
    const fakes::ReceivedFrame& f = frames[0];
    EXPECT_EQ(f.data, payload);
    EXPECT_EQ(allocator.LastCapacity(), 16384u);
    EXPECT_EQ(allocator.LastFourcc(), kFourCCH264);
    EXPECT_EQ(client.setFourCCs, std::vector<uint32_t>({kFourCCH264}));
    EXPECT_EQ(allocator.LastDriverName(), "Ombrelix");
    EXPECT_EQ(f.width, 640u);
    EXPECT_EQ(f.height, 480u);
    EXPECT_EQ(f.sizeClass, 4u);
    SYSTEMTIME expected{};
    ASSERT_TRUE(FileTimeToSystemTimeUtc(parser.GetTimeStampConverter().GetLastFrameTime(), expected));
    EXPECT_EQ(std::memcmp(&f.time, &expected, sizeof(expected)), 0);
    EXPECT_EQ(allocator.allocations.load(), 1);
    EXPECT_EQ(allocator.releases.load(), 1);
    EXPECT_EQ(parser.FrameLength(), 0u);

    parser.SetSize(352, 288);
    Feed(2, true, 200000, 7, 6000);
    frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(allocator.LastCapacity(), 200000u);
    EXPECT_EQ(frames[1].data, std::vector<uint8_t>(200000, 7));
    EXPECT_EQ(frames[1].sizeClass, 2u);
    EXPECT_EQ(allocator.releases.load(), 2);
    EXPECT_EQ(parser.resets, 0);
}

TEST_F(MediaParserTest, FramesThatCannotBeHandedOverAreDroppedWithoutAReset) {
    struct Case {
        const char* name;
        bool allocator;
        bool client;
        bool refuseSample;
    };
    const Case cases[] = {
        {"no allocator", false, true, false},
        {"no client", true, false, false},
        {"no sample", true, true, true},
    };
    uint16_t seq = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes::FakeSampleAllocator local;
        local.refuse = c.refuseSample;
        driver.allocator = c.allocator ? &local : nullptr;
        parser.SetClient(c.client ? &client : nullptr);
        Feed(seq++, true, 10);
        Feed(seq++, true, 10);
        EXPECT_EQ(client.sink.FrameCount(), 0u);
        EXPECT_EQ(local.allocations.load(), 0);
        EXPECT_EQ(local.releases.load(), 0);
        EXPECT_EQ(parser.resets, 0);
        EXPECT_EQ(parser.FrameLength(), 0u);
    }

    driver.allocator = &allocator;
    parser.SetClient(&client);
    Feed(seq++, true, 0);  // a marker on an empty frame
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    EXPECT_EQ(allocator.allocations.load(), 0);
}

TEST_F(MediaParserTest, RefusedOrFailingFrameResetsAndTheSampleStillGoesBack) {
    client.sink.accept = false;
    Feed(1, true, 10);
    EXPECT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(parser.resets, 1);
    EXPECT_EQ(allocator.releases.load(), 1);

    client.sink.accept = true;
    client.sink.throwOnSample = true;
    EXPECT_THROW(Feed(2, true, 10), std::runtime_error);
    EXPECT_EQ(allocator.allocations.load(), 2);
    EXPECT_EQ(allocator.releases.load(), 2);
}

TEST_F(MediaParserTest, FillFunctionWritesTheSampleAndAFailedFillResets) {
    parser.writer = [](uint8_t* buffer, uint32_t capacity) -> uint32_t {
        if (capacity != 1024 + 3) return 0;
        std::memcpy(buffer, "\xFF\xD8\xFF\xD9", 4);
        return 4;
    };
    Feed(1, true, 3);
    auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, std::vector<uint8_t>({0xFF, 0xD8, 0xFF, 0xD9}));
    EXPECT_EQ(allocator.LastFourcc(), kFourCCJPEG);
    EXPECT_EQ(client.setFourCCs, std::vector<uint32_t>({0u}));
    EXPECT_EQ(parser.resets, 0);

    Feed(2, true, 5);  // the writer fails for any other capacity
    EXPECT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(parser.resets, 1);
    EXPECT_EQ(allocator.allocations.load(), 2);
    EXPECT_EQ(allocator.releases.load(), 2);
}

TEST_F(MediaParserTest, MediaConfigIsCopied) {
    MediaConfig config;
    config.sps = {0x67, 0x42};
    config.pps = {0x68, 0xCE};
    config.config = {0x00, 0x00, 0x01, 0xB0};
    parser.SetMediaConfig(config);
    config.sps.clear();
    EXPECT_EQ(parser.GetMediaConfig().sps, std::vector<uint8_t>({0x67, 0x42}));
    EXPECT_EQ(parser.GetMediaConfig().pps, std::vector<uint8_t>({0x68, 0xCE}));
    EXPECT_EQ(parser.GetMediaConfig().config, std::vector<uint8_t>({0x00, 0x00, 0x01, 0xB0}));
}

}  // namespace
