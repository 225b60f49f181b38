// The PSIA client against the camera simulator, with Digest authentication.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "camsim/camera.h"
#include "psia/capability_text.h"
#include "psia/common_client.h"
#include "support/psia_test_records.h"

namespace {

using namespace telvaro;
namespace fs = std::filesystem;

class CommonClientCamsim : public ::testing::Test {
protected:
    void SetUp() override {
        // Two clips of known sizes, so that the offered resolutions are known.
        clips = fs::temp_directory_path() / ("psia_client_clips_" + std::to_string(getpid()));
        fs::create_directories(clips);
        for (const char* name : {"h264_baseline_640x480.h264", "jpeg420_1280x720.mjpeg"}) {
            fs::create_symlink(fs::path(OMBRELIX_TESTDATA_DIR) / name, clips / name);
        }
    }
    void TearDown() override {
        client.Disconnect();  // closes the kept-alive connection, so the camera stops at once
        if (camera) camera->Stop();
        std::error_code ignored;
        fs::remove_all(clips, ignored);
    }

    void Start(camsim::CameraConfig config = camsim::CameraConfig()) {
        config.clipFolder = clips.string();
        camera = std::make_unique<camsim::Camera>(config);
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
        device.address = "127.0.0.1";
        device.port = camera->HttpPort();
        device.timeout = 2000;
        device.userName = config.user;
        device.password = config.password;
        ASSERT_TRUE(client.Connect(device));
    }

    std::vector<std::string> HttpLines() {
        std::vector<std::string> lines;
        for (const auto& r : camera->Requests()) {
            if (r.protocol == camsim::LoggedRequest::Protocol::Http) lines.push_back(r.method + " " + r.target);
        }
        return lines;
    }

    fs::path clips;
    std::unique_ptr<camsim::Camera> camera;
    DEVICE_INFO device;
    CCommonClient client;
};

TEST_F(CommonClientCamsim, ReadsWhatTheCameraOffers) {
    camsim::CameraConfig config;
    config.channels.resize(2);
    config.channels[1].id = 2;
    config.channels[1].codec = camsim::Codec::Mjpeg;
    config.inputs = 3;
    config.outputs = 1;
    Start(config);

    PsiaDeviceInfo info;
    ASSERT_TRUE(client.QueryDeviceInfo(info));
    EXPECT_EQ(info.deviceName, "camsim");
    EXPECT_EQ(info.model, "Camsim-PSIA");
    EXPECT_EQ(info.macAddress, "02:00:00:00:00:01");
    EXPECT_EQ(info.firmwareVersion, "1.0.0");
    EXPECT_FALSE(info.deviceID.empty());

    std::vector<StreamingChannelSettings> channels;
    ASSERT_TRUE(client.GetStreamingChannels(channels));
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[0].id, 1u);
    EXPECT_EQ(channels[1].id, 2u);

    StreamingChannelSettings second;
    ASSERT_TRUE(client.GetStreamingChannel(2, second));
    EXPECT_EQ(psia_test::Fields(second), std::make_tuple(2u, true, true, 0u, std::string("MJPEG"), 640u, 480u,
                                                         std::string("VBR"), 2048u, 60u, 2500u, 1000u));

    ChannelCapabilities caps;
    caps.channelId = channels[0].id;
    ASSERT_TRUE(client.GetChannelCapabilities(caps.channelId, caps));
    EXPECT_EQ(caps.codecs, (std::vector<uint32_t>{kCodecH264, kCodecMpeg4, kCodecJpeg}));
    EXPECT_EQ(psia_test::Pairs(caps.resolutions), (std::vector<std::pair<uint32_t, uint32_t>>{{1280, 720}, {640, 480}}));
    EXPECT_EQ(caps.frameRates, (std::set<uint32_t>{5, 15, 25}));
    std::string text = FormatCapabilities(caps);
    EXPECT_EQ(text, "1;" + std::to_string(camera->RtspPort()) + ";CBR,VBR;64;8192;20,40,60,80,100");
    ChannelCapabilities read;
    ParseCapabilityText(text, read);
    EXPECT_EQ(FormatCapabilities(read), text);

