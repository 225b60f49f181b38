// The library through its exports against PSIA cameras we did not write:
// lighttpd that demands HTTP Digest (or Basic) before it serves or takes
// anything, and Apache that names Basic first but takes only Digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/driver_library.h"
#include "ombrelix/exports.h"
#include "support/apache_peer.h"
#include "support/fake_host.h"
#include "support/lighttpd_peer.h"
#include "support/wait_until.h"
#include "util/text.h"

namespace {

using namespace ombrelix_abi;
using fakes::LighttpdPeer;

// The IOPortData document of a trigger PUT.
std::string PortData(const std::string& state) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><IOPortData xmlns=\"urn:psialliance-org\"><outputState>" +
           state + "</outputState></IOPortData>";
}

class LighttpdCamera : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.Loaded()) << library.Error();
        std::string error;
        ASSERT_TRUE(peer.Start(error)) << error;
    }

    // Opens the camera with its port counts and starts its I/O object.
    telvaro::ICaptureIOApi* StartIO(uint32_t inputs, uint32_t outputs, uint16_t port = 0) {
        driver.reset(library.Get<CreateIPCaptureFn>("CreateIPCapture")());
        device.connection.port = port ? port : peer.Port();
        device.connection.user = LighttpdPeer::kUserName;
        device.connection.password = LighttpdPeer::kPassword;
        device.model.inputs = inputs;
        device.model.outputs = outputs;
        if (!driver || !driver->Open(&debug, &allocator, &device)) return nullptr;
        telvaro::ICaptureIOApi* io = driver->GetCaptureIO();
        return io && io->SetEventSink(&sink) && io->Start() ? io : nullptr;
    }

    std::vector<std::string> Events() {
        std::vector<std::string> events;
        for (const auto& e : sink.Events()) {
            events.push_back(e.failure ? "failure" : std::to_string(e.index) + "=" + std::to_string(e.state));
        }
        return events;
    }

    hostkit::DriverLibrary library{OMBRELIX_LIBRARY_PATH};
    LighttpdPeer peer{2, 1};
    fakes::FakeDebugSink debug;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    fakes::FakeIOEventSink sink;
    // Deleted first: its threads call the objects above.
    std::unique_ptr<telvaro::ipcapture::IIPCaptureDriver, DeleteIPCaptureFn> driver{
        nullptr, library.Get<DeleteIPCaptureFn>("DeleteIPCapture")};
};

TEST_F(LighttpdCamera, EachOutputWriteIsOneTriggerPut) {
    telvaro::ICaptureIOApi* io = StartIO(0, 1);
    ASSERT_NE(io, nullptr);
    const std::string trigger = "/PSIA/System/IO/outputs/0/trigger ";
    auto lastPut = [&] {
        auto puts = peer.Puts();
        return puts.empty() ? std::string() : puts.back().target + " " + puts.back().body;
    };
    // Start drives the output with 1; each exchange is the first of a fresh
    // client. Then 1 is "high", any other value "low".
    ASSERT_TRUE(fakes::WaitUntil([&] { return peer.Puts().size() == 1; }, 5000));
    EXPECT_EQ(lastPut(), trigger + PortData("high"));
    const struct {
        int value;
        const char* state;
    } writes[] = {{2, "low"}, {1, "high"}, {7, "low"}};
    for (const auto& w : writes) {
        size_t before = peer.Puts().size();
        ASSERT_TRUE(io->SetOutput(0, w.value));
        ASSERT_TRUE(fakes::WaitUntil([&] { return peer.Puts().size() == before + 1; }, 5000)) << w.value;
        EXPECT_EQ(lastPut(), trigger + PortData(w.state)) << w.value;
    }
    EXPECT_EQ(sink.Failures(), 0);
}

