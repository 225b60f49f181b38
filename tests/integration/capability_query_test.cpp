// The capability query through the library's exports and through
// `ombrelix-host probe`, against the camera simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "camsim/camera.h"
#include "ombrelix/exports.h"
#include "support/fake_host.h"
#include "support/loopback_socket.h"
#include "hostkit/driver_library.h"

namespace {

using namespace ombrelix_abi;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

class CapabilityQueryCamsim : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.Loaded()) << library.Error();
        init = library.Get<InitCapabilityQueryFn>("InitCapabilityQuery");
        start = library.Get<StartCapabilityQueryFn>("StartCapabilityQuery");
        terminate = library.Get<TerminateCapabilityQueryFn>("TerminateCapabilityQuery");
        uninit = library.Get<UninitCapabilityQueryFn>("UninitCapabilityQuery");
        ASSERT_TRUE(init && start && terminate && uninit);

        // Two clips of known sizes, so that the offered resolutions are known.
        clips = fs::temp_directory_path() / ("capability_query_clips_" + std::to_string(getpid()));
        fs::create_directories(clips);
        for (const char* name : {"h264_baseline_640x480.h264", "jpeg420_1280x720.mjpeg"}) {
            fs::create_symlink(fs::path(OMBRELIX_TESTDATA_DIR) / name, clips / name);
        }
        camsim::CameraConfig config;
        config.clipFolder = clips.string();
        config.channels[0].id = 101;
        // With the offered 5, 15 and 25: a highest rate above 31.
        config.channels[0].maxFrameRate = 5000;
        config.inputs = 3;
        config.outputs = 1;
        camera = std::make_unique<camsim::Camera>(config);
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
        text = "101;" + std::to_string(camera->RtspPort()) + ";CBR,VBR;64;8192;20,40,60,80,100";
    }
    void TearDown() override {
        if (camera) camera->Stop();
        std::error_code ignored;
        fs::remove_all(clips, ignored);
    }

    // One query through the exports; the query has ended on return.
    void Query(fakes::FakeCapabilityCallback& callback, fakes::FakeCapabilityResults& results) {
        ASSERT_EQ(init(&callback, 0), 1);
        ASSERT_EQ(start("127.0.0.1", camera->HttpPort(), "admin", "admin", &results), 1);
        EXPECT_TRUE(callback.WaitForCall(10000));
        EXPECT_EQ(uninit(), 1);
    }

    hostkit::DriverLibrary library{OMBRELIX_LIBRARY_PATH};
    InitCapabilityQueryFn init = nullptr;
    StartCapabilityQueryFn start = nullptr;
    TerminateCapabilityQueryFn terminate = nullptr;
    UninitCapabilityQueryFn uninit = nullptr;
    fs::path clips;
    std::unique_ptr<camsim::Camera> camera;
    std::string text;  // the capability text camsim's channel must give
};

TEST_F(CapabilityQueryCamsim, TheHostReceivesTheCamerasOffer) {
    fakes::FakeCapabilityCallback callback, other;
    fakes::FakeCapabilityResults results;
    ASSERT_EQ(init(&callback, 0), 1);
    EXPECT_EQ(init(&other, 1), 0);
    ASSERT_EQ(start("127.0.0.1", camera->HttpPort(), "admin", "admin", &results), 1);
    EXPECT_TRUE(callback.WaitForCall(10000));
    EXPECT_EQ(terminate(), 1);
    EXPECT_EQ(uninit(), 1);
    EXPECT_EQ(callback.successes, 1);
    EXPECT_EQ(callback.failures + other.successes + other.failures, 0);
    Lines expected = {
        "FrameIntervalList 1",
        "Interval 200",
        "Interval 67",
        "Interval 40",
        "IntervalDefault 40",
        "Interval 20",
        "SetName PSIA Camsim-PSIA",
        "SetValue 0 1",
        "SetValue 2 3",
        "SetValue 3 1",
        "SetValue 11 0",
        "SetValue 12 0",
        "SetValue 7 1",
        "SetValue 6 1",
        "SetValue 8 1",
        "Resolution 640x480 640 480 20",
        "Resolution 1280x720 1280 720 20",
        "Field 1 127.0.0.1",
        "Field 2 " + std::to_string(camera->HttpPort()),
        "Field 3 admin",
        "Field 4 admin",
    };
    fakes::AddPropertyCalls(expected, 1, "Video standard", 0, "0");
    fakes::AddPropertyCalls(expected, 2, "Channel 0 capabilities", 1, text);
    EXPECT_EQ(results.Calls(), expected);

    // A camera whose I/O resources all fail is still described, without counts.
    camera->GetFaults().ioFailure = true;
    fakes::FakeCapabilityCallback again;
    fakes::FakeCapabilityResults withoutPorts;
    Query(again, withoutPorts);
    EXPECT_EQ(again.successes, 1);
    for (const std::string& line : withoutPorts.Calls()) {
        EXPECT_NE(line.rfind("SetValue 2 ", 0), 0u) << line;
        EXPECT_NE(line.rfind("SetValue 3 ", 0), 0u) << line;
    }
}

