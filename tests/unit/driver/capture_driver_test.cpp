#include "driver/ombrelix_driver.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "channel/common_channel_rtsp.h"
#include "driver/debug_info.h"
#include "support/fake_host.h"

namespace {

using telvaro::COmbrelixDriver;
using telvaro::GradeMessageLevel;
using telvaro::HostVersion;

HostVersion V(uint16_t major, uint16_t minor, uint16_t build = 0, uint16_t revision = 0) {
    HostVersion v;
    v.major = major;
    v.minor = minor;
    v.build = build;
    v.revision = revision;
    return v;
}

TEST(DebugGrading, FollowsTheHostVersion) {
    struct Case {
        HostVersion host;
        int32_t type;
        uint8_t level;
    } cases[] = {
        {V(5, 11, 9, 9), 1, 1},  {V(5, 11, 9, 9), 3, 2},   {V(5, 11, 9, 9), 100, 2},
        {V(4, 99), 3, 2},        {V(5, 12), 1, 1},         {V(5, 12), 3, 3},
        {V(5, 12), 100, 3},      {V(6, 2, 65535, 1), 100, 3}, {V(6, 2), 3, 3},
        {V(6, 3), 100, 100},     {V(6, 3), 3, 3},          {V(7, 0), 100, 100},
        {V(7, 0), 1, 1},         {V(5, 11), 0x105, 5},     {V(6, 3), 0x164, 100},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GradeMessageLevel(c.type, c.host), c.level)
            << c.host.major << "." << c.host.minor << " type " << c.type;
    }
}

class DriverTest : public ::testing::Test {
protected:
    bool Open() { return driver.Open(&sink, &allocator, &device); }

    fakes::FakeDebugSink sink;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    COmbrelixDriver driver;
};

TEST_F(DriverTest, OpenCopiesTheDeviceAndWritesTheOpenedLine) {
    device.connection.address = "10.0.0.5";
    device.connection.port = 8080;
    device.connection.user = "admin";
    device.connection.password = "secret";
    device.connection.codec = fakes::kCodecMpeg4;
    device.model.model = "Cam 100% HD";
    device.model.channels = 4;
    device.model.inputs = 2;
    device.model.outputs = 3;
    device.parameters[1] = "-17";
    ASSERT_TRUE(Open());

    telvaro::DEVICE_INFO info = driver.GetDeviceInfo();
    EXPECT_EQ(info.timeout, 5000u);
    EXPECT_EQ(info.noDataTimeout, 10000u);
    EXPECT_EQ(info.address, "10.0.0.5");
    EXPECT_EQ(info.port, 8080);
    EXPECT_EQ(info.userName, "admin");
    EXPECT_EQ(info.password, "secret");
    EXPECT_EQ(info.deviceModel, "Cam 100% HD");
    EXPECT_EQ(driver.GetCodecType(), 2);
    EXPECT_EQ(driver.GetChannelCount(), 4u);
    EXPECT_EQ(driver.GetIOCounts(), std::make_pair(2u, 3u));
    EXPECT_EQ(driver.GetCustomValue(), -17);
    EXPECT_EQ(driver.GetSampleAllocator(), &allocator);
    EXPECT_EQ(driver.GetName(), "Ombrelix");

    auto records = sink.Records();
    ASSERT_EQ(records.size(), 1u);
    // No host core library is loaded in this process: 5.12 is assumed.
    EXPECT_EQ(records[0].level, 3);
    EXPECT_EQ(records[0].text, "DRIVER IS OPENED (name: Ombrelix, device model: Cam 100% HD, address: 10.0.0.5:8080)");
}

TEST_F(DriverTest, ParametersStopAtTheFirstMissingIndex) {
    device.parameters = {{1, "5"}, {2, "second"}, {4, "fourth"}};
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.GetParameterText(1), "5");
    EXPECT_EQ(driver.GetParameterText(2), "second");
    EXPECT_EQ(driver.GetParameterText(3), "");
    EXPECT_EQ(driver.GetParameterText(4), "");
    EXPECT_EQ(device.parameterQueries, 3);
}

TEST_F(DriverTest, ParameterTextAndIntegerForms) {
    device.parameters = {{1, "0"},   {2, "(none)"}, {3, "(none) "}, {4, ""},
                         {5, "-"},   {6, "12a"},    {7, "-42"},     {8, "+7"},
                         {9, "2147483647"}, {10, "2147483648"}, {11, "-2147483649"},
                         {12, " 5"}, {13, "99999999999999999999"}};
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.GetParameterText(2), "");
    EXPECT_EQ(driver.GetParameterText(3), "(none) ");
    struct Case {
        int32_t index;
        int32_t value;
    } cases[] = {{2, telvaro::kNoParameterInt},  {4, telvaro::kNoParameterInt},  {5, telvaro::kNoParameterInt},
                 {6, telvaro::kNoParameterInt},  {7, -42},                       {8, 7},
                 {9, 2147483647},                {10, telvaro::kNoParameterInt}, {11, telvaro::kNoParameterInt},
                 {12, telvaro::kNoParameterInt}, {13, telvaro::kNoParameterInt}, {99, telvaro::kNoParameterInt}};
    for (const auto& c : cases) EXPECT_EQ(driver.GetParameterInt(c.index), c.value) << "parameter " << c.index;
}

