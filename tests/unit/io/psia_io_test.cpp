#include "io/psia_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_driver.h"
#include "support/test_http_server.h"
#include "support/wait_until.h"

namespace {

std::string Status(const char* state) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><IOPortStatus xmlns=\"urn:psialliance-org\">") +
           (state ? std::string("<ioState>") + state + "</ioState>" : std::string()) + "</IOPortStatus>";
}

std::string ResponseStatus(int code) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ResponseStatus version=\"1.0\" "
           "xmlns=\"urn:psialliance-org\"><statusCode>" +
           std::to_string(code) + "</statusCode><statusString>x</statusString></ResponseStatus>";
}

class PsiaIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        telvaro::DEVICE_INFO info;
        info.address = "127.0.0.1";
        info.port = server.Port();
        info.timeout = 1000;
        driver.SetDeviceInfo(info);
    }
    void TearDown() override { server.Stop(); }

    std::vector<std::string> Targets() {
        std::vector<std::string> targets;
        for (const auto& r : server.Requests()) targets.push_back(r.method + " " + r.target);
        return targets;
    }

    fakes::TestHttpServer server;
    fakes::FakeDriver driver;
    fakes::FakeIOEventSink sink;
};

TEST_F(PsiaIOTest, PollsEveryInputInOrderEveryTwoSeconds) {
    driver.inputs = 3;
    const char* states[] = {"inactive", "active", "unknown"};
    server.SetHandler([&](const fakes::RecordedRequest& r) {
        for (int i = 0; i < 3; ++i)
            if (r.target == "/PSIA/System/IO/inputs/" + std::to_string(i) + "/status")
                return fakes::HttpReply(200, Status(states[i]));
        return fakes::HttpReply(404, "");
    });
    telvaro::CPSIAIO io(&driver);
    io.SetEventSink(&sink);
    ASSERT_TRUE(io.Start());
    // The first poll reports every input: "inactive" is 1, anything else 2.
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].index, i);
        EXPECT_EQ(events[i].state, i == 0 ? 1u : 2u);
    }
    auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(server.WaitForRequests(6, 4000));
    auto second = std::chrono::steady_clock::now();
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(second - first).count();
    EXPECT_GE(gap, 1900);
    EXPECT_LE(gap, 3000);
    io.Stop();
    auto targets = Targets();
    ASSERT_GE(targets.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(targets[i], "GET /PSIA/System/IO/inputs/" + std::to_string(i % 3) + "/status");
    // Nothing changed in the second poll: no further reports.
    EXPECT_EQ(sink.Events().size(), 3u);
}

TEST_F(PsiaIOTest, AFailingInputEndsThePollAndReportsTheFailure) {
    driver.inputs = 3;
    server.SetHandler([&](const fakes::RecordedRequest& r) {
        if (r.target == "/PSIA/System/IO/inputs/1/status") return fakes::HttpReply(500, "broken");
        return fakes::HttpReply(200, Status("active"));
    });
    telvaro::CPSIAIO io(&driver);
    io.SetEventSink(&sink);
    EXPECT_TRUE(io.Start());
    io.Stop();
    auto targets = Targets();
    ASSERT_GE(targets.size(), 2u);
    EXPECT_EQ(targets[0], "GET /PSIA/System/IO/inputs/0/status");
    EXPECT_EQ(targets[1], "GET /PSIA/System/IO/inputs/1/status");
    for (const auto& t : targets) EXPECT_NE(t, "GET /PSIA/System/IO/inputs/2/status");
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[0].failure);  // input 0 was read before the failure
    EXPECT_TRUE(events[1].failure);
    EXPECT_EQ(io.GetInputState(0), 0);
}

TEST_F(PsiaIOTest, OutputsAreTriggeredHighOnlyForOne) {
    driver.outputs = 2;
    std::atomic<int> code{1};
    server.SetHandler([&](const fakes::RecordedRequest&) { return fakes::HttpReply(200, ResponseStatus(code.load())); });
    telvaro::CPSIAIO io(&driver);
    io.SetEventSink(&sink);
    ASSERT_TRUE(io.Start());
    code = 7;  // "reboot required" still counts as written
    ASSERT_TRUE(io.SetOutput(0, 2));
    ASSERT_TRUE(io.SetOutput(1, 3));
    ASSERT_TRUE(server.WaitForRequests(4, 5000));
    ASSERT_TRUE(server.WaitForBody(3, 5000));
    io.Stop();
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    const char* expectedState[] = {"high", "high", "low", "low"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(requests[i].method, "PUT");
        EXPECT_EQ(requests[i].target, "/PSIA/System/IO/outputs/" + std::to_string(i % 2) + "/trigger");
        EXPECT_EQ(requests[i].body, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><IOPortData "
                                                "xmlns=\"urn:psialliance-org\"><outputState>") +
                                        expectedState[i] + "</outputState></IOPortData>");
        // Every write opens its own connection.
        EXPECT_EQ(requests[i].connection, static_cast<int>(i) + 1);
    }
    EXPECT_EQ(sink.Failures(), 0);
}

