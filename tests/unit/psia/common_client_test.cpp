#include "psia/common_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "psia/http_auth_memory.h"
#include "psia/psia_builders.h"
#include "support/abort_run.h"
#include "support/psia_test_records.h"
#include "support/test_http_server.h"

namespace {

using namespace telvaro;
using fakes::HttpReply;
using fakes::RecordedRequest;
using fakes::TestHttpServer;

const char kContentType[] = "application/xml; charset=\"UTF-8\"";

std::string Status(int code, const char* text = "OK") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ResponseStatus version=\"1.0\" "
           "xmlns=\"urn:psialliance-org\"><requestURL>/</requestURL><statusCode>" +
           std::to_string(code) + "</statusCode><statusString>" + text + "</statusString></ResponseStatus>";
}

const char kDeviceInfo[] =
    "<DeviceInfo xmlns=\"urn:psialliance-org\"><deviceName>Lobby</deviceName><deviceID>42</deviceID>"
    "<model>PX-1</model><macAddress>00:11:22:33:44:55</macAddress><firmwareVersion>2.1</firmwareVersion></DeviceInfo>";
const char kChannelList[] =
    "<StreamingChannelList xmlns=\"urn:psialliance-org\"><StreamingChannel><id>101</id></StreamingChannel>"
    "<StreamingChannel><id>102</id></StreamingChannel></StreamingChannelList>";
const char kChannel[] =
    "<StreamingChannel xmlns=\"urn:psialliance-org\"><id>101</id><enabled>true</enabled><Video>"
    "<videoCodecType>MJPEG</videoCodecType><videoResolutionWidth>640</videoResolutionWidth></Video></StreamingChannel>";
const char kCapabilities[] =
    "<StreamingChannel xmlns=\"urn:psialliance-org\"><Transport><rtspPortNo>8554</rtspPortNo></Transport><Video>"
    "<videoCodecType opt=\"H.264\"/><videoResolutionWidth opt=\"640\"/><videoResolutionHeight opt=\"480\"/>"
    "<maxFrameRate opt=\"2500\"/></Video></StreamingChannel>";
const char kPortList[] =
    "<IOPortList xmlns=\"urn:psialliance-org\"><IOInputPortList><IOInputPort><id>0</id></IOInputPort>"
    "<IOInputPort><id>1</id></IOInputPort></IOInputPortList><IOOutputPortList><IOOutputPort><id>5</id>"
    "</IOOutputPort></IOOutputPortList></IOPortList>";
const char kInputs[] =
    "<IOInputPortList xmlns=\"urn:psialliance-org\"><IOInputPort><id>3</id></IOInputPort></IOInputPortList>";
const char kOutputs[] =
    "<IOOutputPortList xmlns=\"urn:psialliance-org\"><IOOutputPort><id>4</id></IOOutputPort></IOOutputPortList>";
const char kInactive[] = "<IOPortStatus xmlns=\"urn:psialliance-org\"><ioState>inactive</ioState></IOPortStatus>";

class CommonClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Every test meets its cameras for the first time.
        Web::CHttpAuthMemory::Instance().ForgetAll();
        ASSERT_TRUE(server.Start());
        device.address = "127.0.0.1";
        device.port = server.Port();
        device.timeout = 2000;
        device.userName = "admin";
        device.password = "12345";
        server.SetHandler([this](const RecordedRequest& r) {
            std::lock_guard<std::mutex> hold(repliesMutex);
            auto it = replies.find(r.method + " " + r.target);
            return it != replies.end() ? it->second : HttpReply(404, Status(4, "Not Found"));
        });
    }

    void Answer(const std::string& request, HttpReply reply) {
        std::lock_guard<std::mutex> hold(repliesMutex);
        replies[request] = std::move(reply);
    }
    void ClearAnswers() {
        std::lock_guard<std::mutex> hold(repliesMutex);
        replies.clear();
    }

    // The requests from index first on, as "METHOD target".
    std::vector<std::string> Lines(size_t first = 0) {
        std::vector<std::string> lines;
        auto requests = server.Requests();
        for (size_t i = first; i < requests.size(); ++i) lines.push_back(requests[i].method + " " + requests[i].target);
        return lines;
    }

    TestHttpServer server;
    DEVICE_INFO device;
    std::mutex repliesMutex;
    std::map<std::string, HttpReply> replies;
};

void ExpectGet(const RecordedRequest& r, const std::string& target) {
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, target);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.HeaderCount("Content-Type"), 0u) << target;
}

