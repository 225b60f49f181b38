// The library driven only through its exported entry points, as a host does.
#include <gtest/gtest.h>

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
