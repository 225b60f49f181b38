// The capability query state and thread, against a scripted PSIA camera and
// against properties objects that misbehave on purpose.
#include "driver/capability_query.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/native_thread.h"
#include "support/fake_host.h"
#include "support/test_http_server.h"
#include "support/wait_until.h"
#include "support/sanitizers.h"

namespace {

using namespace telvaro;
using fakes::HttpReply;
using fakes::RecordedRequest;
using Lines = std::vector<std::string>;

const char kDeviceInfo[] =
    "<DeviceInfo xmlns=\"urn:psialliance-org\"><deviceName>Lobby</deviceName><model>PX-1</model></DeviceInfo>";
const char kChannelList[] =
    "<StreamingChannelList xmlns=\"urn:psialliance-org\"><StreamingChannel><id>101</id></StreamingChannel>"
    "<StreamingChannel><id>102</id></StreamingChannel></StreamingChannelList>";
const char kCapabilities[] =
    "<StreamingChannel xmlns=\"urn:psialliance-org\"><Transport><rtspPortNo>8554</rtspPortNo></Transport><Video>"
    "<videoCodecType opt=\"H.264,MJPEG\"/><videoResolutionWidth opt=\"1280,640\"/>"
    "<videoResolutionHeight opt=\"720,480\"/><videoQualityControlType opt=\"CBR,VBR\"/>"
    "<constantBitRate min=\"100\" max=\"4000\"/><fixedQuality opt=\"10,50,90\"/>"
    "<maxFrameRate opt=\"500,1500,2500,3000\"/></Video></StreamingChannel>";
const char kPortList[] =
    "<IOPortList xmlns=\"urn:psialliance-org\"><IOInputPortList><IOInputPort><id>1</id></IOInputPort>"
    "<IOInputPort><id>2</id></IOInputPort><IOInputPort><id>3</id></IOInputPort></IOInputPortList>"
    "<IOOutputPortList><IOOutputPort><id>7</id></IOOutputPort></IOOutputPortList></IOPortList>";
const char kInputs[] =
    "<IOInputPortList xmlns=\"urn:psialliance-org\"><IOInputPort><id>3</id></IOInputPort></IOInputPortList>";

// A PSIA camera on the test server that answers GETs by path.
class ScriptedCamera {
public:
    ScriptedCamera() {
        Answer("/PSIA/System/deviceInfo", kDeviceInfo);
        Answer("/PSIA/Streaming/channels", kChannelList);
        Answer("/PSIA/Streaming/channels/101/capabilities", kCapabilities);
        Answer("/PSIA/System/IO", kPortList);
        server.SetHandler([this](const RecordedRequest& r) {
            std::lock_guard<std::mutex> hold(mu_);
            auto it = replies_.find(r.target);
            return it != replies_.end() && r.method == "GET" ? it->second : HttpReply(404, "not here");
        });
        started = server.Start();
    }

    void Answer(const std::string& target, const std::string& body, int status = 200) {
        Answer(target, HttpReply(status, body));
    }
    void Answer(const std::string& target, const HttpReply& reply) {
        std::lock_guard<std::mutex> hold(mu_);
        replies_[target] = reply;
    }

    Lines Requests() {
        Lines lines;
        for (const auto& r : server.Requests()) lines.push_back(r.method + " " + r.target);
        return lines;
    }