// The host's failure message keeps its known text and names the cause
// after it: each way of not getting an answer reads differently, and the
// password is never part of it.
TEST_F(CapabilityQueryCamsim, AFailedQueryNamesItsCause) {
    uint16_t refusedPort = 0;
    uint16_t silentPort = 0;
    const fakes::SocketFd bound = fakes::BindOnLoopback(refusedPort);
    // Connections complete in the backlog and are never read or answered.
    const fakes::SocketFd silent = fakes::ListenOnLoopback(8, silentPort);
    ASSERT_NE(bound, fakes::kNoSocket);
    ASSERT_NE(silent, fakes::kNoSocket);
    const std::string failed = "Failed to get camera properties: GET /PSIA/System/deviceInfo";
    struct Case {
        const char* name;
        const char* address;
        uint16_t port;
        std::string message;
    } cases[] = {
        {"wrong password", "127.0.0.1", camera->HttpPort(), failed + " answered HTTP 401"},
        {"refused port", "127.0.0.1", refusedPort,
         failed + ": 127.0.0.1:" + std::to_string(refusedPort) + " refused the connection"},
        {"unknown name", "camera.invalid", 80, failed + ": the host name camera.invalid is not known"},
        {"silent port", "127.0.0.1", silentPort, failed + ": no whole answer within 5000 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes::FakeCapabilityCallback callback;
        fakes::FakeCapabilityResults results;
        ASSERT_EQ(init(&callback, 0), 1);
        ASSERT_EQ(start(c.address, c.port, "admin", "not-the-password", &results), 1);
        EXPECT_TRUE(callback.WaitForCall(15000));
        EXPECT_EQ(uninit(), 1);
        EXPECT_EQ(callback.failures, 1);
        EXPECT_EQ(callback.lastCode, 3);
        EXPECT_EQ(callback.lastMessage, c.message);
        EXPECT_EQ(callback.lastMessage.find("not-the-password"), std::string::npos);
    }
    fakes::CloseSocketFd(bound);
    fakes::CloseSocketFd(silent);
}

TEST_F(CapabilityQueryCamsim, TheCapabilityTextLeadsTheCodecChannelToItsStream) {
    fakes::FakeCapabilityCallback callback;
    fakes::FakeCapabilityResults results;
    Query(callback, results);
    Lines calls = results.Calls();
    ASSERT_FALSE(calls.empty());
    const std::string prefix = "Property 2 SetValue ";
    ASSERT_EQ(calls.back().rfind(prefix, 0), 0u) << calls.back();
    const std::string written = calls.back().substr(prefix.size());

    // The text as device parameter 2 of an H.264 device: channel 0 streams.
    auto* driver = library.Get<CreateIPCaptureEx3Fn>("CreateIPCaptureEx3")();
    ASSERT_NE(driver, nullptr);
    fakes::FakeDebugSink debug;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    device.connection.port = camera->HttpPort();
    device.connection.user = "admin";
    device.connection.password = "admin";
    device.parameters[2] = written;
    ASSERT_TRUE(driver->Open(&debug, &allocator, &device));
    fakes::FakeStreamSink sink;
    sink.keepData = false;
    // Quality 30 aims at 44 of the offered 20 to 100: 40 is the nearest.
    fakes::FakeStreamConfig settings(640, 480, 40, 30);
    camera->ClearRequests();
    ASSERT_TRUE(driver->GetVideoCapture()->StartChannel(0, &sink, &settings));
    EXPECT_TRUE(sink.WaitForFrames(1, 10000));
    driver->GetVideoCapture()->StopChannel(0);
    driver->Close();
    library.Get<DeleteIPCaptureEx3Fn>("DeleteIPCaptureEx3")(driver);

    camsim::ChannelConfig channel;
    ASSERT_TRUE(camera->GetChannel(101, channel));
    EXPECT_EQ(channel.fixedQuality, 40u);
    EXPECT_EQ(settings.reservedCalls, 0);
    EXPECT_EQ(channel.maxFrameRate, 2500u);
    EXPECT_EQ(channel.constantBitRate, 8192u);
    Lines http, rtsp;
    for (const auto& r : camera->Requests()) {
        (r.protocol == camsim::LoggedRequest::Protocol::Http ? http : rtsp).push_back(r.method + " " + r.target);
    }
    EXPECT_EQ(Lines(http.begin(), http.begin() + std::min<size_t>(2, http.size())),
              (Lines{"GET /PSIA/Streaming/channels/101", "PUT /PSIA/Streaming/channels/101"}));
    ASSERT_FALSE(rtsp.empty());
    EXPECT_EQ(rtsp.front(), "DESCRIBE " + camera->StreamUrl(101));
    EXPECT_EQ(camera->StreamUrl(101), "rtsp://127.0.0.1:" + std::to_string(camera->RtspPort()) +
                                          "/PSIA/Streaming/channels/101?videoCodecType=H.264");
}

#ifdef OMBRELIX_HOST_PATH

// Runs ombrelix-host with arguments, after environment assignments if any;
// its standard output and exit status.
std::string RunHost(const std::string& arguments, int& status, const std::string& environment = std::string()) {
    std::string command = environment + " " + OMBRELIX_HOST_PATH + " " + arguments + " 2>/dev/null";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

TEST_F(CapabilityQueryCamsim, ProbePrintsWhatTheHostReceived) {
    const std::string common = std::string("probe --library ") + OMBRELIX_LIBRARY_PATH + " -a 127.0.0.1 -u admin -w admin";
    int status = 0;
    std::string output = RunHost(common + " -p " + std::to_string(camera->HttpPort()) + " --json", status);
    ASSERT_EQ(status, 0) << output;
    nlohmann::json j = nlohmann::json::parse(output, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << output;
    EXPECT_EQ(j["succeeded"], true);
    EXPECT_EQ(j["name"], "PSIA Camsim-PSIA");
    EXPECT_EQ(j["codecs"], nlohmann::json({"H.264", "MPEG-4", "JPEG"}));
    EXPECT_EQ(j["resolutions"], nlohmann::json::parse(R"([
        {"text": "640x480", "width": 640, "height": 480, "interval": 20},
        {"text": "1280x720", "width": 1280, "height": 720, "interval": 20}])"));
    EXPECT_EQ(j["frameIntervals"], nlohmann::json({200, 67, 40, 20}));
    EXPECT_EQ(j["defaultFrameInterval"], 40);
    EXPECT_EQ(j["inputs"], 3);
    EXPECT_EQ(j["outputs"], 1);
    EXPECT_EQ(j["properties"], nlohmann::json::parse(R"([
        {"index": 1, "name": "Video standard", "value": "0", "kind": 0, "reserved": 0},
        {"index": 2, "name": "Channel 0 capabilities", "value": ")" + text + R"(", "kind": 1, "reserved": 0}])"));
    EXPECT_EQ(j["capabilityTexts"], nlohmann::json({text}));

    // The table names the option that hands the text to `record`.
    output = RunHost(common + " -p " + std::to_string(camera->HttpPort()), status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("--capability '" + text + "'"), std::string::npos) << output;

    // A camera that cannot be reached: the failure as the host got it.
    camera->Stop();
    output = RunHost(common + " -p " + std::to_string(camera->HttpPort()) + " --json", status);
    EXPECT_EQ(status, 1) << output;
    j = nlohmann::json::parse(output, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << output;
    EXPECT_EQ(j["succeeded"], false);
    EXPECT_EQ(j["failure"]["code"], 3);
    EXPECT_EQ(j["failure"]["message"], "Failed to get camera properties: GET /PSIA/System/deviceInfo: 127.0.0.1:" +
                                           std::to_string(camera->HttpPort()) + " refused the connection");
}

// The password from the environment or a file rather than the command
// line, where every local user could read it.
TEST_F(CapabilityQueryCamsim, ProbeTakesThePasswordFromOutsideTheCommandLine) {
    const fs::path file = clips / "password";
    std::ofstream(file) << "admin\n";
    const std::string probe = std::string("probe --library ") + OMBRELIX_LIBRARY_PATH + " -a 127.0.0.1 -u admin -p " +
                              std::to_string(camera->HttpPort()) + " --json";
    struct Case {
        const char* name;
        std::string environment;
        std::string options;
        bool succeeds;
    } cases[] = {
        {"environment", "OMBRELIX_PASSWORD=admin", "", true},
        {"file", "OMBRELIX_PASSWORD=wrong", " --password-file " + file.string(), true},
        {"wrong password in the environment", "OMBRELIX_PASSWORD=wrong", "", false},
        {"a file that cannot be read", "", " --password-file " + (clips / "missing").string(), false},
        {"-w and a file together", "", " -w admin --password-file " + file.string(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int status = 0;
        const std::string output = RunHost(probe + c.options, status, c.environment);
        EXPECT_EQ(status == 0, c.succeeds) << output;
        const nlohmann::json j = nlohmann::json::parse(output, nullptr, false);
        EXPECT_EQ(j.is_object() && j.value("succeeded", false), c.succeeds) << output;
    }
    int status = 0;
    const std::string help = RunHost("probe --help", status);
    EXPECT_NE(help.find("OMBRELIX_PASSWORD"), std::string::npos) << help;
    EXPECT_NE(help.find("--ask-password"), std::string::npos) << help;
}

#endif

}  // namespace