TEST_F(LighttpdCamera, AChangedInputIsReportedByTheNextPoll) {
    telvaro::ICaptureIOApi* io = StartIO(2, 0);
    ASSERT_NE(io, nullptr);
    // Start reports both inputs as read: inactive (1). Active is 2.
    ASSERT_TRUE(sink.WaitForEvents(2, 5000));
    const struct {
        uint32_t input;
        bool active;
    } changes[] = {{1, true}, {0, true}, {1, false}};
    for (const auto& c : changes) {
        size_t before = sink.Events().size();
        ASSERT_TRUE(peer.SetInputActive(c.input, c.active));
        ASSERT_TRUE(sink.WaitForEvents(before + 1, 5000)) << c.input;
    }
    io->Stop();
    EXPECT_EQ(Events(), (std::vector<std::string>{"0=1", "1=1", "1=2", "0=2", "1=1"}));
}

TEST_F(LighttpdCamera, ApacheNamingBasicFirstIsPolledWithDigestOnlyAcrossNonceRenewals) {
    fakes::ApachePeer apache{2};
    std::string error;
    ASSERT_TRUE(apache.Start(error)) << error;
    telvaro::ICaptureIOApi* io = StartIO(2, 0, apache.Port());
    ASSERT_NE(io, nullptr);
    ASSERT_TRUE(sink.WaitForEvents(2, 5000));
    // Polls every 2 s for more than two nonce lifetimes, then a change.
    std::this_thread::sleep_for(std::chrono::seconds(2 * fakes::ApachePeer::kNonceLifetimeSeconds + 1));
    ASSERT_TRUE(apache.SetInputActive(1, true));
    ASSERT_TRUE(sink.WaitForEvents(3, 5000));
    io->Stop();
    EXPECT_EQ(Events(), (std::vector<std::string>{"0=1", "1=1", "1=2"}));

    std::set<std::string> nonces;
    for (const std::string& authorization : apache.Authorizations()) {
        if (authorization == "-") continue;
        ASSERT_EQ(authorization.rfind("Digest ", 0), 0u) << authorization;
        nonces.insert(telvaro::FindHeaderParam("nonce", "=", authorization, ", "));
    }
    EXPECT_GE(nonces.size(), 2u);
}

TEST_F(LighttpdCamera, TheCapabilityQueryReadsTheCamerasOffer) {
    auto init = library.Get<InitCapabilityQueryFn>("InitCapabilityQuery");
    auto start = library.Get<StartCapabilityQueryFn>("StartCapabilityQuery");
    auto uninit = library.Get<UninitCapabilityQueryFn>("UninitCapabilityQuery");
    ASSERT_TRUE(init && start && uninit);
    // The peer started by the fixture asks for Digest; this one for Basic.
    LighttpdPeer basic{2, 1, "basic"};
    std::string error;
    ASSERT_TRUE(basic.Start(error)) << error;
    for (uint16_t port : {peer.Port(), basic.Port()}) {
        fakes::FakeCapabilityCallback callback;
        fakes::FakeCapabilityResults results;
        ASSERT_EQ(init(&callback, 0), 1);
        ASSERT_EQ(start("127.0.0.1", port, LighttpdPeer::kUserName, LighttpdPeer::kPassword, &results), 1);
        EXPECT_TRUE(callback.WaitForCall(10000));
        EXPECT_EQ(uninit(), 1);
        EXPECT_EQ(callback.successes, 1) << callback.lastMessage;

        // 5, 15 and 25 fps offered; both sizes at the highest rate; the peer's
        // port lists; channel 1's capability text.
        const std::vector<std::string> calls = results.Calls();
        for (const char* line : {"SetName PSIA Lighttpd-PSIA", "Interval 200", "Interval 67", "Interval 40",
                                 "Resolution 640x480 640 480 40", "Resolution 1280x720 1280 720 40", "SetValue 2 2",
                                 "SetValue 3 1", "Property 2 SetValue 1;554;CBR,VBR;32;6144;25,50,75,100"}) {
            EXPECT_NE(std::find(calls.begin(), calls.end(), line), calls.end()) << line << " " << port;
        }
    }
}

}  // namespace
