// What a PSIA capability answer turns into on the host's result object.
#include "driver/psia_camera_properties.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/fake_host.h"

namespace {

using namespace telvaro;
using Lines = std::vector<std::string>;

ChannelCapabilities Record(uint32_t id, std::vector<uint32_t> codecs, std::vector<VideoResolution> sizes,
                           std::set<uint32_t> rates) {
    ChannelCapabilities c;
    c.channelId = id;
    c.rtspPort = 8554;
    c.codecs = std::move(codecs);
    c.resolutions = std::move(sizes);
    c.frameRates = std::move(rates);
    c.qualityControlTypes = "CBR,VBR";
    c.cbrMin = 64;
    c.cbrMax = 4096;
    c.fixedQualityOptions = "10,50,90";
    return c;
}

DEVICE_INFO Device() {
    DEVICE_INFO device;
    device.address = "10.1.2.3";
    device.port = 8080;
    device.userName = "operator";
    device.password = "secret";
    return device;
}

// Only the value lines with the codec keys 6, 7 and 8.
Lines CodecLines(const Lines& calls) {
    Lines out;
    for (const std::string& line : calls) {
        if (line == "SetValue 6 1" || line == "SetValue 7 1" || line == "SetValue 8 1") out.push_back(line);
    }
    return out;
}

TEST(PSIACameraProperties, SaveWritesEveryAnswerInOrder) {
    CPSIACameraProperties properties(Device(), 1);
    properties.name = "PSIA PX-1";
    properties.videoChannel = 1;
    properties.outputCount = 3;
    properties.capabilities.push_back(Record(101, {kCodecH264, kCodecJpeg}, {{1280, 720}, {640, 480}}, {10, 12, 30}));
    properties.capabilities.push_back(Record(102, {kCodecMpeg4, kCodecH264}, {{640, 480}, {320, 240}}, {50, 60}));
    fakes::FakeCapabilityResults results;
    ASSERT_TRUE(properties.Save(&results));

    // 640x480 takes the higher rate of the two channels offering it; rates
    // above 31 get their interval too. The default is the third of five.
    Lines expected = {
        "FrameIntervalList 1",
        "Interval 100",
        "Interval 83",
        "Interval 33",
        "IntervalDefault 33",
        "Interval 20",
        "Interval 17",
        "SetName PSIA PX-1",
        "SetValue 0 1",
        "SetValue 3 3",
        "SetValue 11 0",
        "SetValue 12 0",
        "SetValue 7 1",
        "SetValue 6 1",
        "SetValue 8 1",
        "Resolution 320x240 320 240 17",
        "Resolution 640x480 640 480 17",
        "Resolution 1280x720 1280 720 33",
        "Field 1 10.1.2.3",
        "Field 2 8080",
        "Field 3 operator",
        "Field 4 secret",
    };
    fakes::AddPropertyCalls(expected, 1, "Video standard", 0, "1");
    fakes::AddPropertyCalls(expected, 2, "Channel 0 capabilities", 1, "101;8554;CBR,VBR;64;4096;10,50,90");
    fakes::AddPropertyCalls(expected, 3, "Channel 1 capabilities", 1, "102;8554;CBR,VBR;64;4096;10,50,90");
    EXPECT_EQ(results.Calls(), expected);
}

TEST(PSIACameraProperties, EveryHighestRateGetsItsInterval) {
    struct Case {
        uint32_t rate;
        uint32_t interval;
    } cases[] = {{1, 1000}, {3, 333}, {5, 200}, {15, 67}, {25, 40}, {30, 33}, {31, 32},
                 {32, 31},  {50, 20}, {60, 17}, {120, 8}, {2000, 1}, {3000, 1}};
    for (const Case& c : cases) {
        CPSIACameraProperties properties(Device(), 0);
        properties.capabilities.push_back(Record(1, {kCodecH264}, {{640, 480}}, {c.rate}));
        fakes::FakeCapabilityResults results;
        ASSERT_TRUE(properties.Save(&results)) << c.rate;
        Lines calls = results.Calls();
        std::string interval = std::to_string(c.interval);
        EXPECT_EQ(Lines(calls.begin(), calls.begin() + 3),
                  (Lines{"FrameIntervalList 1", "Interval " + interval, "IntervalDefault " + interval}))
            << c.rate;
        EXPECT_NE(std::find(calls.begin(), calls.end(), "Resolution 640x480 640 480 " + interval), calls.end())
            << c.rate;
    }
}

TEST(PSIACameraProperties, CodecKeysFollowTheOfferedCodecs) {
    struct Case {
        std::vector<uint32_t> codecs;
        Lines lines;
    } cases[] = {
        {{kCodecH264}, {"SetValue 8 1"}},
        {{kCodecJpeg, kCodecJpeg}, {"SetValue 7 1"}},
        {{kCodecH264, kCodecMpeg4}, {"SetValue 6 1", "SetValue 8 1"}},
        {{kCodecH264, kCodecMpeg4, kCodecJpeg}, {"SetValue 7 1", "SetValue 6 1", "SetValue 8 1"}},
        {{kCodecH264, 32}, {"SetValue 8 1"}},
    };
    for (const Case& c : cases) {
        CPSIACameraProperties properties(Device(), 0);
        properties.capabilities.push_back(Record(1, c.codecs, {{640, 480}}, {25}));
        fakes::FakeCapabilityResults results;
        ASSERT_TRUE(properties.Save(&results));
        Lines calls = results.Calls();
        EXPECT_EQ(CodecLines(calls), c.lines);
        // The last two feature flags are always sent, the others never.
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetValue 11 0"), 1);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetValue 12 0"), 1);
        for (const char* unset : {"SetValue 1 ", "SetValue 4 ", "SetValue 5 ", "SetValue 2 ", "SetValue 3 "}) {
            for (const std::string& line : calls) EXPECT_NE(line.rfind(unset, 0), 0u) << line;
        }
    }
}

TEST(PSIACameraProperties, SaveFailsWithoutSomethingToSave) {
    struct Case {
        const char* what;
        std::vector<ChannelCapabilities> records;
        bool withResults;
        Lines calls;
    } cases[] = {
        {"no record", {}, true, {}},
        {"no codec", {Record(1, {}, {{640, 480}}, {25})}, true, {}},
        {"no frame rate", {Record(1, {kCodecH264}, {{640, 480}}, {})}, true, {"FrameIntervalList 1"}},
        {"no result object", {Record(1, {kCodecH264}, {{640, 480}}, {25})}, false, {}},
    };
    for (const Case& c : cases) {
        CPSIACameraProperties properties(Device(), 0);
        properties.capabilities = c.records;
        fakes::FakeCapabilityResults results;
        EXPECT_FALSE(properties.Save(c.withResults ? &results : nullptr)) << c.what;
        EXPECT_EQ(results.Calls(), c.calls) << c.what;
    }
}

TEST(PSIACameraProperties, ResolutionsAreListedOncePerSize) {
    CCameraProperties properties;
    CCameraProperties::Resolution entry;
    entry.width = 640;
    entry.height = 480;
    entry.intervals = {40};
    properties.AddResolution(entry);
    entry.intervals = {20};
    properties.AddResolution(entry);
    entry.width = 0;
    properties.AddResolution(entry);
    properties.AddResolution(entry);
    ASSERT_EQ(properties.resolutions.size(), 3u);
    EXPECT_EQ(properties.resolutions[0].intervals, std::vector<uint32_t>{40});
    EXPECT_EQ(properties.resolutions[2].width, 0u);
}

}  // namespace