TEST_F(DriverTest, OpenFailsWithoutAnIntegerParameterOne) {
    const char* bad[] = {"(none)", "", "x1", "4294967296"};
    for (const char* text : bad) {
        fakes::FakeDebugSink s;
        fakes::FakeDeviceConfig d;
        d.parameters[1] = text;
        COmbrelixDriver drv;
        EXPECT_FALSE(drv.Open(&s, &allocator, &d)) << text;
        EXPECT_EQ(s.Count(), 0u) << text;
    }
    fakes::FakeDeviceConfig none;
    none.parameters.clear();
    COmbrelixDriver drv;
    EXPECT_FALSE(drv.Open(&sink, &allocator, &none));
}

TEST_F(DriverTest, DebugMessagesAreFormattedAndTypeFourIsDropped) {
    ASSERT_TRUE(Open());
    sink.Clear();
    driver.DebugMessage(telvaro::kMessageFailure, "%s: value %u", "here", 7u);
    driver.DebugMessage(telvaro::kMessageDiscarded, "never %d", 1);
    driver.DebugMessage(telvaro::kMessageNotice, "%s", "");
    auto records = sink.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, 1);
    EXPECT_EQ(records[0].text, "here: value 7");
    EXPECT_EQ(records[1].text, "(null)");  // an empty text reaches the sink as none
}

TEST_F(DriverTest, MessagesWithoutASinkAreDropped) {
    ASSERT_TRUE(driver.Open(nullptr, &allocator, &device));
    driver.DebugMessage(telvaro::kMessageFailure, "nobody listens");
    SUCCEED();
}

TEST_F(DriverTest, ReservedAndAuxiliaryObjectsAreNone) {
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(driver.GetVideoCaptureEx(), nullptr);
    EXPECT_EQ(driver.GetCaptureIO(), nullptr);
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.GetReservedA(), nullptr);
    EXPECT_EQ(driver.GetReservedB(), nullptr);
    EXPECT_EQ(driver.GetAuxCapture(), nullptr);
    EXPECT_EQ(driver.GetAuxCaptureEx(), nullptr);
    driver.Close();
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(driver.GetCaptureIO(), nullptr);
    // Parameters survive Close.
    EXPECT_EQ(driver.GetParameterText(1), "0");
}

TEST(DriverChannels, TheFactoryMakesTheChannelOfTheDevicesCodec) {
    struct Case {
        int32_t codec;
        const char* expected;  // codec name of the channel, or null for none
    } cases[] = {{0, nullptr}, {1, "MJPEG"}, {2, "MPEG4"}, {3, "H.264"}, {4, nullptr}};
    for (const auto& c : cases) {
        fakes::FakeDebugSink sink;
        fakes::FakeSampleAllocator allocator;
        fakes::FakeDeviceConfig device;
        device.connection.codec = c.codec;
        COmbrelixDriver driver;
        ASSERT_TRUE(driver.Open(&sink, &allocator, &device));
        fakes::FakeStreamSink streamSink;
        std::unique_ptr<telvaro::ICameraChannel> channel(driver.CreateChannel(0, &streamSink));
        if (!c.expected) {
            EXPECT_EQ(channel, nullptr) << c.codec;
            continue;
        }
        auto* codecChannel = dynamic_cast<telvaro::CCommonChannelRTSP*>(channel.get());
        ASSERT_NE(codecChannel, nullptr) << c.codec;
        EXPECT_EQ(codecChannel->GetCodecName(), c.expected);
    }
}

TEST(DebugInfo, CopiesItsText) {
    std::string text = "copy me";
    telvaro::CDebugInfo info(7, text.c_str());
    text[0] = 'X';
    EXPECT_STREQ(info.GetText(), "copy me");
    EXPECT_EQ(info.GetLevel(), 7);
    telvaro::CDebugInfo empty(1, "");
    EXPECT_EQ(empty.GetText(), nullptr);
    telvaro::CDebugInfo none(1, nullptr);
    EXPECT_EQ(none.GetText(), nullptr);
}

// The host's core library, loaded under a versioned file name, grades the
// opened line; a library without a version in its name counts as missing.
TEST(HostVersion, ReadFromTheLoadedCoreLibrary) {
    struct Case {
        const char* fileName;
        uint8_t openedLevel;
    } cases[] = {
        {"libbrannock.so.5.11.9.9", 2}, {"libbrannock.so.5.12.0.0", 3}, {"libbrannock.so.6.2.1.0", 3},
        {"libbrannock.so.6.3.0.0", 100}, {"libbrannock.so.7.0.0.0", 100}, {"libbrannock.so", 3},
    };
    char dirTemplate[] = "/tmp/ombrelix-host-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    std::string dir = dirTemplate;
    for (const auto& c : cases) {
        std::string target = dir + "/" + c.fileName;
        std::string link = dir + "/libbrannock.so";
        std::string copy = std::string("cp '") + OMBRELIX_BRANNOCK_STUB + "' '" + target + "'";
        ASSERT_EQ(std::system(copy.c_str()), 0);
        // Loaded through an unversioned link, as a host would; the version
        // comes from the resolved name.
        if (std::string(c.fileName) != "libbrannock.so") {
            unlink(link.c_str());
            ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        }
        void* handle = dlopen(link.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();

        fakes::FakeDebugSink sink;
        fakes::FakeSampleAllocator allocator;
        fakes::FakeDeviceConfig device;
        COmbrelixDriver driver;
        ASSERT_TRUE(driver.Open(&sink, &allocator, &device));
        auto records = sink.Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, c.openedLevel) << c.fileName;

        dlclose(handle);
        unlink(link.c_str());
        unlink(target.c_str());
    }
    rmdir(dir.c_str());
}

}  // namespace