    fakes::TestHttpServer server;
    bool started = false;

private:
    std::mutex mu_;
    std::map<std::string, HttpReply> replies_;
};

// What one whole query, as a host runs it, left behind; the query thread has
// ended when it is returned.
struct Outcome {
    fakes::FakeCapabilityCallback callback;
    fakes::FakeCapabilityResults results;
};

std::unique_ptr<Outcome> RunQuery(CCapabilityQuery& query, uint16_t port, uint8_t videoStandard = 0,
                                  const char* address = "127.0.0.1") {
    auto outcome = std::make_unique<Outcome>();
    EXPECT_EQ(query.Init(&outcome->callback, videoStandard), 1);
    EXPECT_EQ(query.Start(address, port, "admin", "12345", &outcome->results), 1);
    EXPECT_TRUE(outcome->callback.WaitForCall(10000));
    EXPECT_EQ(query.Uninit(), 1);
    return outcome;
}

void ExpectFailure(Outcome& outcome, const std::string& message, const std::string& what) {
    EXPECT_EQ(outcome.callback.successes, 0) << what;
    EXPECT_EQ(outcome.callback.failures, 1) << what;
    EXPECT_EQ(outcome.callback.lastCode, 3) << what;
    EXPECT_EQ(outcome.callback.lastMessage, message) << what;
}

Lines CountLines(const Lines& calls) {
    Lines counts;
    for (const std::string& line : calls) {
        if (line.rfind("SetValue 2 ", 0) == 0 || line.rfind("SetValue 3 ", 0) == 0) counts.push_back(line);
    }
    return counts;
}

TEST(CapabilityQuery, AnswersReachTheHostInOrder) {
    ScriptedCamera camera;
    ASSERT_TRUE(camera.started);
    CCapabilityQuery query;
    auto outcome = RunQuery(query, camera.server.Port());
    EXPECT_EQ(outcome->callback.successes, 1);
    EXPECT_EQ(outcome->callback.failures, 0);
    EXPECT_EQ(camera.Requests(), (Lines{"GET /PSIA/System/deviceInfo", "GET /PSIA/Streaming/channels",
                                        "GET /PSIA/Streaming/channels/101/capabilities", "GET /PSIA/System/IO"}));
    Lines expected = {
        "FrameIntervalList 1",
        "Interval 200",
        "Interval 67",
        "Interval 40",
        "IntervalDefault 40",
        "Interval 33",
        "SetName PSIA PX-1",
        "SetValue 0 1",
        "SetValue 2 3",
        "SetValue 3 1",
        "SetValue 11 0",
        "SetValue 12 0",
        "SetValue 7 1",
        "SetValue 8 1",
        "Resolution 640x480 640 480 33",
        "Resolution 1280x720 1280 720 33",
        "Field 1 127.0.0.1",
        "Field 2 " + std::to_string(camera.server.Port()),
        "Field 3 admin",
        "Field 4 12345",
    };
    fakes::AddPropertyCalls(expected, 1, "Video standard", 0, "0");
    fakes::AddPropertyCalls(expected, 2, "Channel 0 capabilities", 1, "101;8554;CBR,VBR;100;4000;10,50,90");
    EXPECT_EQ(outcome->results.Calls(), expected);
}

TEST(CapabilityQuery, ACameraThatCannotBeReadFailsOnce) {
    struct Case {
        const char* what;
        std::function<void(ScriptedCamera&)> change;
        const char* address;
        const char* cause;  // after the message the host knows
    } cases[] = {
        {"empty model",
         [](ScriptedCamera& c) {
             c.Answer("/PSIA/System/deviceInfo", "<DeviceInfo><deviceName>x</deviceName><model></model></DeviceInfo>");
         },
         "127.0.0.1", "GET /PSIA/System/deviceInfo: the answer names no model"},
        {"no model", [](ScriptedCamera& c) { c.Answer("/PSIA/System/deviceInfo", "<DeviceInfo/>"); }, "127.0.0.1",
         "GET /PSIA/System/deviceInfo: the answer names no model"},
        {"device information that is no XML", [](ScriptedCamera& c) { c.Answer("/PSIA/System/deviceInfo", "<Dev"); },
         "127.0.0.1", "GET /PSIA/System/deviceInfo: the answer is not a DeviceInfo document"},
        {"no device information", [](ScriptedCamera& c) { c.Answer("/PSIA/System/deviceInfo", "gone", 404); },
         "127.0.0.1", "GET /PSIA/System/deviceInfo answered HTTP 404"},
        {"no streaming channel",
         [](ScriptedCamera& c) { c.Answer("/PSIA/Streaming/channels", "<StreamingChannelList/>"); }, "127.0.0.1",
         "GET /PSIA/Streaming/channels: the answer lists no channel"},
        {"broken channel list", [](ScriptedCamera& c) { c.Answer("/PSIA/Streaming/channels", "<Stream"); },
         "127.0.0.1", "GET /PSIA/Streaming/channels: the answer is not a StreamingChannelList document"},
        {"no capabilities", [](ScriptedCamera& c) { c.Answer("/PSIA/Streaming/channels/101/capabilities", "x", 404); },
         "127.0.0.1", "GET /PSIA/Streaming/channels/101/capabilities answered HTTP 404"},
        {"capabilities without a known codec",
         [](ScriptedCamera& c) {
             c.Answer("/PSIA/Streaming/channels/101/capabilities",
                      "<StreamingChannel><Video><videoCodecType opt=\"H.265\"/></Video></StreamingChannel>");
         },
         "127.0.0.1",
         "GET /PSIA/Streaming/channels/101/capabilities: the answer offers no known codec with a resolution and a "
         "frame rate"},
        {"no address", [](ScriptedCamera&) {}, nullptr, "GET /PSIA/System/deviceInfo: no camera address"},
    };
    for (const Case& c : cases) {
        ScriptedCamera camera;
        ASSERT_TRUE(camera.started);
        c.change(camera);
        CCapabilityQuery query;
        auto outcome = RunQuery(query, camera.server.Port(), 0, c.address);
        ExpectFailure(*outcome, std::string("Failed to get camera properties: ") + c.cause, c.what);
        EXPECT_TRUE(outcome->results.Calls().empty()) << c.what;
    }
}

TEST(CapabilityQuery, PortListsThatCannotBeReadLeaveTheCountsOut) {
    struct Case {
        const char* what;
        int combined;
        int inputs;
        Lines counts;
    } cases[] = {
        {"every list fails", 503, 503, {}},
        {"only the inputs list answers", 404, 200, {"SetValue 2 1"}},
    };
    for (const Case& c : cases) {
        ScriptedCamera camera;
        ASSERT_TRUE(camera.started);
        camera.Answer("/PSIA/System/IO", "unavailable", c.combined);
        camera.Answer("/PSIA/System/IO/inputs", kInputs, c.inputs);
        camera.Answer("/PSIA/System/IO/outputs", "unavailable", 503);
        CCapabilityQuery query;
        auto outcome = RunQuery(query, camera.server.Port());
        EXPECT_EQ(outcome->callback.successes, 1) << c.what;
        EXPECT_EQ(CountLines(outcome->results.Calls()), c.counts) << c.what;
    }
}

TEST(CapabilityQuery, OneCallbackUntilUninitAndTheVideoStandardFlag) {
    ScriptedCamera camera;
    ASSERT_TRUE(camera.started);
    CCapabilityQuery query;
    fakes::FakeCapabilityCallback first, second;
    struct Case {
        uint8_t flag;
        const char* value;
    } cases[] = {{2, "1"}, {0, "0"}, {255, "1"}};
    for (const Case& c : cases) {
        ASSERT_EQ(query.Init(&first, c.flag), 1);
        EXPECT_EQ(query.Init(&second, c.flag ? 0 : 1), 0);
        fakes::FakeCapabilityResults results;
        ASSERT_EQ(query.Start("127.0.0.1", camera.server.Port(), "", "", &results), 1);
        ASSERT_TRUE(fakes::WaitUntil([&] { return results.Calls().size() >= 24; }, 10000));
        EXPECT_EQ(query.Uninit(), 1);
        Lines calls = results.Calls();
        EXPECT_EQ(calls[20], "Property 1 SetName Video standard");
        EXPECT_EQ(calls[23], std::string("Property 1 SetValue ") + c.value) << int(c.flag);
    }
    // The first registration got every answer.
    EXPECT_EQ(first.successes, 3);
    EXPECT_EQ(second.successes + second.failures, 0);
}

TEST(CapabilityQuery, WithoutACallbackTheQueryDoesNothing) {
    ScriptedCamera camera;
    ASSERT_TRUE(camera.started);
    CCapabilityQuery query;
    fakes::FakeCapabilityResults results;
    EXPECT_EQ(query.Start("127.0.0.1", camera.server.Port(), "", "", &results), 1);
    EXPECT_EQ(query.Terminate(), 1);
    EXPECT_EQ(query.Uninit(), 1);
    EXPECT_TRUE(camera.Requests().empty());
    EXPECT_TRUE(results.Calls().empty());
}

// What happened to the properties objects of one query state, seen from
// outside (the objects themselves may be gone).
struct Tracking {
    std::atomic<int> alive{0};
    std::atomic<bool> querying{false};
    std::atomic<bool> terminatedAtEnd{false};
};

// A properties object whose answers the test chooses.
class ScriptedProperties : public CCameraPropertiesEx {
public:
    enum class Step { Succeed, Fail, Throw, WaitForTerminate, Hang };