TEST_F(PsiaIOTest, ARefusedWriteIsReportedAndWrittenAgainNextTime) {
    driver.outputs = 1;
    std::atomic<int> code{1};
    server.SetHandler([&](const fakes::RecordedRequest&) { return fakes::HttpReply(200, ResponseStatus(code.load())); });
    telvaro::CPSIAIO io(&driver);
    io.SetEventSink(&sink);
    ASSERT_TRUE(io.Start());
    code = 4;
    io.SetOutput(0, 2);
    ASSERT_TRUE(sink.WaitForEvents(1, 5000));
    EXPECT_TRUE(sink.Events()[0].failure);
    EXPECT_EQ(driver.CountMessages("telvaro::CIOBase::ReportFailure: Camera 127.0.0.1: digital outputs: PUT "
                                   "/PSIA/System/IO/outputs/0/trigger answered statusCode 4 \"x\""),
              1u);
    code = 1;
    io.SetOutput(0, 2);
    ASSERT_TRUE(server.WaitForRequests(3, 5000));
    io.Stop();
    EXPECT_EQ(server.Requests().size(), 3u);
}

// Polls every 50 ms instead of every 2000 ms.
class FastPollingIO : public telvaro::CPSIAIO {
public:
    explicit FastPollingIO(telvaro::IDriver* driver) : CPSIAIO(driver) { SetPeriod(50); }
};

// A camera that keeps failing is named once per cause, not on every poll;
// after a good poll the same cause is news again.
TEST_F(PsiaIOTest, RepeatedPollFailuresAreToldOncePerCause) {
    driver.inputs = 1;
    std::atomic<int> status{500};
    server.SetHandler([&](const fakes::RecordedRequest&) {
        const int s = status.load();
        return s == 200 ? fakes::HttpReply(200, Status("active")) : fakes::HttpReply(s, "x");
    });
    FastPollingIO io(&driver);
    io.SetEventSink(&sink);
    EXPECT_TRUE(io.Start());
    const std::string prefix = "telvaro::CIOBase::ReportFailure: Camera 127.0.0.1: digital inputs: ";
    const std::string http500 = prefix + "GET /PSIA/System/IO/inputs/0/status answered HTTP 500";
    const std::string http404 = prefix + "GET /PSIA/System/IO/inputs/0/status answered HTTP 404";
    auto pollsAfter = [&](size_t more) { return server.WaitForRequests(server.Requests().size() + more, 5000); };
    ASSERT_TRUE(pollsAfter(5));
    EXPECT_EQ(driver.CountMessages(http500), 1u);
    status = 404;
    ASSERT_TRUE(pollsAfter(5));
    EXPECT_EQ(driver.CountMessages(http404), 1u);
    status = 200;
    ASSERT_TRUE(pollsAfter(3));
    status = 500;
    ASSERT_TRUE(pollsAfter(5));
    io.Stop();
    EXPECT_EQ(driver.CountMessages(http500), 2u);
    EXPECT_EQ(driver.CountMessages(prefix), 3u);
    EXPECT_GE(sink.Failures(), 10);
}

TEST_F(PsiaIOTest, StopReturnsPromptlyFromAStalledCameraWithoutReportingAFailure) {
    // Each stalled request would last until the 5 s device time-out: no
    // answer, or an answer that trickles in.
    struct Case {
        const char* what;
        uint32_t inputs;
        uint32_t outputs;
        fakes::HttpReply stalled;
    } cases[] = {
        {"poll unanswered", 1, 0, fakes::UnansweredReply()},
        {"poll trickled", 1, 0, fakes::DribbledReply(200, Status("active"), 300, 40)},
        {"write unanswered", 0, 1, fakes::UnansweredReply()},
        {"write trickled", 0, 1, fakes::DribbledReply(200, ResponseStatus(1), 300, 40)},
    };
    for (const Case& c : cases) {
        fakes::TestHttpServer camera;
        ASSERT_TRUE(camera.Start());
        std::atomic<bool> stall{false};
        std::atomic<bool> stalling{false};
        camera.SetHandler([&](const fakes::RecordedRequest& r) {
            if (stall) {
                stalling = true;
                return c.stalled;
            }
            return fakes::HttpReply(200, r.method == "PUT" ? ResponseStatus(1) : Status("inactive"));
        });
        telvaro::DEVICE_INFO info;
        info.address = "127.0.0.1";
        info.port = camera.Port();
        info.timeout = 5000;
        driver.SetDeviceInfo(info);
        driver.inputs = c.inputs;
        driver.outputs = c.outputs;
        sink.Clear();

        FastPollingIO io(&driver);
        io.SetEventSink(&sink);
        ASSERT_TRUE(io.Start()) << c.what;
        stall = true;
        if (c.outputs) io.SetOutput(0, 2);
        ASSERT_TRUE(fakes::WaitUntil([&] { return stalling.load(); }, 5000)) << c.what;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

        auto start = std::chrono::steady_clock::now();
        io.Stop();
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000) << c.what;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(sink.Failures(), 0) << c.what;
    }
}

}  // namespace
