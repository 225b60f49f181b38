#include "driver/config_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/process.h"

namespace {

using telvaro::GetRtpMode;

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        driverName = std::string("OmbrelixCfg_") + info->name() + "_" + std::to_string(getpid());
        path = telvaro::platform::ExecutableDirectory() + driverName + ".xml";
        device.address = "10.1.2.3";
        device.port = 8080;
        other.address = "10.9.9.9";
        other.port = 80;
    }
    void TearDown() override { std::remove(path.c_str()); }

    void Write(const std::string& text) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
    }
    int32_t Mode(const telvaro::DEVICE_INFO& d, uint32_t channel) { return GetRtpMode(d, channel, driverName); }

    std::string driverName;
    std::string path;
    telvaro::DEVICE_INFO device;
    telvaro::DEVICE_INFO other;
};

const char kGeneral[] =
    "<Device><VideoChannel><RTPMode>RTPoverTCP</RTPMode></VideoChannel></Device>";

TEST_F(ConfigFileTest, NoFileMeansUdp) {
    EXPECT_EQ(Mode(device, 0), 0);
    EXPECT_EQ(Mode(device, 3), 0);
    Write("<Configuration><Device>");  // not well-formed
    EXPECT_EQ(Mode(device, 0), 0);
}

TEST_F(ConfigFileTest, ADeviceWithoutAttributesAppliesToEveryDevice) {
    Write(std::string("<Configuration>") + kGeneral + "</Configuration>");
    for (uint32_t channel : {0u, 1u, 7u}) {
        EXPECT_EQ(Mode(device, channel), 1) << channel;
        EXPECT_EQ(Mode(other, channel), 1) << channel;
    }
}

TEST_F(ConfigFileTest, TheMostSpecificEntryWins) {
    Write(std::string("<?xml version=\"1.0\"?>\n<Configuration>") + kGeneral +
          "<Device address=\"10.1.2.3\" port=\"8080\">"
          "<VideoChannel id=\"1\"><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>"
          "</Device></Configuration>");
    struct Case {
        bool ownDevice;
        uint32_t channel;
        int32_t mode;
    } cases[] = {
        {true, 1, 2},   // its own channel entry
        {true, 0, 2},   // any channel under its own device entry
        {false, 0, 1},  // the first channel entry in the file
        {false, 1, 2},  // channel 1 under any device
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Mode(c.ownDevice ? device : other, c.channel), c.mode) << c.ownDevice << " " << c.channel;
    }
    telvaro::DEVICE_INFO samePortDiffers = device;
    samePortDiffers.port = 80;
    EXPECT_EQ(Mode(samePortDiffers, 0), 1);
}

TEST_F(ConfigFileTest, ModeNamesMatchExactly) {
    struct Case {
        const char* text;
        int32_t mode;
    } cases[] = {
        {"RTPoverUDP", 0}, {"RTPoverTCP", 1}, {"RTPoverRTSP", 2}, {"rtpovertcp", 0},
        {"RTPOVERRTSP", 0}, {" RTPoverTCP", 0}, {"", 0},          {"RTPoverHTTP", 0},
    };
    for (const auto& c : cases) {
        Write(std::string("<Configuration><Device><VideoChannel><RTPMode>") + c.text +
              "</RTPMode></VideoChannel></Device></Configuration>");
        EXPECT_EQ(Mode(device, 0), c.mode) << c.text;
    }
}

TEST_F(ConfigFileTest, OnlyTheChosenEntryIsRead) {
    Write(std::string("<Configuration>") + kGeneral +
          "<Device address=\"10.1.2.3\" port=\"8080\"><VideoChannel id=\"0\"/></Device></Configuration>");
    EXPECT_EQ(Mode(device, 0), 0);
    EXPECT_EQ(Mode(device, 1), 0);  // step two takes the device's channel entry without RTPMode
    EXPECT_EQ(Mode(other, 0), 0);   // the id 0 entry under any device has no RTPMode either
    EXPECT_EQ(Mode(other, 1), 1);
}

TEST_F(ConfigFileTest, EditsTakeEffectAtTheNextCall) {
    Write(std::string("<Configuration>") + kGeneral + "</Configuration>");
    EXPECT_EQ(Mode(device, 0), 1);
    Write("<Configuration><Device><VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel></Device>"
          "</Configuration>");
    EXPECT_EQ(Mode(device, 0), 2);
    std::remove(path.c_str());
    EXPECT_EQ(Mode(device, 0), 0);
}

TEST_F(ConfigFileTest, AnAddressNeverChangesWhatThePathMeans) {
    Write(std::string("<Configuration>") + kGeneral +
          "<Device address=\"x\" port=\"1\"><VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel></Device>"
          "</Configuration>");
    const char* addresses[] = {
        "\"] | //VideoChannel[@id=\"x",
        "x\"][@port=\"1\"]/VideoChannel | Configuration/Device[@address=\"x",
        "\"",
        "a\"b",
    };
    for (const char* address : addresses) {
        telvaro::DEVICE_INFO hostile;
        hostile.address = address;
        hostile.port = 1;
        EXPECT_EQ(Mode(hostile, 0), 1) << address;
    }
    telvaro::DEVICE_INFO zero;
    zero.address = std::string("x\0y", 3);
    zero.port = 1;
    EXPECT_EQ(Mode(zero, 0), 1);
    telvaro::DEVICE_INFO exact;
    exact.address = "x";
    exact.port = 1;
    EXPECT_EQ(Mode(exact, 0), 2);
}

}  // namespace
