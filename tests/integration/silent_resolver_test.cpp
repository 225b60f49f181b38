// A resolver that never answers: tests/silent_resolver.sh runs these in a
// network namespace of their own, whose resolv.conf names 127.0.0.1:53, a
// socket this program holds and never reads. Outside it they are skipped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "hostkit/driver_library.h"
#include "ombrelix/exports.h"
#include "platform/name_lookup.h"
#include "platform/socket.h"
#include "support/fake_host.h"

namespace {

using namespace ombrelix_abi;
namespace platform = telvaro::platform;

const char kSilentName[] = "camera.silent.example";

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

class SilentResolver : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("OMBRELIX_SILENT_RESOLVER")) GTEST_SKIP() << "run by tests/silent_resolver.sh";
        nameserver_ = platform::OpenUdpSocket();
        ASSERT_TRUE(platform::BindSocket(nameserver_, {platform::ResolveHost("127.0.0.1"), 53}));
    }
    void TearDown() override { platform::CloseSocket(nameserver_); }

private:
    platform::SocketHandle nameserver_ = platform::kInvalidSocket;
};

TEST_F(SilentResolver, ALookupEndsAtItsBoundOrItsAbort) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::ResolveIpv4Within(kSilentName, 300), 0u);
    EXPECT_GE(MillisecondsSince(start), 290);
    EXPECT_LT(MillisecondsSince(start), 1500);
    // Meanwhile the first lookup is still under way; this one waits on it.
    std::atomic<bool> abort{true};
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::ResolveIpv4Within(kSilentName, 5000, &abort), 0u);
    EXPECT_LT(MillisecondsSince(start), 500);
    EXPECT_EQ(platform::ResolveIpv4Within("127.0.0.1", 300), platform::ResolveHost("127.0.0.1"));
}

TEST_F(SilentResolver, HostCallsNeverWaitOnTheLookup) {
    hostkit::DriverLibrary library(OMBRELIX_LIBRARY_PATH);
    ASSERT_TRUE(library.Loaded()) << library.Error();
    fakes::FakeDebugSink debug;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    device.connection.address = kSilentName;
    device.connection.codec = fakes::kCodecH264;
    device.model.channels = 4;
    fakes::FakeStreamSink sinks[4];
    std::unique_ptr<telvaro::ipcapture::IIPCaptureDriver, DeleteIPCaptureFn> driver(
        library.Get<CreateIPCaptureFn>("CreateIPCapture")(), library.Get<DeleteIPCaptureFn>("DeleteIPCapture"));
    ASSERT_TRUE(driver && driver->Open(&debug, &allocator, &device));
    telvaro::ipcapture::IIPVideoCapture* capture = driver->GetVideoCapture();
    ASSERT_NE(capture, nullptr);
    fakes::FakeStreamConfig settings;
    for (uint32_t i = 0; i < 4; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(capture->StartChannel(i, &sinks[i], &settings));
        EXPECT_LT(MillisecondsSince(start), 300) << i;
    }
    // The channels' own threads wait the device's time-out (5000 ms), then
    // say why.
    EXPECT_TRUE(debug.WaitForText("was not resolved within 5000 ms", 9000));
    for (uint32_t i = 0; i < 4; ++i) {
        uint32_t state = 99, error = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(capture->GetChannelStatus(i, &state, &error, nullptr, 0));
        EXPECT_EQ(state, 2u);
        // A channel stopped in the middle of its next lookup ends at once.
        EXPECT_TRUE(capture->StopChannel(i));
        EXPECT_LT(MillisecondsSince(start), 1000) << i;
    }
    const auto start = std::chrono::steady_clock::now();
    driver.reset();
    EXPECT_LT(MillisecondsSince(start), 1000);
}

}  // namespace
