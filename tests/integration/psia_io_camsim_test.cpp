// The digital I/O object against the simulated camera.
#include <gtest/gtest.h>

#include <string>

#include "camsim/camera.h"
#include "io/psia_io.h"
#include "support/fake_driver.h"
#include "support/wait_until.h"

namespace {

// Against the simulated camera: its inputs and outputs through the driver's
// own PSIA client.
TEST(PsiaIOCamsim, InputChangesAndOutputTriggersReachTheCamera) {
    camsim::CameraConfig config;
    config.inputs = 2;
    config.outputs = 2;
    camsim::Camera camera(config);
    std::string error;
    ASSERT_TRUE(camera.Start(&error)) << error;
    fakes::FakeDriver driver;
    telvaro::DEVICE_INFO info;
    info.address = "127.0.0.1";
    info.port = camera.HttpPort();
    info.userName = config.user;
    info.password = config.password;
    driver.SetDeviceInfo(info);
    driver.inputs = 2;
    driver.outputs = 2;
    fakes::FakeIOEventSink sink;
    telvaro::CPSIAIO io(&driver);
    io.SetEventSink(&sink);
    ASSERT_TRUE(io.Start());
    ASSERT_EQ(sink.Events().size(), 2u);
    EXPECT_EQ(sink.Events()[1].state, camera.InputActive(1) ? 2u : 1u);
    camera.SetInput(1, !camera.InputActive(1));
    ASSERT_TRUE(sink.WaitForEvents(3, 4000));
    EXPECT_EQ(sink.Events()[2].index, 1u);
    ASSERT_TRUE(io.SetOutput(1, 2));
    ASSERT_TRUE(fakes::WaitUntil([&] { return camera.OutputTriggers().size() >= 3; }, 5000));
    io.Stop();
    camera.Stop();
    auto triggers = camera.OutputTriggers();
    ASSERT_EQ(triggers.size(), 3u);
    EXPECT_EQ(triggers[2].id, 1u);
    EXPECT_FALSE(triggers[2].high);
    EXPECT_EQ(sink.Failures(), 0);
}

}  // namespace
