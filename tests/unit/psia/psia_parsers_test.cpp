#include "psia/psia_parsers.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "psia/capability_text.h"
#include "support/psia_test_records.h"

namespace {

using namespace telvaro;
using psia_test::Fields;
using psia_test::Pairs;

const char kChannel[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<StreamingChannel version=\"1.0\" xmlns=\"urn:psialliance-org\">\n"
    "<id>101</id>\n<channelName>Camera 01</channelName>\n<enabled>true</enabled>\n"
    "<Transport>\n<rtspPortNo>554</rtspPortNo>\n</Transport>\n"
    "<Video>\n<enabled>true</enabled>\n<videoInputChannelID>1</videoInputChannelID>\n"
    "<videoCodecType>MPEG4</videoCodecType>\n<videoScanType>progressive</videoScanType>\n"
    "<videoResolutionWidth>1280</videoResolutionWidth>\n<videoResolutionHeight>720</videoResolutionHeight>\n"
    "<videoQualityControlType>CBR</videoQualityControlType>\n<constantBitRate>2048</constantBitRate>\n"
    "<fixedQuality>60</fixedQuality>\n<maxFrameRate>1500</maxFrameRate>\n<keyFrameInterval>500</keyFrameInterval>\n"
    "</Video>\n</StreamingChannel>\n";

std::string Channel(const std::string& inner) {
    return "<StreamingChannel xmlns=\"urn:psialliance-org\">" + inner + "</StreamingChannel>";
}

TEST(PsiaParsers, StreamingChannelReadsEveryField) {
    StreamingChannelSettings s;
    ASSERT_TRUE(ParseStreamingChannel(kChannel, s));
    EXPECT_EQ(Fields(s), std::make_tuple(101u, true, true, 1u, std::string("MPEG4"), 1280u, 720u, std::string("CBR"),
                                         2048u, 60u, 1500u, 500u));
}

TEST(PsiaParsers, StreamingChannelValuesAreTakenAsWritten) {
    struct Case {
        std::string inner;
        std::function<bool(const StreamingChannelSettings&)> check;
        const char* what;
    } cases[] = {
        {"<id> 101</id>", [](auto& s) { return s.id == 0; }, "blank before digits"},
        {"<id>101 </id>", [](auto& s) { return s.id == 0; }, "blank after digits"},
        {"<id>+7</id>", [](auto& s) { return s.id == 7; }, "sign"},
        {"<id>0x10</id>", [](auto& s) { return s.id == 0; }, "hex"},
        {"<id>99999999999</id>", [](auto& s) { return s.id == 0; }, "out of range"},
        {"<id><!-- c -->5</id>", [](auto& s) { return s.id == 0; }, "first child is a comment"},
        {"<enabled>TRUE</enabled>", [](auto& s) { return !s.enabled; }, "upper-case TRUE"},
        {"<enabled> true</enabled>", [](auto& s) { return !s.enabled; }, "blank before true"},
        {"<enabled>1</enabled>", [](auto& s) { return !s.enabled; }, "1 for true"},
        {"<Video><enabled>true</enabled></Video>", [](auto& s) { return s.videoEnabled && !s.enabled; },
         "video flag only"},
        {"<Video><videoCodecType> H.264 </videoCodecType></Video>",
         [](auto& s) { return s.videoCodecType == " H.264 "; }, "text untrimmed"},
        {"<Video><videoCodecType>a &amp; b</videoCodecType></Video>",
         [](auto& s) { return s.videoCodecType == "a & b"; }, "entity"},
        {"", [](auto& s) { return Fields(s) == Fields(StreamingChannelSettings()); }, "nothing present"},
    };
    for (const Case& c : cases) {
        StreamingChannelSettings s = StreamingChannelSettings::ListEntry(9);
        s.enabled = true;
        ASSERT_TRUE(ParseStreamingChannel(Channel(c.inner), s)) << c.what;
        EXPECT_TRUE(c.check(s)) << c.what;
    }
}

TEST(PsiaParsers, StreamingChannelListGivesListEntries) {
    std::vector<StreamingChannelSettings> list(3, StreamingChannelSettings::ListEntry(77));
    ASSERT_TRUE(ParseStreamingChannelList(
        "<StreamingChannelList version=\"1.0\" xmlns=\"urn:psialliance-org\">"
        "<StreamingChannel><id>101</id><enabled>true</enabled><Video><videoCodecType>MJPEG</videoCodecType>"
        "<videoResolutionWidth>640</videoResolutionWidth></Video></StreamingChannel>"
        "<StreamingChannel><id>x2</id></StreamingChannel>"
        "<StreamingChannel><id></id></StreamingChannel>"
        "<StreamingChannel><id>102</id></StreamingChannel>"
        "</StreamingChannelList>",
        list));
    // An id that is no number is kept as 0; an empty id names no channel.
    ASSERT_EQ(list.size(), 3u);
    const uint32_t ids[] = {101, 0, 102};
    for (size_t i = 0; i < list.size(); ++i) {
        StreamingChannelSettings expected;
        expected.id = ids[i];
        expected.videoCodecType = "H.264";
        expected.videoQualityControlType = "VBR";
        EXPECT_EQ(Fields(list[i]), Fields(expected)) << i;
    }
    ASSERT_TRUE(ParseStreamingChannelList("<StreamingChannelList/>", list));
    EXPECT_TRUE(list.empty());
}

const char kCapabilities[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<StreamingChannel version=\"1.0\" xmlns=\"urn:psialliance-org\">\n"
    "<id>1</id>\n<Transport>\n<rtspPortNo min=\"1\" max=\"65535\">8554</rtspPortNo>\n</Transport>\n"
    "<Video>\n<videoCodecType opt=\"H.264,MPEG4,MJPEG\">H.264</videoCodecType>\n"
    "<videoResolutionWidth opt=\"1920,1280,640\">1920</videoResolutionWidth>\n"
    "<videoResolutionHeight opt=\"1080,720,480\">1080</videoResolutionHeight>\n"
    "<videoQualityControlType opt=\"CBR,VBR\">VBR</videoQualityControlType>\n"
    "<constantBitRate min=\"64\" max=\"8192\">2048</constantBitRate>\n"
    "<fixedQuality opt=\"20,40,60,80,100\">60</fixedQuality>\n"
    "<maxFrameRate opt=\"2500,1500,500,3000\">2500</maxFrameRate>\n"
    "</Video>\n</StreamingChannel>\n";

TEST(PsiaParsers, CapabilitiesReadTheOfferedValues) {
    ChannelCapabilities c;
    c.channelId = 5;
    ASSERT_TRUE(ParseCapabilities(kCapabilities, c));
    EXPECT_EQ(c.channelId, 5u);
    EXPECT_EQ(c.rtspPort, 8554u);
    EXPECT_EQ(c.codecs, (std::vector<uint32_t>{16, 4, 2}));
    EXPECT_EQ(Pairs(c.resolutions), (std::vector<std::pair<uint32_t, uint32_t>>{{1920, 1080}, {1280, 720}, {640, 480}}));
    EXPECT_EQ(c.frameRates, (std::set<uint32_t>{5, 15, 25, 30}));
    EXPECT_EQ(c.qualityControlTypes, "CBR,VBR");
    EXPECT_EQ(c.cbrMin, 64u);
    EXPECT_EQ(c.cbrMax, 8192u);
    EXPECT_EQ(c.fixedQualityOptions, "20,40,60,80,100");
}

std::string Capabilities(const std::string& video, const std::string& transport = "") {
    return "<StreamingChannel xmlns=\"urn:psialliance-org\"><Transport>" + transport + "</Transport><Video>" + video +
           "</Video></StreamingChannel>";
}

const char kH264[] = "<videoCodecType opt=\"H.264\"/>";
const char kVga[] = "<videoResolutionWidth opt=\"640\"/><videoResolutionHeight opt=\"480\"/>";
const char kRate[] = "<maxFrameRate opt=\"2500\"/>";

std::string OneToHundred() {
    std::string list;
    for (int i = 1; i <= 100; ++i) list += (i > 1 ? "," : "") + std::to_string(i);
    return list;
}

TEST(PsiaParsers, CapabilityOptionEdges) {
    using Resolutions = std::vector<std::pair<uint32_t, uint32_t>>;
    struct Case {
        const char* what;
        std::string body;
        bool result;
        std::function<bool(const ChannelCapabilities&)> check;
    } cases[] = {
        {"MJPEG, JPEG and an unknown codec", Capabilities("<videoCodecType opt=\"MJPEG,JPEG,H.265\"/>" + std::string(kVga) + kRate),
         true, [](auto& c) { return c.codecs == std::vector<uint32_t>{2, 2}; }},
        {"codec items are not trimmed", Capabilities("<videoCodecType opt=\"H.264, MPEG4\"/>" + std::string(kVga) + kRate),
         true, [](auto& c) { return c.codecs == std::vector<uint32_t>{16}; }},
        {"more widths than heights",
         Capabilities(kH264 + std::string("<videoResolutionWidth opt=\"1920,1280,640\"/>"
                                          "<videoResolutionHeight opt=\"1080\"/>") + kRate),
         true, [](auto& c) { return Pairs(c.resolutions) == Resolutions{{1920, 1080}, {1280, 1080}, {640, 1080}}; }},
        {"more heights than widths",
         Capabilities(kH264 + std::string("<videoResolutionWidth opt=\"704,352\"/>"
                                          "<videoResolutionHeight opt=\"576,288,240\"/>") + kRate),
         true, [](auto& c) { return Pairs(c.resolutions) == Resolutions{{704, 576}, {352, 288}, {352, 240}}; }},
        {"items read like atoi, zero pairs dropped",
         Capabilities(kH264 + std::string("<videoResolutionWidth opt=\" 800px,,x,-640,320\"/>"
                                          "<videoResolutionHeight opt=\"600,600,600,480,240\"/>") + kRate),
         true, [](auto& c) { return Pairs(c.resolutions) == Resolutions{{800, 600}, {320, 240}}; }},
        {"an overlong number saturates as atoi does",
         Capabilities(kH264 + std::string("<videoResolutionWidth opt=\"99999999999999999999999\"/>"
                                          "<videoResolutionHeight opt=\"4294967296\"/>") + kRate),
         true, [](auto& c) { return Pairs(c.resolutions) == Resolutions{{2147483647, 2147483647}}; }},
        {"frame rates from min and max",
         Capabilities(kH264 + std::string(kVga) + "<maxFrameRate min=\"100\" max=\"3000\"/>"), true,
         [](auto& c) {
             std::set<uint32_t> expected;
             for (uint32_t r = 1; r <= 30; ++r) expected.insert(r);
             return c.frameRates == expected;
         }},
        {"frame rate options rounded down, zero dropped",
         Capabilities(kH264 + std::string(kVga) + "<maxFrameRate opt=\"2999,99,1500,1550,-500\" min=\"100\" max=\"200\"/>"),
         true, [](auto& c) { return c.frameRates == std::set<uint32_t>{15, 29}; }},
        {"a huge frame-rate range is cut", Capabilities(kH264 + std::string(kVga) + "<maxFrameRate min=\"100\" max=\"2147483647\"/>"),
         true, [](auto& c) { return c.frameRates.size() == 1000 && *c.frameRates.rbegin() == 1000; }},
        {"fixedQuality without attributes", Capabilities(kH264 + std::string(kVga) + kRate + "<fixedQuality/>"), true,
         [](auto& c) { return c.fixedQualityOptions == OneToHundred(); }},
        {"fixedQuality min above max", Capabilities(std::string("<fixedQuality min=\"90\" max=\"10\"/>")), false,
         [](auto& c) { return c.fixedQualityOptions == "90"; }},
        {"fixedQuality range", Capabilities(std::string("<fixedQuality min=\"0\" max=\"3\"/>")), false,
         [](auto& c) { return c.fixedQualityOptions == "1,2,3"; }},
        {"fixedQuality huge range is cut", Capabilities(std::string("<fixedQuality min=\"5\" max=\"2147483647\"/>")), false,
         [](auto& c) { return c.fixedQualityOptions.substr(0, 6) == "5,6,7," && c.fixedQualityOptions.size() > 500 &&
                              c.fixedQualityOptions.substr(c.fixedQualityOptions.size() - 5) == ",1004"; }},
        {"fixedQuality opt taken as is", Capabilities(std::string("<fixedQuality opt=\" 1, 2\" min=\"1\" max=\"2\"/>")),
         false, [](auto& c) { return c.fixedQualityOptions == " 1, 2"; }},
        {"rtspPort 0 is 554", Capabilities("", "<rtspPortNo>0</rtspPortNo>"), false,
         [](auto& c) { return c.rtspPort == 554; }},
        {"rtspPort untrimmed", Capabilities("", "<rtspPortNo>8554 </rtspPortNo>"), false,
         [](auto& c) { return c.rtspPort == 554; }},
        {"no codec stops before the resolutions",
         Capabilities("<videoCodecType opt=\"H.265\"/>" + std::string(kVga) + kRate +
                      "<constantBitRate min=\"1\" max=\"2\"/><videoQualityControlType opt=\"VBR\"/>"),
         false,
         [](auto& c) {
             return c.codecs.empty() && c.resolutions.empty() && c.frameRates == std::set<uint32_t>{77} &&
                    c.cbrMin == 1 && c.cbrMax == 2 && c.qualityControlTypes == "VBR";
         }},
        {"a negative bound counts as missing", Capabilities(std::string("<fixedQuality min=\"-5\" max=\"-1\"/>")),
         false, [](auto& c) { return c.fixedQualityOptions == OneToHundred(); }},
        {"no height list gives no resolution",
         Capabilities(kH264 + std::string("<videoResolutionWidth opt=\"640\"/>") + kRate), false,
         [](auto& c) { return c.codecs.size() == 1 && c.resolutions.empty() && c.frameRates == std::set<uint32_t>{77}; }},
        {"no frame rate", Capabilities(kH264 + std::string(kVga) + "<maxFrameRate opt=\"50,99\" min=\"100\" max=\"900\"/>"),
         false, [](auto& c) { return c.resolutions.size() == 1 && c.frameRates.empty(); }},
        {"frame rate range upside down",
         Capabilities(kH264 + std::string(kVga) + "<maxFrameRate min=\"3000\" max=\"100\"/>"), false,
         [](auto& c) { return c.frameRates.empty(); }},
    };
    for (const Case& c : cases) {
        ChannelCapabilities caps;
        caps.frameRates = {77};
        EXPECT_EQ(ParseCapabilities(c.body, caps), c.result) << c.what;
        EXPECT_TRUE(c.check(caps)) << c.what << "\n" << FormatCapabilities(caps);
    }
}

TEST(PsiaParsers, DeviceInfoAndStatus) {
    PsiaDeviceInfo info;
    ASSERT_TRUE(ParseDeviceInfo(
        "<DeviceInfo version=\"1.0\" xmlns=\"urn:psialliance-org\"><deviceName>Front door</deviceName>"
        "<deviceID>c4a9</deviceID><model>Camsim-PSIA</model><serialNumber>1</serialNumber>"
        "<macAddress>02:00:00:00:00:01</macAddress><firmwareVersion> 1.0.0</firmwareVersion></DeviceInfo>",
        info));
    EXPECT_EQ(std::make_tuple(info.deviceName, info.deviceID, info.model, info.macAddress, info.firmwareVersion),
              std::make_tuple("Front door", "c4a9", "Camsim-PSIA", "02:00:00:00:00:01", " 1.0.0"));
    ASSERT_TRUE(ParseDeviceInfo("<DeviceInfo><model/></DeviceInfo>", info));
    EXPECT_EQ(info.model, "");
    EXPECT_EQ(info.deviceName, "");

    struct Case {
        const char* body;
        int32_t code;
        const char* text;
    } cases[] = {
        {"<ResponseStatus xmlns=\"urn:psialliance-org\"><requestURL>/x</requestURL><statusCode>7</statusCode>"
         "<statusString>Reboot Required</statusString></ResponseStatus>",
         7, "Reboot Required"},
        {"<ResponseStatus><statusCode>-3</statusCode></ResponseStatus>", -3, ""},
        {"<ResponseStatus><statusCode>1 </statusCode><statusString>OK</statusString></ResponseStatus>", 0, "OK"},
        {"<ResponseStatus><statusString>OK</statusString></ResponseStatus>", 0, "OK"},
        {"<Other><statusCode>1</statusCode></Other>", 0, ""},
    };
    for (const Case& c : cases) {
        ResponseStatus status;
        status.statusCode = 99;
        ASSERT_TRUE(ParseResponseStatus(c.body, status)) << c.body;
        EXPECT_EQ(status.statusCode, c.code) << c.body;
        EXPECT_EQ(status.statusString, c.text) << c.body;
    }
}

TEST(PsiaParsers, PortStatusIsInactiveOnlyForTheExactWord) {
    struct Case {
        const char* state;
        bool inactive;
    } cases[] = {{"<ioState>inactive</ioState>", true}, {"<ioState>active</ioState>", false},
                 {"<ioState>Inactive</ioState>", false}, {"<ioState>inactive </ioState>", false}, {"", false}};
    for (const Case& c : cases) {
        bool inactive = !c.inactive;
        std::string body = std::string("<IOPortStatus xmlns=\"urn:psialliance-org\"><inputIOPortID>0</inputIOPortID>") +
                           c.state + "</IOPortStatus>";
        ASSERT_TRUE(ParseIOPortStatus(body, inactive)) << c.state;
        EXPECT_EQ(inactive, c.inactive) << c.state;
    }
}

TEST(PsiaParsers, PortLists) {
    IOPortLists ports;
    ASSERT_TRUE(ParseIOPortList(
        "<IOPortList xmlns=\"urn:psialliance-org\"><IOInputPortList>"
        "<IOInputPort><id>1</id></IOInputPort><IOInputPort><id>in2</id></IOInputPort><IOInputPort><id>3</id>"
        "</IOInputPort></IOInputPortList><IOOutputPortList><IOOutputPort><id>7</id></IOOutputPort>"
        "</IOOutputPortList></IOPortList>",
        ports));
    EXPECT_EQ(ports.inputs, (std::vector<uint32_t>{1, 0, 3}));
    EXPECT_EQ(ports.outputs, (std::vector<uint32_t>{7}));

    ASSERT_TRUE(ParseIOInputPortList(
        "<IOInputPortList><IOInputPort><id>4</id></IOInputPort><IOInputPort><id>5</id></IOInputPort></IOInputPortList>",
        ports));
    EXPECT_EQ(ports.inputs, (std::vector<uint32_t>{4, 5}));
    EXPECT_EQ(ports.outputs, (std::vector<uint32_t>{7}));
    ASSERT_TRUE(ParseIOOutputPortList("<IOOutputPortList><IOOutputPort><id>2</id></IOOutputPort></IOOutputPortList>",
                                      ports));
    EXPECT_EQ(ports.inputs, (std::vector<uint32_t>{4, 5}));
    EXPECT_EQ(ports.outputs, (std::vector<uint32_t>{2}));
    // The combined list's paths do not match the single lists.
    ASSERT_TRUE(ParseIOInputPortList("<IOPortList><IOInputPortList><IOInputPort><id>4</id></IOInputPort>"
                                     "</IOInputPortList></IOPortList>",
                                     ports));
    EXPECT_TRUE(ports.inputs.empty());
}

TEST(PsiaParsers, UnreadableBodiesLeaveRecordsAloneButEmptyPortLists) {
    const char* bodies[] = {"", "not xml", "<a><b></a>", "<a/><b/>", "<a x=\"1\" x=\"2\"/>", "<a/>tail"};
    for (const char* body : bodies) {
        StreamingChannelSettings settings = StreamingChannelSettings::ListEntry(5);
        EXPECT_FALSE(ParseStreamingChannel(body, settings)) << body;
        EXPECT_EQ(Fields(settings), Fields(StreamingChannelSettings::ListEntry(5))) << body;

        std::vector<StreamingChannelSettings> list(2);
        EXPECT_FALSE(ParseStreamingChannelList(body, list)) << body;
        EXPECT_EQ(list.size(), 2u);

        ChannelCapabilities caps;
        caps.codecs = {16};
        caps.rtspPort = 1;
        EXPECT_FALSE(ParseCapabilities(body, caps)) << body;
        EXPECT_EQ(caps.codecs, std::vector<uint32_t>{16});
        EXPECT_EQ(caps.rtspPort, 1u);

        PsiaDeviceInfo info;
        info.model = "m";
        EXPECT_FALSE(ParseDeviceInfo(body, info)) << body;
        EXPECT_EQ(info.model, "m");

        ResponseStatus status;
        status.statusCode = 1;
        EXPECT_FALSE(ParseResponseStatus(body, status)) << body;
        EXPECT_EQ(status.statusCode, 1);

        bool inactive = true;
        EXPECT_FALSE(ParseIOPortStatus(body, inactive)) << body;
        EXPECT_TRUE(inactive);

        IOPortLists ports;
        ports.inputs = {1};
        ports.outputs = {2};
        EXPECT_FALSE(ParseIOPortList(body, ports)) << body;
        EXPECT_TRUE(ports.inputs.empty() && ports.outputs.empty()) << body;
        ports.inputs = {1};
        ports.outputs = {2};
        EXPECT_FALSE(ParseIOInputPortList(body, ports)) << body;
        EXPECT_TRUE(ports.inputs.empty());
        EXPECT_EQ(ports.outputs, std::vector<uint32_t>{2});
        ports.inputs = {1};
        EXPECT_FALSE(ParseIOOutputPortList(body, ports)) << body;
        EXPECT_TRUE(ports.outputs.empty());
        EXPECT_EQ(ports.inputs, std::vector<uint32_t>{1});
    }
}

TEST(CapabilityText, FormatsSixFieldsAndReadsThemBack) {
    ChannelCapabilities c;
    c.channelId = 101;
    c.rtspPort = 8554;
    c.qualityControlTypes = "CBR,VBR";
    c.cbrMin = 64;
    c.cbrMax = 8192;
    c.fixedQualityOptions = "20,40,60";
    c.codecs = {16};
    EXPECT_EQ(FormatCapabilities(c), "101;8554;CBR,VBR;64;8192;20,40,60");

    ChannelCapabilities read;
    ParseCapabilityText(FormatCapabilities(c), read);
    EXPECT_EQ(std::make_tuple(read.channelId, read.rtspPort, read.qualityControlTypes, read.cbrMin, read.cbrMax,
                              read.fixedQualityOptions),
              std::make_tuple(101u, 8554u, std::string("CBR,VBR"), 64u, 8192u, std::string("20,40,60")));
    EXPECT_TRUE(read.codecs.empty());

    // The channel id adds to what the record holds.
    ParseCapabilityText("1;x;;+5; 9;", read);
    EXPECT_EQ(read.channelId, 101u);  // five pieces: ignored
    ParseCapabilityText("1;x;;+5; 9;a b", read);
    EXPECT_EQ(read.channelId, 102u);
    EXPECT_EQ(read.rtspPort, 0u);
    EXPECT_EQ(read.qualityControlTypes, "");
    EXPECT_EQ(read.cbrMin, 5u);
    EXPECT_EQ(read.cbrMax, 0u);
    EXPECT_EQ(read.fixedQualityOptions, "a b");
}

TEST(CapabilityText, OtherFieldCountsChangeNothing) {
    ChannelCapabilities empty;
    EXPECT_EQ(FormatCapabilities(empty), "0;554;;0;0;");
    const char* texts[] = {"", "0;554;;0;0;", "1;2;3;4;5;6;7", "1;2;3;4;5", ";;;;;", "1;2;3;4;5;6;;"};
    for (const char* text : texts) {
        ChannelCapabilities c;
        ParseCapabilityText(text, c);
        EXPECT_EQ(c.channelId, 0u) << text;
        EXPECT_EQ(c.rtspPort, 554u) << text;
    }
}

}  // namespace