    ScriptedProperties(Step query, Step save, Tracking& tracking)
        : CCameraPropertiesEx(DEVICE_INFO(), 0), query_(query), save_(save), tracking_(tracking) {
        ++tracking_.alive;
    }
    ~ScriptedProperties() override {
        tracking_.terminatedAtEnd = TerminateRequested();
        --tracking_.alive;
    }

    bool Query(int32_t& error) override {
        tracking_.querying = true;
        if (query_ == Step::Fail) error = 3;
        return Act(query_);
    }
    bool Save(ipcapture::ICapabilityResults*) override { return Act(save_); }

private:
    bool Act(Step step) {
        switch (step) {
            case Step::Succeed:
                return true;
            case Step::Fail:
                return false;
            case Step::Throw:
                throw std::runtime_error("camera answer out of range");
            case Step::WaitForTerminate:
                while (!TerminateRequested()) platform::SleepMs(2);
                return true;
            case Step::Hang:
                for (;;) platform::SleepMs(20);
        }
        return false;
    }

    Step query_;
    Step save_;
    Tracking& tracking_;
};

using Step = ScriptedProperties::Step;

CCapabilityQuery::Factory Make(Step query, Step save, Tracking& tracking) {
    return [=, &tracking](const DEVICE_INFO&, int32_t) -> std::unique_ptr<CCameraPropertiesEx> {
        return std::make_unique<ScriptedProperties>(query, save, tracking);
    };
}

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// Starts a query on the host's objects, waits until it is asking the camera,
// then runs Uninit; gives how long Uninit took.
int64_t UninitWhileQuerying(CCapabilityQuery& query, fakes::FakeCapabilityCallback& callback,
                            fakes::FakeCapabilityResults& results, const Tracking& tracking) {
    EXPECT_EQ(query.Init(&callback, 0), 1);
    EXPECT_EQ(query.Start("127.0.0.1", 1, "", "", &results), 1);
    EXPECT_TRUE(fakes::WaitUntil([&] { return tracking.querying.load(); }));
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(query.Uninit(), 1);
    return MillisecondsSince(before);
}

TEST(CapabilityQuery, EveryFailureIsReportedWithItsMessage) {
    struct Case {
        bool create;
        Step query;
        Step save;
        const char* message;
    } cases[] = {
        {false, Step::Succeed, Step::Succeed, "Failed to create camera properties object"},
        {true, Step::Fail, Step::Succeed, "Failed to get camera properties"},
        {true, Step::Throw, Step::Succeed, "Failed to get camera properties"},
        {true, Step::Succeed, Step::Fail, "Failed to save capability query results"},
        {true, Step::Succeed, Step::Throw, "Failed to save capability query results"},
    };
    for (const Case& c : cases) {
        Tracking tracking;
        CCapabilityQuery::Factory factory = Make(c.query, c.save, tracking);
        if (!c.create) factory = [](const DEVICE_INFO&, int32_t) { return std::unique_ptr<CCameraPropertiesEx>(); };
        CCapabilityQuery query(factory);
        auto outcome = RunQuery(query, 1);
        ExpectFailure(*outcome, c.message, c.message);
        EXPECT_EQ(tracking.alive, 0) << c.message;
    }
}

TEST(CapabilityQuery, TerminateReachesTheRunningQuery) {
    Tracking tracking;
    CCapabilityQuery query(Make(Step::WaitForTerminate, Step::Succeed, tracking));
    fakes::FakeCapabilityCallback callback;
    fakes::FakeCapabilityResults results;
    ASSERT_EQ(query.Init(&callback, 0), 1);
    ASSERT_EQ(query.Start("127.0.0.1", 1, "", "", &results), 1);
    ASSERT_TRUE(fakes::WaitUntil([&] { return tracking.querying.load(); }));
    EXPECT_FALSE(callback.WaitForCall(50));
    EXPECT_EQ(query.Terminate(), 1);
    // The query still ends normally, and its object stays until Uninit.
    EXPECT_TRUE(callback.WaitForCall(2000));
    EXPECT_EQ(callback.successes, 1);
    EXPECT_EQ(tracking.alive, 1);
    EXPECT_EQ(query.Uninit(), 1);
    EXPECT_EQ(tracking.alive, 0);
}

TEST(CapabilityQuery, UninitStopsAQueryThatOverrunsItsBound) {
    SKIP_FORCED_STOP_UNDER_TSAN();
    Tracking tracking;
    CCapabilityQuery query(Make(Step::Hang, Step::Succeed, tracking), 300);
    fakes::FakeCapabilityCallback callback;
    fakes::FakeCapabilityResults results;
    int64_t took = UninitWhileQuerying(query, callback, results, tracking);
    EXPECT_GE(took, 280);
    EXPECT_LT(took, 2500);
    // Asked to end first, then stopped on its way: no answer, nothing left.
    EXPECT_EQ(tracking.alive, 0);
    EXPECT_TRUE(tracking.terminatedAtEnd);
    EXPECT_EQ(callback.successes + callback.failures, 0);
    EXPECT_TRUE(results.Calls().empty());
    EXPECT_EQ(query.Init(&callback, 0), 1);
    EXPECT_EQ(query.Uninit(), 1);
}

TEST(CapabilityQuery, UninitEndsAQueryWaitingOnASlowCameraWellWithinItsBound) {
    // Each camera would hold its exchange until the 5 s device time-out, and
    // the query's later requests would follow: longer than the 5000 ms bound.
    struct Case {
        const char* what;
        const char* slowTarget;
        HttpReply slowReply;
        Lines requests;
        const char* cause;
    } cases[] = {
        {"device information trickles in", "/PSIA/System/deviceInfo", fakes::DribbledReply(200, kDeviceInfo, 300, 40),
         {"GET /PSIA/System/deviceInfo"}, "GET /PSIA/System/deviceInfo: stopped before the answer"},
        {"capabilities never come", "/PSIA/Streaming/channels/101/capabilities", fakes::UnansweredReply(),
         {"GET /PSIA/System/deviceInfo", "GET /PSIA/Streaming/channels",
          "GET /PSIA/Streaming/channels/101/capabilities"},
         "GET /PSIA/Streaming/channels/101/capabilities: stopped before the answer"},
        // Cut short, the port lists would read as none: no answer either.
        {"port list trickles in", "/PSIA/System/IO", fakes::DribbledReply(200, kPortList, 300),
         {"GET /PSIA/System/deviceInfo", "GET /PSIA/Streaming/channels",
          "GET /PSIA/Streaming/channels/101/capabilities", "GET /PSIA/System/IO"},
         "stopped before the port lists were read"},
    };
    for (const Case& c : cases) {
        ScriptedCamera camera;
        ASSERT_TRUE(camera.started);
        camera.Answer(c.slowTarget, c.slowReply);
        CCapabilityQuery query;
        auto callback = std::make_unique<fakes::FakeCapabilityCallback>();
        auto results = std::make_unique<fakes::FakeCapabilityResults>();
        ASSERT_EQ(query.Init(callback.get(), 0), 1);
        ASSERT_EQ(query.Start("127.0.0.1", camera.server.Port(), "admin", "12345", results.get()), 1);
        ASSERT_TRUE(camera.server.WaitForRequests(c.requests.size(), 5000)) << c.what;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(callback->successes + callback->failures, 0) << c.what;

        auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(query.Uninit(), 1);
        EXPECT_LT(MillisecondsSince(before), 1500) << c.what;
        // The query ended inside Uninit, and told the host before it returned.
        EXPECT_EQ(callback->successes, 0) << c.what;
        EXPECT_EQ(callback->failures, 1) << c.what;
        EXPECT_EQ(callback->lastCode, 3) << c.what;
        EXPECT_EQ(callback->lastMessage, std::string("Failed to get camera properties: ") + c.cause) << c.what;
        EXPECT_TRUE(results->Calls().empty()) << c.what;
        EXPECT_EQ(camera.Requests(), c.requests) << c.what;
        // The host may free its objects at once.
        callback.reset();
        results.reset();
    }
}

// A query that neither gives up on Uninit's abort nor reaches a point where
// a forced stop can act; once the test lets it go, it answers in full.
class StuckProperties : public CCameraPropertiesEx {
public:
    StuckProperties(std::atomic<bool>& release, Tracking& tracking)
        : CCameraPropertiesEx(DEVICE_INFO(), 0), release_(release), tracking_(tracking) {
        ++tracking_.alive;
        name = "PSIA Stuck";
    }
    ~StuckProperties() override { --tracking_.alive; }

    bool Query(int32_t&) override {
        tracking_.querying = true;
        while (!release_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return true;
    }

private:
    std::atomic<bool>& release_;
    Tracking& tracking_;
};

TEST(CapabilityQuery, AQueryThatOutlivesUninitNeverReachesTheHostAgain) {
    Tracking tracking;
    std::atomic<bool> release{false};
    CCapabilityQuery query(
        [&](const DEVICE_INFO&, int32_t) -> std::unique_ptr<CCameraPropertiesEx> {
            return std::make_unique<StuckProperties>(release, tracking);
        },
        300);
    fakes::FakeCapabilityCallback callback;
    fakes::FakeCapabilityResults results;
    EXPECT_GE(UninitWhileQuerying(query, callback, results, tracking), 280);
    EXPECT_EQ(tracking.alive, 1);  // still running

    // Let it answer; it ends without a word to the host.
    release = true;
    ASSERT_TRUE(fakes::WaitUntil([&] { return tracking.alive == 0; }, 5000));
    EXPECT_EQ(callback.successes + callback.failures, 0);
    EXPECT_TRUE(results.Calls().empty());
}

}  // namespace