void ExpectPut(const RecordedRequest& r, const std::string& target, const std::string& body) {
    EXPECT_EQ(r.method, "PUT");
    EXPECT_EQ(r.target, target);
    EXPECT_EQ(r.HeaderCount("Content-Type"), 1u) << target;
    EXPECT_EQ(r.Header("Content-Type"), kContentType) << target;
    EXPECT_EQ(r.HeaderCount("Content-Length"), 1u) << target;
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(body.size())) << target;
    EXPECT_EQ(r.body, body) << target;
}

struct GetOperation {
    const char* name;
    std::string path;
    std::string document;
    std::function<bool(CCommonClient&)> run;     // runs the operation on a fresh record
    std::function<bool(CCommonClient&)> result;  // runs it and checks the record
};

std::vector<GetOperation> GetOperations() {
    return {
        {"QueryDeviceInfo", "/PSIA/System/deviceInfo", kDeviceInfo,
         [](CCommonClient& c) {
             PsiaDeviceInfo i;
             return c.QueryDeviceInfo(i);
         },
         [](CCommonClient& c) {
             PsiaDeviceInfo i;
             return c.QueryDeviceInfo(i) && i.deviceName == "Lobby" && i.deviceID == "42" && i.model == "PX-1" &&
                    i.macAddress == "00:11:22:33:44:55" && i.firmwareVersion == "2.1";
         }},
        {"GetStreamingChannels", "/PSIA/Streaming/channels", kChannelList,
         [](CCommonClient& c) {
             std::vector<StreamingChannelSettings> l;
             return c.GetStreamingChannels(l);
         },
         [](CCommonClient& c) {
             std::vector<StreamingChannelSettings> l;
             return c.GetStreamingChannels(l) && l.size() == 2 && l[0].id == 101 && l[1].id == 102 &&
                    l[1].videoCodecType == "H.264";
         }},
        {"GetStreamingChannel", "/PSIA/Streaming/channels/101", kChannel,
         [](CCommonClient& c) {
             StreamingChannelSettings s;
             return c.GetStreamingChannel(101, s);
         },
         [](CCommonClient& c) {
             StreamingChannelSettings s;
             return c.GetStreamingChannel(101, s) && s.id == 101 && s.enabled && s.videoCodecType == "MJPEG" &&
                    s.videoResolutionWidth == 640;
         }},
        {"GetChannelCapabilities", "/PSIA/Streaming/channels/101/capabilities", kCapabilities,
         [](CCommonClient& c) {
             ChannelCapabilities caps;
             return c.GetChannelCapabilities(101, caps);
         },
         [](CCommonClient& c) {
             ChannelCapabilities caps;
             return c.GetChannelCapabilities(101, caps) && caps.channelId == 0 && caps.rtspPort == 8554 &&
                    caps.codecs == std::vector<uint32_t>{kCodecH264} && caps.frameRates == std::set<uint32_t>{25};
         }},
        {"GetIOPorts", "/PSIA/System/IO", kPortList,
         [](CCommonClient& c) {
             IOPortLists p;
             return c.GetIOPorts(p);
         },
         [](CCommonClient& c) {
             IOPortLists p;
             return c.GetIOPorts(p) && p.inputs == std::vector<uint32_t>{0, 1} && p.outputs == std::vector<uint32_t>{5};
         }},
        {"GetInputInactive", "/PSIA/System/IO/inputs/7/status", kInactive,
         [](CCommonClient& c) {
             bool inactive = false;
             return c.GetInputInactive(7, inactive);
         },
         [](CCommonClient& c) {
             bool inactive = false;
             return c.GetInputInactive(7, inactive) && inactive;
         }},
        {"Reboot", "/PSIA/System/reboot", Status(1), [](CCommonClient& c) { return c.Reboot(); },
         [](CCommonClient& c) { return c.Reboot(); }},
    };
}

TEST_F(CommonClientTest, EachReadIsOneGetOfItsResource) {
    CCommonClient client;
    ASSERT_TRUE(client.Connect(device));
    size_t seen = 0;
    for (const GetOperation& op : GetOperations()) {
        Answer("GET " + op.path, HttpReply(200, op.document));
        EXPECT_TRUE(op.result(client)) << op.name;
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), seen + 1) << op.name;
        ExpectGet(requests[seen], op.path);
        ++seen;
    }
    // One sender: every request went over the first connection.
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST_F(CommonClientTest, ReadsFailOnHttpErrorsEmptyBodiesAndUnreadableDocuments) {
    CCommonClient client;
    ASSERT_TRUE(client.Connect(device));
    struct Reply {
        HttpReply reply;
        bool rebootSucceeds;  // Reboot judges only the HTTP exchange
    } replies[] = {
        {HttpReply(404, kDeviceInfo), false},
        {HttpReply(500, "<x/>"), false},
        {HttpReply(200, ""), false},
        {HttpReply(200, std::string("\0<x/>", 5)), false},  // empty as a terminated text
        {HttpReply(200, "no xml here"), true},
    };
    for (const GetOperation& op : GetOperations()) {
        if (op.path == "/PSIA/System/IO") continue;  // falls back instead, tested below
        for (const Reply& r : replies) {
            ClearAnswers();
            Answer("GET " + op.path, r.reply);
            bool expected = op.path == "/PSIA/System/reboot" && r.rebootSucceeds;
            EXPECT_EQ(op.run(client), expected) << op.name << " " << r.reply.status << " " << r.reply.body;
        }
    }
}