    IOPortLists ports;
    ASSERT_TRUE(client.GetIOPorts(ports));
    EXPECT_EQ(ports.inputs, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(ports.outputs, (std::vector<uint32_t>{0}));

    EXPECT_FALSE(client.GetStreamingChannel(9, second));
    EXPECT_EQ(second.id, 2u);
}

TEST_F(CommonClientCamsim, SetStreamingChannelChangesTheChannel) {
    Start();
    struct Case {
        camsim::ChannelPutFault fault;
        bool result;
        bool changed;
        std::vector<std::string> requests;
        uint32_t reboots;
    } cases[] = {
        {camsim::ChannelPutFault::None, true, true, {"PUT /PSIA/Streaming/channels/1"}, 0},
        {camsim::ChannelPutFault::RebootRequired, true, true,
         {"PUT /PSIA/Streaming/channels/1", "GET /PSIA/System/reboot"}, 1},
        {camsim::ChannelPutFault::NotFound, true, true,
         {"PUT /PSIA/Streaming/channels/1", "PUT /PSIA/Streaming/channels"}, 0},
        {camsim::ChannelPutFault::MethodNotAllowed, true, true,
         {"PUT /PSIA/Streaming/channels/1", "PUT /PSIA/Streaming/channels"}, 0},
        {camsim::ChannelPutFault::InvalidOperation, false, false, {"PUT /PSIA/Streaming/channels/1"}, 0},
    };
    uint32_t width = 320;
    for (const Case& c : cases) {
        StreamingChannelSettings before;
        ASSERT_TRUE(client.GetStreamingChannel(1, before));
        StreamingChannelSettings wanted = before;
        wanted.videoCodecType = "MPEG4";
        wanted.videoResolutionWidth = width;
        wanted.videoResolutionHeight = width * 3 / 4;
        wanted.fixedQuality = 80;
        wanted.maxFrameRate = 1500;
        width += 16;

        camera->GetFaults().channelPut = c.fault;
        camera->ClearRequests();
        uint32_t reboots = camera->Reboots();
        EXPECT_EQ(client.SetStreamingChannel(wanted), c.result);
        EXPECT_EQ(HttpLines(), c.requests);
        EXPECT_EQ(camera->Reboots() - reboots, c.reboots);
        camera->GetFaults().channelPut = camsim::ChannelPutFault::None;

        StreamingChannelSettings after;
        ASSERT_TRUE(client.GetStreamingChannel(1, after));
        if (c.changed) {
            // The list document carries no bit rate and its own key-frame interval.
            if (c.requests.size() > 1 && c.requests[1] == "PUT /PSIA/Streaming/channels") {
                wanted.keyFrameInterval = 15 * 33;
            }
            EXPECT_EQ(psia_test::Fields(after), psia_test::Fields(wanted));
        } else {
            EXPECT_EQ(psia_test::Fields(after), psia_test::Fields(before));
        }
    }
}

TEST_F(CommonClientCamsim, DigitalInputsAndOutputs) {
    Start();
    ASSERT_TRUE(camera->SetInput(1, true));
    bool inactive = false;
    ASSERT_TRUE(client.GetInputInactive(0, inactive));
    EXPECT_TRUE(inactive);
    ASSERT_TRUE(client.GetInputInactive(1, inactive));
    EXPECT_FALSE(inactive);
    EXPECT_FALSE(client.GetInputInactive(5, inactive));

    EXPECT_TRUE(client.TriggerOutput(1, true));
    EXPECT_TRUE(client.TriggerOutput(0, false));
    EXPECT_FALSE(client.TriggerOutput(7, true));
    auto triggers = camera->OutputTriggers();
    ASSERT_EQ(triggers.size(), 2u);
    EXPECT_EQ(triggers[0].id, 1u);
    EXPECT_TRUE(triggers[0].high);
    EXPECT_EQ(triggers[1].id, 0u);
    EXPECT_FALSE(triggers[1].high);

    camera->GetFaults().ioPortListMissing = true;
    IOPortLists ports;
    ASSERT_TRUE(client.GetIOPorts(ports));
    EXPECT_EQ(ports.inputs, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(ports.outputs, (std::vector<uint32_t>{0, 1}));

    camera->GetFaults().ioFailure = true;
    ASSERT_TRUE(client.GetIOPorts(ports));
    EXPECT_TRUE(ports.inputs.empty());
    EXPECT_TRUE(ports.outputs.empty());
    EXPECT_FALSE(client.GetInputInactive(0, inactive));
}

}  // namespace
