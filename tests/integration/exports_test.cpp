// The library driven only through its exported entry points, as a host does.
#include <gtest/gtest.h>

#include <string>

#include "ombrelix/exports.h"
#include "support/fake_host.h"
#include "hostkit/driver_library.h"

namespace {

using namespace ombrelix_abi;
using telvaro::ipcapture::IIPCaptureDriver;

class ExportsTest : public ::testing::Test {
protected:
    ExportsTest() : library(OMBRELIX_LIBRARY_PATH) {}
    hostkit::DriverLibrary library;
};

TEST_F(ExportsTest, EveryEntryPointIsFound) {
    ASSERT_TRUE(library.Loaded()) << library.Error();
    for (const char* name : {"CreateIPCapture", "CreateIPCaptureEx", "CreateIPCaptureEx2", "CreateIPCaptureEx3",
                             "DeleteIPCapture", "DeleteIPCaptureEx", "DeleteIPCaptureEx2", "DeleteIPCaptureEx3",
                             "InitCapabilityQuery", "StartCapabilityQuery", "TerminateCapabilityQuery",
                             "UninitCapabilityQuery"}) {
        EXPECT_NE(library.Symbol(name), nullptr) << name;
    }
    // Internal classes stay inside.
    EXPECT_EQ(library.Symbol("_ZN7telvaro15COmbrelixDriverC1Ev"), nullptr);
}

TEST_F(ExportsTest, CreateOpenCloseDeleteThroughEachGeneration) {
    ASSERT_TRUE(library.Loaded()) << library.Error();
    auto create = library.Get<CreateIPCaptureFn>("CreateIPCapture");
    auto createEx = library.Get<CreateIPCaptureExFn>("CreateIPCaptureEx");
    auto createEx2 = library.Get<CreateIPCaptureEx2Fn>("CreateIPCaptureEx2");
    auto createEx3 = library.Get<CreateIPCaptureEx3Fn>("CreateIPCaptureEx3");
    auto del = library.Get<DeleteIPCaptureFn>("DeleteIPCapture");
    auto delEx3 = library.Get<DeleteIPCaptureEx3Fn>("DeleteIPCaptureEx3");

    // Every generation is the same kind of object; any delete takes any of them.
    IIPCaptureDriver* drivers[] = {create(), createEx(), createEx2(), createEx3()};
    for (IIPCaptureDriver* d : drivers) ASSERT_NE(d, nullptr);
    for (int i = 0; i < 3; ++i) del(drivers[i]);

    telvaro::ipcapture::IIPCaptureDriverEx3* driver = static_cast<telvaro::ipcapture::IIPCaptureDriverEx3*>(drivers[3]);
    EXPECT_EQ(driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver->GetCaptureIO(), nullptr);

    fakes::FakeDebugSink sink;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    device.connection.address = "192.0.2.10";
    device.model.model = "Model %s %d";
    ASSERT_TRUE(driver->Open(&sink, &allocator, &device));
    auto records = sink.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "DRIVER IS OPENED (name: Ombrelix, device model: Model %s %d, address: 192.0.2.10:80)");
    EXPECT_EQ(driver->GetReservedA(), nullptr);
    EXPECT_EQ(driver->GetReservedB(), nullptr);
    EXPECT_EQ(driver->GetAuxCapture(), nullptr);
    EXPECT_EQ(driver->GetAuxCaptureEx(), nullptr);
    driver->Close();
    EXPECT_EQ(driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver->GetVideoCaptureEx(), nullptr);
    delEx3(driver);
    del(nullptr);
    delEx3(nullptr);
}