TEST_F(CommonClientTest, SetStreamingChannelFallsBackAndReboots) {
    const std::string channelPut = "PUT /PSIA/Streaming/channels/101";
    const std::string listPut = "PUT /PSIA/Streaming/channels";
    const std::string reboot = "GET /PSIA/System/reboot";
    struct Case {
        const char* what;
        HttpReply channel;
        HttpReply list;
        HttpReply rebootReply;
        bool result;
        std::vector<std::string> requests;
    } cases[] = {
        {"accepted", HttpReply(200, Status(1)), HttpReply(), HttpReply(), true, {channelPut}},
        {"reboot required", HttpReply(200, Status(7, "Reboot Required")), HttpReply(), HttpReply(200, Status(1)),
         true, {channelPut, reboot}},
        {"reboot refused", HttpReply(200, Status(7)), HttpReply(), HttpReply(500, "busy"), false, {channelPut, reboot}},
        {"invalid operation", HttpReply(200, Status(4)), HttpReply(200, Status(1)), HttpReply(), false, {channelPut}},
        {"unreadable status", HttpReply(200, "OK"), HttpReply(200, Status(1)), HttpReply(), false, {channelPut}},
        {"status without code", HttpReply(200, "<ResponseStatus/>"), HttpReply(), HttpReply(), false, {channelPut}},
        {"not found", HttpReply(404, Status(4)), HttpReply(200, Status(1)), HttpReply(), true, {channelPut, listPut}},
        {"empty answer", HttpReply(200, ""), HttpReply(200, Status(1)), HttpReply(), true, {channelPut, listPut}},
        {"not allowed, list needs a reboot", HttpReply(405, ""), HttpReply(200, Status(7)), HttpReply(200, "done"),
         true, {channelPut, listPut, reboot}},
        {"list refused", HttpReply(405, ""), HttpReply(200, Status(4)), HttpReply(), false, {channelPut, listPut}},
        {"both fail", HttpReply(500, ""), HttpReply(404, Status(4)), HttpReply(), false, {channelPut, listPut}},
    };
    CCommonClient client;
    ASSERT_TRUE(client.Connect(device));
    const StreamingChannelSettings settings = psia_test::SampleSettings();
    for (const Case& c : cases) {
        ClearAnswers();
        Answer(channelPut, c.channel);
        Answer(listPut, c.list);
        Answer(reboot, c.rebootReply);
        size_t first = server.RequestCount();
        EXPECT_EQ(client.SetStreamingChannel(settings), c.result) << c.what;
        EXPECT_EQ(Lines(first), c.requests) << c.what;
        auto requests = server.Requests();
        ASSERT_GT(requests.size(), first);
        ExpectPut(requests[first], "/PSIA/Streaming/channels/101", BuildStreamingChannel(settings));
        if (c.requests.size() > 1 && c.requests[1] == listPut) {
            ExpectPut(requests[first + 1], "/PSIA/Streaming/channels", BuildStreamingChannelList(settings));
        }
    }
}

