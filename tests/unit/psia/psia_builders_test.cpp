#include "psia/psia_builders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psia/psia_parsers.h"
#include "psia/xml_parser.h"
#include "support/psia_test_records.h"

namespace {

using telvaro::BuildIOPortData;
using telvaro::BuildStreamingChannel;
using telvaro::BuildStreamingChannelList;
using telvaro::StreamingChannelSettings;

TEST(PsiaBuilders, StreamingChannelIsOneLineInFieldOrder) {
    StreamingChannelSettings s = psia_test::SampleSettings();
    EXPECT_EQ(BuildStreamingChannel(s),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"
              "<StreamingChannel version=\"1.0\" xmlns=\"urn:psialliance-org\">"
              "<id>101</id><enabled>true</enabled>"
              "<Video><enabled>true</enabled><videoInputChannelID>0</videoInputChannelID>"
              "<videoCodecType>H.264</videoCodecType>"
              "<videoResolutionWidth>1920</videoResolutionWidth><videoResolutionHeight>1080</videoResolutionHeight>"
              "<videoQualityControlType>VBR</videoQualityControlType>"
              "<constantBitRate>4096</constantBitRate><fixedQuality>60</fixedQuality>"
              "<maxFrameRate>2500</maxFrameRate><keyFrameInterval>1000</keyFrameInterval>"
              "</Video></StreamingChannel>");

    s.id = 4294967295u;
    s.enabled = false;
    s.videoEnabled = false;
    s.videoInputChannelID = 3;
    s.videoCodecType = "MJPEG";
    s.videoQualityControlType = "CBR";
    EXPECT_EQ(BuildStreamingChannel(s),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"
              "<StreamingChannel version=\"1.0\" xmlns=\"urn:psialliance-org\">"
              "<id>4294967295</id><enabled>false</enabled>"
              "<Video><enabled>false</enabled><videoInputChannelID>3</videoInputChannelID>"
              "<videoCodecType>MJPEG</videoCodecType>"
              "<videoResolutionWidth>1920</videoResolutionWidth><videoResolutionHeight>1080</videoResolutionHeight>"
              "<videoQualityControlType>CBR</videoQualityControlType>"
              "<constantBitRate>4096</constantBitRate><fixedQuality>60</fixedQuality>"
              "<maxFrameRate>2500</maxFrameRate><keyFrameInterval>1000</keyFrameInterval>"
              "</Video></StreamingChannel>");
}

TEST(PsiaBuilders, StreamingChannelListCarriesTheChannelAndTheFixedMjpegChannel) {
    StreamingChannelSettings s = psia_test::SampleSettings();
    s.id = 1;
    s.videoResolutionWidth = 352;
    s.videoResolutionHeight = 288;
    EXPECT_EQ(BuildStreamingChannelList(s),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"
              "<StreamingChannelList version=\"1.0\" xmlns=\"urn:psialliance-org\">"
              "<StreamingChannel><id>1</id><channelName>H.264 channel</channelName><enabled>true</enabled>"
              "<Transport><ControlProtocolList><ControlProtocol><streamingTransport>RTSP</streamingTransport>"
              "</ControlProtocol></ControlProtocolList></Transport>"
              "<Video><enabled>true</enabled><videoInputChannelID>0</videoInputChannelID>"
              "<videoCodecType>H.264</videoCodecType>"
              "<videoResolutionWidth>352</videoResolutionWidth><videoResolutionHeight>288</videoResolutionHeight>"
              "<videoQualityControlType>VBR</videoQualityControlType><fixedQuality>60</fixedQuality>"
              "<vbrUpperCap>1500</vbrUpperCap><vbrLowerCap>0</vbrLowerCap>"
              "<maxFrameRate>2500</maxFrameRate><keyFrameInterval>825</keyFrameInterval>"
              "</Video><Audio><enabled>false</enabled><audioInputChannelID>0</audioInputChannelID>"
              "<audioCompressionType>G.711ulaw</audioCompressionType></Audio></StreamingChannel>"
              "<StreamingChannel><id>1</id><channelName>MJPEG channel</channelName><enabled>true</enabled>"
              "<Transport><ControlProtocolList><ControlProtocol><streamingTransport>RTSP</streamingTransport>"
              "</ControlProtocol></ControlProtocolList></Transport>"
              "<Video><enabled>false</enabled><videoInputChannelID>0</videoInputChannelID>"
              "<videoCodecType>MJPEG</videoCodecType>"
              "<videoResolutionWidth>320</videoResolutionWidth><videoResolutionHeight>192</videoResolutionHeight>"
              "<videoQualityControlType>VBR</videoQualityControlType><fixedQuality>50</fixedQuality>"
              "<vbrUpperCap>1000</vbrUpperCap><vbrLowerCap>0</vbrLowerCap>"
              "<maxFrameRate>100</maxFrameRate><keyFrameInterval>66</keyFrameInterval>"
              "</Video><Audio><enabled>false</enabled><audioInputChannelID>0</audioInputChannelID>"
              "<audioCompressionType>G.711ulaw</audioCompressionType></Audio></StreamingChannel>"
              "</StreamingChannelList>");
}

TEST(PsiaBuilders, ListUpperCapFollowsTheWidthAndKeyFramesTheFrameRate) {
    struct Case {
        uint32_t width;
        uint32_t maxFrameRate;
        const char* upperCap;
        const char* keyFrames;
    } cases[] = {
        {352, 2500, "<vbrUpperCap>1500</vbrUpperCap>", "<maxFrameRate>2500</maxFrameRate><keyFrameInterval>825<"},
        {353, 2500, "<vbrUpperCap>3000</vbrUpperCap>", "<keyFrameInterval>825<"},
        {0, 99, "<vbrUpperCap>1500</vbrUpperCap>", "<maxFrameRate>99</maxFrameRate><keyFrameInterval>0<"},
        {4096, 2999, "<vbrUpperCap>3000</vbrUpperCap>", "<keyFrameInterval>957<"},
        {640, 0, "<vbrUpperCap>3000</vbrUpperCap>", "<maxFrameRate>0</maxFrameRate><keyFrameInterval>0<"},
    };
    for (const Case& c : cases) {
        StreamingChannelSettings s = psia_test::SampleSettings();
        s.videoResolutionWidth = c.width;
        s.maxFrameRate = c.maxFrameRate;
        s.keyFrameInterval = 12345;
        s.constantBitRate = 777;
        std::string list = BuildStreamingChannelList(s);
        // The first channel's block ends at the first Audio element.
        std::string first = list.substr(0, list.find("<Audio>"));
        EXPECT_NE(first.find(c.upperCap), std::string::npos) << c.width;
        EXPECT_NE(first.find(c.keyFrames), std::string::npos) << c.maxFrameRate;
        EXPECT_EQ(list.find("12345"), std::string::npos);
        EXPECT_EQ(list.find("constantBitRate"), std::string::npos);
    }
}

TEST(PsiaBuilders, IOPortData) {
    EXPECT_EQ(BuildIOPortData(true),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><IOPortData xmlns=\"urn:psialliance-org\">"
              "<outputState>high</outputState></IOPortData>");
    EXPECT_EQ(BuildIOPortData(false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><IOPortData xmlns=\"urn:psialliance-org\">"
              "<outputState>low</outputState></IOPortData>");
}

TEST(PsiaBuilders, BuiltDocumentsParseBack) {
    const StreamingChannelSettings sample = psia_test::SampleSettings();
    StreamingChannelSettings variants[3] = {sample, sample, sample};
    variants[1].enabled = false;
    variants[1].videoCodecType = "MPEG4";
    variants[1].videoInputChannelID = 2;
    variants[2].id = 0;
    variants[2].videoEnabled = false;
    variants[2].videoQualityControlType = "CBR";
    variants[2].maxFrameRate = 1;
    for (const StreamingChannelSettings& s : variants) {
        StreamingChannelSettings read;
        ASSERT_TRUE(telvaro::ParseStreamingChannel(BuildStreamingChannel(s), read));
        EXPECT_EQ(psia_test::Fields(read), psia_test::Fields(s));

        std::vector<StreamingChannelSettings> list;
        ASSERT_TRUE(telvaro::ParseStreamingChannelList(BuildStreamingChannelList(s), list));
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0].id, s.id);
        EXPECT_EQ(list[1].id, 1u);
    }
    auto parser = telvaro::CXMLParser::ParseDocument(BuildIOPortData(true));
    ASSERT_TRUE(parser);
    EXPECT_EQ(parser->NodeText("IOPortData/outputState"), "high");
}

}  // namespace
