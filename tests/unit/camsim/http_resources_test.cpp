// The PSIA side of the camera simulator, through libcurl with its own Basic
// and Digest.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "camsim/camera.h"
#include "camsim/text_util.h"
#include "camsim_clients.h"
#include "support/wait_until.h"

namespace {

using camsim_test::Http;
using camsim_test::XmlValue;

const char kChannelPut[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><StreamingChannel version=\"1.0\" xmlns=\"urn:psialliance-org\">"
    "<id>1</id><enabled>true</enabled><Video><enabled>true</enabled><videoInputChannelID>0</videoInputChannelID>"
    "<videoCodecType>MJPEG</videoCodecType><videoResolutionWidth>1280</videoResolutionWidth>"
    "<videoResolutionHeight>720</videoResolutionHeight><videoQualityControlType>VBR</videoQualityControlType>"
    "<constantBitRate>4096</constantBitRate><fixedQuality>80</fixedQuality><maxFrameRate>1500</maxFrameRate>"
    "<keyFrameInterval>1000</keyFrameInterval></Video></StreamingChannel>";

class CamsimHttp : public ::testing::Test {
protected:
    void StartCamera(camsim::CameraConfig config = camsim::CameraConfig()) {
        camera_ = std::make_unique<camsim::Camera>(config);
        std::string error;
        ASSERT_TRUE(camera_->Start(&error)) << error;
    }
    std::string Url(const std::string& path) const { return camera_->HttpUrl() + path; }
    camsim_test::HttpResult Get(const std::string& path, long auth = CURLAUTH_DIGEST) {
        return Http("GET", Url(path), "admin", "admin", auth);
    }
    camsim_test::HttpResult Put(const std::string& path, const std::string& body) {
        return Http("PUT", Url(path), "admin", "admin", CURLAUTH_DIGEST, body);
    }
    camsim::ChannelConfig Channel(uint32_t id) {
        camsim::ChannelConfig c;
        EXPECT_TRUE(camera_->GetChannel(id, c));
        return c;
    }
    std::unique_ptr<camsim::Camera> camera_;
};

TEST(CamsimText, Md5MatchesRfc1321TestSuite) {
    EXPECT_EQ(camsim::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(camsim::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(camsim::Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(camsim::Base64Encode({0x67, 0x42, 0x00}), "Z0IA");
    EXPECT_EQ(camsim::Base64Encode({0x68, 0xCE}), "aM4=");
}

TEST_F(CamsimHttp, EveryResourceAnswersDigestAndRefusesAWrongPassword) {
    camsim::CameraConfig config;
    config.channels.resize(2);
    config.channels[1].id = 2;
    config.channels[1].codec = camsim::Codec::Mpeg4;
    config.inputs = 3;
    config.outputs = 1;
    StartCamera(config);
    struct Case {
        const char* path;
        const char* contains;
    } cases[] = {
        {"/PSIA/System/deviceInfo", "<model>Camsim-PSIA</model>"},
        {"/PSIA/Streaming/channels", "<StreamingChannelList version=\"1.0\" xmlns=\"urn:psialliance-org\">"},
        {"/PSIA/Streaming/channels/2", "<videoCodecType>MPEG4</videoCodecType>"},
        {"/PSIA/Streaming/channels/1/capabilities", "<videoCodecType opt=\"H.264,MPEG4,MJPEG\">"},
        {"/PSIA/System/IO", "<IOOutputPortList>\n<IOOutputPort>\n<id>0</id>"},
        {"/PSIA/System/IO/inputs", "<IOInputPort>\n<id>2</id>"},
        {"/PSIA/System/IO/outputs", "<IOOutputPortList version=\"1.0\" xmlns=\"urn:psialliance-org\">"},
        {"/PSIA/System/IO/inputs/1/status", "<ioState>inactive</ioState>"},
        {"/PSIA/System/reboot", "<statusCode>1</statusCode>"},
    };
    for (const Case& c : cases) {
        auto ok = Get(c.path);
        EXPECT_EQ(ok.status, 200) << c.path;
        EXPECT_NE(ok.body.find(c.contains), std::string::npos) << c.path << "\n" << ok.body;
        EXPECT_EQ(Http("GET", Url(c.path), "admin", "wrong", CURLAUTH_DIGEST).status, 401) << c.path;
        EXPECT_EQ(Http("GET", Url(c.path), "admin", "wrong", CURLAUTH_BASIC).status, 401) << c.path;
        EXPECT_EQ(Http("GET", Url(c.path), "", "", 0).status, 401) << c.path;
    }
    EXPECT_EQ(Get("/PSIA/Streaming/channels/9").status, 404);
    EXPECT_EQ(Get("/PSIA/System/IO/inputs/3/status").status, 404);
    EXPECT_EQ(Get("/PSIA/Nothing").status, 404);
}

TEST_F(CamsimHttp, OffersTheConfiguredSchemesInOrder) {
    struct Case {
        std::vector<camsim::AuthScheme> schemes;
        std::vector<std::string> offered;
        long basicStatus, digestStatus;
    } cases[] = {
        {{camsim::AuthScheme::Digest, camsim::AuthScheme::Basic}, {"Digest", "Basic"}, 200, 200},
        {{camsim::AuthScheme::Basic, camsim::AuthScheme::Digest}, {"Basic", "Digest"}, 200, 200},
        {{camsim::AuthScheme::Digest}, {"Digest"}, 401, 200},
        {{camsim::AuthScheme::Basic}, {"Basic"}, 200, 401},
        {{}, {}, 200, 200},
    };
    for (const Case& c : cases) {
        camsim::CameraConfig config;
        config.httpAuth = c.schemes;
        StartCamera(config);
        auto challenge = Http("GET", Url("/PSIA/System/deviceInfo"), "", "", 0);
        std::vector<std::string> offered;
        for (const std::string& h : challenge.headers) {
            if (camsim::StartsWithNoCase(h, "WWW-Authenticate: ")) offered.push_back(h.substr(18, h.find(' ', 18) - 18));
            if (camsim::StartsWithNoCase(h, "WWW-Authenticate: Digest")) {
                EXPECT_NE(h.find("qop=\"auth\""), std::string::npos) << h;
            }
        }
        EXPECT_EQ(offered, c.offered);
        EXPECT_EQ(challenge.status, c.offered.empty() ? 200 : 401);
        EXPECT_EQ(Get("/PSIA/System/deviceInfo", CURLAUTH_BASIC).status, c.basicStatus);
        EXPECT_EQ(Get("/PSIA/System/deviceInfo", CURLAUTH_DIGEST).status, c.digestStatus);
    }
}

TEST_F(CamsimHttp, ChannelPutChangesTheChannelAndBadBodiesChangeNothing) {
    StartCamera();
    auto put = Put("/PSIA/Streaming/channels/1", kChannelPut);
    EXPECT_EQ(put.status, 200);
    EXPECT_EQ(XmlValue(put.body, "statusCode"), "1");
    camsim::ChannelConfig c = Channel(1);
    EXPECT_EQ(c.codec, camsim::Codec::Mjpeg);
    EXPECT_EQ(c.width, 1280u);
    EXPECT_EQ(c.height, 720u);
    EXPECT_EQ(c.maxFrameRate, 1500u);
    EXPECT_EQ(c.fixedQuality, 80u);
    auto get = Get("/PSIA/Streaming/channels/1");
    EXPECT_EQ(XmlValue(get.body, "videoResolutionWidth"), "1280");
    EXPECT_EQ(XmlValue(get.body, "maxFrameRate"), "1500");

    struct Case {
        std::string body;
        const char* statusCode;
    } bad[] = {
        {"<StreamingChannel><id>1</id><Video>", "5"},
        {"", "5"},
        {"<IOPortData/>", "5"},
        {"<StreamingChannel><id>2</id></StreamingChannel>", "6"},
        {"<StreamingChannel><Video><videoCodecType>H.265</videoCodecType></Video></StreamingChannel>", "6"},
        {"<StreamingChannel><Video><videoResolutionWidth>-5</videoResolutionWidth></Video></StreamingChannel>", "6"},
        {"<StreamingChannel><Video><maxFrameRate>0</maxFrameRate></Video></StreamingChannel>", "6"},
        {"<StreamingChannel><enabled>yes</enabled></StreamingChannel>", "6"},
        {std::string(70000, '<'), "5"},
    };
    for (const Case& b : bad) {
        auto r = Put("/PSIA/Streaming/channels/1", b.body);
        EXPECT_EQ(r.status, 400) << b.body.substr(0, 80);
        EXPECT_EQ(XmlValue(r.body, "statusCode"), b.statusCode) << b.body.substr(0, 80);
    }
    EXPECT_EQ(Channel(1).width, 1280u);
    EXPECT_EQ(Channel(1).codec, camsim::Codec::Mjpeg);
    EXPECT_EQ(Put("/PSIA/Streaming/channels/7", kChannelPut).status, 404);
}

TEST_F(CamsimHttp, ChannelPutFaults) {
    StartCamera();
    struct Case {
        camsim::ChannelPutFault fault;
        long status;
        const char* statusCode;
        bool changedAtOnce;
    } cases[] = {
        {camsim::ChannelPutFault::RebootRequired, 200, "7", false},
        {camsim::ChannelPutFault::InvalidOperation, 200, "4", false},
        {camsim::ChannelPutFault::NotFound, 404, "4", false},
        {camsim::ChannelPutFault::MethodNotAllowed, 405, "4", false},
        {camsim::ChannelPutFault::None, 200, "1", true},
    };
    for (const Case& c : cases) {
        camera_->SetChannel(camsim::ChannelConfig());
        camera_->GetFaults().channelPut = c.fault;
        auto r = Put("/PSIA/Streaming/channels/1", kChannelPut);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(XmlValue(r.body, "statusCode"), c.statusCode);
        EXPECT_EQ(Channel(1).width, c.changedAtOnce ? 1280u : 640u);
    }
    // A change that needs a reboot takes effect with it.
    camera_->SetChannel(camsim::ChannelConfig());
    camera_->GetFaults().channelPut = camsim::ChannelPutFault::RebootRequired;
    Put("/PSIA/Streaming/channels/1", kChannelPut);
    EXPECT_EQ(Channel(1).width, 640u);
    EXPECT_EQ(Get("/PSIA/System/reboot").status, 200);
    EXPECT_EQ(Channel(1).width, 1280u);
    EXPECT_EQ(camera_->Reboots(), 1u);
}

TEST_F(CamsimHttp, ListPutAppliesTheFirstEntryOfEachKnownId) {
    StartCamera();
    camera_->GetFaults().channelPut = camsim::ChannelPutFault::NotFound;
    const std::string list =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><StreamingChannelList version=\"1.0\" "
        "xmlns=\"urn:psialliance-org\"><StreamingChannel><id>1</id><channelName>H.264 channel</channelName>"
        "<enabled>true</enabled><Video><enabled>true</enabled><videoCodecType>H.264</videoCodecType>"
        "<videoResolutionWidth>1920</videoResolutionWidth><videoResolutionHeight>1080</videoResolutionHeight>"
        "<maxFrameRate>500</maxFrameRate></Video></StreamingChannel><StreamingChannel><id>1</id>"
        "<channelName>MJPEG channel</channelName><enabled>true</enabled><Video><enabled>false</enabled>"
        "<videoCodecType>MJPEG</videoCodecType><videoResolutionWidth>320</videoResolutionWidth>"
        "<videoResolutionHeight>192</videoResolutionHeight></Video></StreamingChannel>"
        "<StreamingChannel><id>44</id></StreamingChannel></StreamingChannelList>";
    EXPECT_EQ(Put("/PSIA/Streaming/channels/1", kChannelPut).status, 404);
    auto r = Put("/PSIA/Streaming/channels", list);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(XmlValue(r.body, "statusCode"), "1");
    camsim::ChannelConfig c = Channel(1);
    EXPECT_EQ(c.codec, camsim::Codec::H264);
    EXPECT_EQ(c.width, 1920u);
    EXPECT_EQ(c.maxFrameRate, 500u);
    EXPECT_TRUE(c.videoEnabled);
}

// Headers first, the body a while later, as the driver sends a PUT.
TEST_F(CamsimHttp, ReadsALateBodyByItsContentLength) {
    camsim::CameraConfig config;
    config.httpAuth.clear();
    StartCamera(config);
    camsim_test::RtspClient raw;  // any TCP connection does
    ASSERT_TRUE(raw.Connect(camera_->HttpPort()));
    std::string body = kChannelPut;
    ASSERT_TRUE(raw.SendRaw("PUT /PSIA/Streaming/channels/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Type: application/xml; charset=\"UTF-8\"\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(raw.SendRaw(body.substr(0, 100)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(raw.SendRaw(body.substr(100)));
    for (int i = 0; i < 100 && Channel(1).width != 1280u; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Channel(1).width, 1280u);
    auto log = camera_->Requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().method, "PUT");
    EXPECT_EQ(log.back().target, "/PSIA/Streaming/channels/1");
    EXPECT_EQ(log.back().body, body);
}

TEST_F(CamsimHttp, InputsOutputsAndTheirFaults) {
    camsim::CameraConfig config;
    config.inputs = 2;
    config.outputs = 2;
    StartCamera(config);
    camera_->SetInput(1, true);
    EXPECT_EQ(XmlValue(Get("/PSIA/System/IO/inputs/0/status").body, "ioState"), "inactive");
    EXPECT_EQ(XmlValue(Get("/PSIA/System/IO/inputs/1/status").body, "ioState"), "active");

    // The toggling input goes active and back, whatever the machine's load
    // does to the moments it is read at.
    camera_->ToggleInputEvery(0, 150);
    const auto input0 = [&](const char* state) {
        return fakes::WaitUntil([&] { return XmlValue(Get("/PSIA/System/IO/inputs/0/status").body, "ioState") == state; },
                                3000);
    };
    EXPECT_TRUE(input0("active"));
    EXPECT_TRUE(input0("inactive"));

    const std::string high = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><IOPortData xmlns=\"urn:psialliance-org\">"
                             "<outputState>high</outputState></IOPortData>";
    auto r = Put("/PSIA/System/IO/outputs/1/trigger", high);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(XmlValue(r.body, "statusCode"), "1");
    EXPECT_TRUE(camera_->OutputHigh(1));
    EXPECT_EQ(Put("/PSIA/System/IO/outputs/1/trigger", "<IOPortData><outputState>on</outputState></IOPortData>").status,
              400);
    EXPECT_EQ(Put("/PSIA/System/IO/outputs/5/trigger", high).status, 404);
    ASSERT_EQ(camera_->OutputTriggers().size(), 1u);
    EXPECT_EQ(camera_->OutputTriggers()[0].id, 1u);
    EXPECT_TRUE(camera_->OutputTriggers()[0].high);

    camera_->GetFaults().ioPortListMissing = true;
    EXPECT_EQ(Get("/PSIA/System/IO").status, 404);
    EXPECT_EQ(Get("/PSIA/System/IO/inputs").status, 200);
    camera_->GetFaults().ioFailure = true;
    for (const char* path : {"/PSIA/System/IO", "/PSIA/System/IO/inputs", "/PSIA/System/IO/outputs",
                             "/PSIA/System/IO/inputs/0/status"})
        EXPECT_EQ(Get(path).status, 503) << path;
    EXPECT_EQ(Put("/PSIA/System/IO/outputs/0/trigger", high).status, 503);
}

TEST_F(CamsimHttp, LogsRequestsAndDelaysReplies) {
    StartCamera();
    camera_->ClearRequests();
    camera_->GetFaults().replyDelayMs = 300;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Get("/PSIA/System/deviceInfo", CURLAUTH_BASIC).status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    auto log = camera_->Requests();
    ASSERT_GE(log.size(), 1u);
    EXPECT_EQ(log.back().method, "GET");
    EXPECT_EQ(log.back().target, "/PSIA/System/deviceInfo");
    bool authorization = false;
    for (const auto& h : log.back().headers) authorization |= h.first == "Authorization" && h.second.rfind("Basic ", 0) == 0;
    EXPECT_TRUE(authorization);
    // Stop waits neither for the delay to run out nor for idle kept-alive connections.
    camera_->GetFaults().replyDelayMs = 0;
    camsim_test::RtspClient idle;
    ASSERT_TRUE(idle.Connect(camera_->HttpPort()));
    ASSERT_TRUE(idle.SendRaw("GET /PSIA/System/deviceInfo HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_FALSE(idle.ClosedByServer(200));
    camera_->GetFaults().replyDelayMs = 10000;
    std::thread slow([this] { Get("/PSIA/System/deviceInfo"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    start = std::chrono::steady_clock::now();
    camera_->Stop();
    slow.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