TEST_F(CommonClientTest, IOPortsFallBackToTheSingleLists) {
    struct Case {
        const char* what;
        HttpReply all, inputs, outputs;
        bool result;
        std::vector<uint32_t> in, out;
        size_t requests;
    } cases[] = {
        {"combined list", HttpReply(200, kPortList), HttpReply(), HttpReply(), true, {0, 1}, {5}, 1},
        {"combined list unreadable", HttpReply(200, "<IOPortList>"), HttpReply(200, kInputs), HttpReply(), false,
         {}, {}, 1},
        {"inputs only", HttpReply(404, ""), HttpReply(200, kInputs), HttpReply(404, ""), true, {3}, {}, 3},
        {"both halves", HttpReply(405, ""), HttpReply(200, kInputs), HttpReply(200, kOutputs), true, {3}, {4}, 3},
        {"halves unreadable", HttpReply(404, ""), HttpReply(200, "x"), HttpReply(200, kOutputs), true, {}, {4}, 3},
        {"nothing at all", HttpReply(503, ""), HttpReply(503, ""), HttpReply(503, ""), true, {}, {}, 3},
    };
    CCommonClient client;
    ASSERT_TRUE(client.Connect(device));
    for (const Case& c : cases) {
        ClearAnswers();
        Answer("GET /PSIA/System/IO", c.all);
        Answer("GET /PSIA/System/IO/inputs", c.inputs);
        Answer("GET /PSIA/System/IO/outputs", c.outputs);
        IOPortLists ports;
        ports.inputs = {9, 9};
        ports.outputs = {9};
        size_t first = server.RequestCount();
        EXPECT_EQ(client.GetIOPorts(ports), c.result) << c.what;
        EXPECT_EQ(ports.inputs, c.in) << c.what;
        EXPECT_EQ(ports.outputs, c.out) << c.what;
        std::vector<std::string> expected = {"GET /PSIA/System/IO", "GET /PSIA/System/IO/inputs",
                                             "GET /PSIA/System/IO/outputs"};
        expected.resize(c.requests);
        EXPECT_EQ(Lines(first), expected) << c.what;
    }
}

TEST_F(CommonClientTest, TriggerOutputPutsThePortDataAndJudgesTheStatus) {
    struct Case {
        uint32_t id;
        bool high;
        HttpReply reply;
        bool result;
    } cases[] = {
        {0, true, HttpReply(200, Status(1)), true},
        {2, false, HttpReply(200, Status(7)), true},
        {1, true, HttpReply(200, Status(4)), false},
        {1, true, HttpReply(200, "<ResponseStatus><statusCode>1</statusCode>"), false},
        {3, false, HttpReply(404, Status(1)), false},
    };
    CCommonClient client;
    ASSERT_TRUE(client.Connect(device));
    for (const Case& c : cases) {
        std::string target = "/PSIA/System/IO/outputs/" + std::to_string(c.id) + "/trigger";
        ClearAnswers();
        Answer("PUT " + target, c.reply);
        Answer("GET /PSIA/System/reboot", HttpReply(200, Status(1)));
        size_t first = server.RequestCount();
        EXPECT_EQ(client.TriggerOutput(c.id, c.high), c.result) << target;
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), first + 1) << target;  // no reboot, no second try
        ExpectPut(requests[first], target,
                  std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><IOPortData xmlns=\"urn:psialliance-org\">"
                              "<outputState>") +
                      (c.high ? "high" : "low") + "</outputState></IOPortData>");
    }
}

TEST_F(CommonClientTest, WithoutASenderOrWithTheAbortFlagSetNothingGoesOut) {
    for (const GetOperation& op : GetOperations()) Answer("GET " + op.path, HttpReply(200, op.document));
    Answer("PUT /PSIA/Streaming/channels/101", HttpReply(200, Status(1)));
    Answer("PUT /PSIA/Streaming/channels", HttpReply(200, Status(1)));
    Answer("PUT /PSIA/System/IO/outputs/0/trigger", HttpReply(200, Status(1)));

    CCommonClient never;
    CCommonClient disconnected;
    ASSERT_TRUE(disconnected.Connect(device));
    disconnected.Disconnect();
    // The flag reaches the senders made later and the one already there.
    std::atomic<bool> abort{true};
    CCommonClient abortedBefore;
    abortedBefore.SetAbortFlag(&abort);
    ASSERT_TRUE(abortedBefore.Connect(device));
    CCommonClient abortedAfter;
    ASSERT_TRUE(abortedAfter.Connect(device));
    abortedAfter.SetAbortFlag(&abort);
    for (CCommonClient* client : {&never, &disconnected, &abortedBefore, &abortedAfter}) {
        for (const GetOperation& op : GetOperations()) EXPECT_FALSE(op.run(*client)) << op.name;
        EXPECT_FALSE(client->SetStreamingChannel(psia_test::SampleSettings()));
        EXPECT_FALSE(client->TriggerOutput(0, true));
    }
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(server.ConnectionCount(), 0);

    abort = false;
    for (CCommonClient* client : {&abortedBefore, &abortedAfter}) EXPECT_TRUE(client->Reboot());
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(CommonClientTest, EachConnectStartsAFreshSender) {
    fakes::HttpAuthConfig auth;
    auth.userName = "admin";
    auth.password = "12345";
    auth.offered = {fakes::HttpAuthScheme::Digest};
    server.RequireAuth(auth);
    Answer("GET /PSIA/System/reboot", HttpReply(200, Status(1)));

    CCommonClient client;
    ASSERT_TRUE(client.Connect(device));
    ASSERT_TRUE(client.Reboot());
    ASSERT_TRUE(client.Reboot());
    ASSERT_TRUE(client.Connect(device));
    ASSERT_TRUE(client.Reboot());
    // No credentials until the camera asks; Digest from then on, also at once
    // from the new sender (on a connection of its own).
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    const char* schemes[] = {"", "Digest ", "Digest ", "Digest "};
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].Header("Authorization").substr(0, 7), schemes[i]) << i;
        EXPECT_EQ(requests[i].authorizedWith, i == 0 ? "" : "Digest") << i;
    }
    EXPECT_EQ(requests[3].connection, 2);
}