TEST_F(ExportsTest, StartAndChangeRefuseSettingsThatWouldBeWrappedOrAreUnknown) {
    ASSERT_TRUE(library.Loaded()) << library.Error();
    const struct Case {
        int32_t codec;
        const char* capability;
        uint16_t width, height, interval;
        const char* named;  // in the one failure message; none: started
    } cases[] = {
        {fakes::kCodecH264, "1;65590;VBR;64;8192;20", 640, 480, 40, "RTSP port"},
        {fakes::kCodecH264, "1;0;VBR;64;8192;20", 640, 480, 40, "RTSP port"},
        {fakes::kCodecH264, "1;99999999999;VBR;64;8192;20", 640, 480, 40, "RTSP port"},
        {fakes::kCodecH264, "1;-554;VBR;64;8192;20", 640, 480, 40, "RTSP port"},
        {fakes::kCodecJpeg, "4294967297;554;VBR;64;8192;20", 640, 480, 40, "channel id"},
        {fakes::kCodecJpeg, "x;554;VBR;64;8192;20", 640, 480, 40, "channel id"},
        {fakes::kCodecMpeg4, "1;554;VBR;64;8192;20", 0, 480, 40, "width 0"},
        {fakes::kCodecMpeg4, "1;554;VBR;64;8192;20", 65535, 480, 40, "width 65535"},
        {fakes::kCodecH264, "1;554;VBR;64;8192;20", 640, 0, 40, "height 0"},
        {0, "1;554;VBR;64;8192;20", 640, 480, 40, "codec type 0"},
        {4, "1;554;VBR;64;8192;20", 640, 480, 40, "codec type 4"},
        {255, "1;554;VBR;64;8192;20", 640, 480, 40, "codec type 255"},
        {-1, "1;554;VBR;64;8192;20", 640, 480, 40, "codec type -1"},
        // Taken as they come: any text of other than six fields stands for
        // channel 0 on port 554, and an interval of 0 asks for 1 frame/s.
        {fakes::kCodecH264, "", 640, 480, 40, nullptr},
        {fakes::kCodecH264, "garbage", 640, 480, 40, nullptr},
        {fakes::kCodecH264, "1;554;VBR;64;8192;20", 640, 480, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.capability) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
        auto* driver = library.Get<CreateIPCaptureFn>("CreateIPCapture")();
        fakes::FakeDebugSink sink;
        fakes::FakeSampleAllocator allocator;
        fakes::FakeDeviceConfig device;
        device.connection.address = "127.0.0.1";
        device.connection.port = 9;
        device.connection.codec = c.codec;
        device.parameters[2] = c.capability;
        ASSERT_TRUE(driver->Open(&sink, &allocator, &device));
        const size_t opened = sink.Count();
        fakes::FakeStreamConfig settings(c.width, c.height, c.interval, 50);
        fakes::FakeStreamSink stream;
        telvaro::ipcapture::IIPVideoCapture* capture = driver->GetVideoCapture();
        EXPECT_EQ(capture->StartChannel(0, &stream, &settings), c.named == nullptr);
        if (c.named) {
            EXPECT_EQ(sink.Count(), opened + 1);
            EXPECT_EQ(sink.CountContaining(c.named), 1u);
        } else {
            // A running channel keeps its session when asked for a size it
            // cannot have.
            hostkit::ImageSize none(0, 0);
            EXPECT_FALSE(capture->ChangeChannel(0, &none, 40));
            EXPECT_EQ(sink.CountContaining("width 0"), 1u);
            hostkit::ImageSize fine(320, 240);
            EXPECT_TRUE(capture->ChangeChannel(0, &fine, 40));
        }
        driver->Close();
        library.Get<DeleteIPCaptureFn>("DeleteIPCapture")(driver);
    }
}

TEST_F(ExportsTest, AFourChannelDeviceGetsAFourChannelVideoCapture) {
    ASSERT_TRUE(library.Loaded()) << library.Error();
    auto* driver = library.Get<CreateIPCaptureEx2Fn>("CreateIPCaptureEx2")();
    fakes::FakeDebugSink sink;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    device.model.channels = 4;
    ASSERT_TRUE(driver->Open(&sink, &allocator, &device));
    ASSERT_NE(driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver->GetVideoCapture()->GetChannelCount(), 4u);
    EXPECT_EQ(static_cast<telvaro::ipcapture::IIPVideoCapture*>(driver->GetVideoCaptureEx()), driver->GetVideoCapture());
    uint32_t state = 9, error = 9;
    EXPECT_FALSE(driver->GetVideoCapture()->GetChannelStatus(0, &state, &error, nullptr, 0));
    driver->Close();
    EXPECT_EQ(driver->GetVideoCapture(), nullptr);
    library.Get<DeleteIPCaptureEx2Fn>("DeleteIPCaptureEx2")(driver);
}

TEST_F(ExportsTest, OpenMakesTheDigitalIOObject) {
    ASSERT_TRUE(library.Loaded()) << library.Error();
    auto* driver = library.Get<CreateIPCaptureFn>("CreateIPCapture")();
    fakes::FakeDebugSink sink;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    device.model.inputs = 3;
    device.model.outputs = 0;
    ASSERT_TRUE(driver->Open(&sink, &allocator, &device));
    telvaro::ICaptureIOApi* io = driver->GetCaptureIO();
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->GetInputCount(), 3u);
    EXPECT_EQ(io->GetOutputCount(), 0u);
    EXPECT_FALSE(io->SetEventSink(nullptr));
    EXPECT_FALSE(io->SetOutput(0, 1));  // no outputs: no output thread
    driver->Close();
    EXPECT_EQ(driver->GetCaptureIO(), nullptr);
    library.Get<DeleteIPCaptureFn>("DeleteIPCapture")(driver);
}

TEST_F(ExportsTest, OpenFailsWhenParameterOneIsNone) {
    ASSERT_TRUE(library.Loaded()) << library.Error();
    auto* driver = library.Get<CreateIPCaptureFn>("CreateIPCapture")();
    fakes::FakeDebugSink sink;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    device.parameters[1] = "(none)";
    EXPECT_FALSE(driver->Open(&sink, &allocator, &device));
    EXPECT_EQ(sink.Count(), 0u);
    library.Get<DeleteIPCaptureFn>("DeleteIPCapture")(driver);
}

}  // namespace