TEST_F(CommonClientTest, DisconnectDuringARequestLetsItFinish) {
    HttpReply slow(200, kChannel);
    slow.delayMs = 300;
    Answer("GET /PSIA/Streaming/channels/101", slow);
    CCommonClient client;
    ASSERT_TRUE(client.Connect(device));
    StreamingChannelSettings settings;
    bool result = false;
    std::thread reader([&] { result = client.GetStreamingChannel(101, settings); });
    ASSERT_TRUE(server.WaitForRequests(1, 2000));
    client.Disconnect();
    reader.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(settings.videoCodecType, "MJPEG");
    EXPECT_FALSE(client.Reboot());
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(CommonClientTest, AnAbortedRequestEndsTheOperationWithoutFurtherRequests) {
    // Without the abort each would go on to its fallback or its reboot once
    // the device time-out (5 s) ends the stalled request.
    struct Case {
        const char* what;
        std::map<std::string, HttpReply> answers;
        std::function<bool(CCommonClient&)> operation;
        std::vector<std::string> requests;
    } cases[] = {
        {"channel PUT",
         {{"PUT /PSIA/Streaming/channels/101", fakes::UnansweredReply()},
          {"PUT /PSIA/Streaming/channels", HttpReply(200, Status(1))}},
         [](CCommonClient& c) { return c.SetStreamingChannel(psia_test::SampleSettings()); },
         {"PUT /PSIA/Streaming/channels/101"}},
        {"reboot after the channel PUT",
         {{"PUT /PSIA/Streaming/channels/101", HttpReply(200, Status(7))},
          {"GET /PSIA/System/reboot", fakes::UnansweredReply()}},
         [](CCommonClient& c) { return c.SetStreamingChannel(psia_test::SampleSettings()); },
         {"PUT /PSIA/Streaming/channels/101", "GET /PSIA/System/reboot"}},
        {"combined port list",
         {{"GET /PSIA/System/IO", fakes::DribbledReply(200, kPortList, 100)},
          {"GET /PSIA/System/IO/inputs", HttpReply(200, kInputs)},
          {"GET /PSIA/System/IO/outputs", HttpReply(200, kOutputs)}},
         [](CCommonClient& c) {
             IOPortLists ports;
             return c.GetIOPorts(ports);
         },
         {"GET /PSIA/System/IO"}},
        {"input port list",
         {{"GET /PSIA/System/IO", HttpReply(404, "")},
          {"GET /PSIA/System/IO/inputs", fakes::UnansweredReply()},
          {"GET /PSIA/System/IO/outputs", HttpReply(200, kOutputs)}},
         [](CCommonClient& c) {
             IOPortLists ports;
             return c.GetIOPorts(ports);
         },
         {"GET /PSIA/System/IO", "GET /PSIA/System/IO/inputs"}},
    };
    device.timeout = 5000;
    for (const Case& c : cases) {
        ClearAnswers();
        for (const auto& answer : c.answers) Answer(answer.first, answer.second);
        std::atomic<bool> abort{false};
        CCommonClient client;
        client.SetAbortFlag(&abort);
        ASSERT_TRUE(client.Connect(device));
        size_t first = server.RequestCount();
        auto outcome = fakes::RunAndAbort([&] { return c.operation(client); }, abort,
                                          [&] { return server.RequestCount() >= first + c.requests.size(); }, 150);
        EXPECT_TRUE(outcome.runningAtAbort) << c.what;
        EXPECT_FALSE(outcome.result) << c.what;
        EXPECT_GE(outcome.msAfterAbort, 0) << c.what;
        EXPECT_LT(outcome.msAfterAbort, 400) << c.what;
        EXPECT_EQ(Lines(first), c.requests) << c.what;
    }
}

}  // namespace
