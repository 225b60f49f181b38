#include "psia/http_sender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "psia/http_auth_memory.h"
#include "psia/smart_ptr.h"
#include "util/text.h"
#include "support/test_http_server.h"

namespace {

using fakes::HttpAuthConfig;
using fakes::HttpAuthScheme;
using fakes::HttpReply;
using fakes::RecordedRequest;
using fakes::TestHttpServer;
using Web::CHttpSender;
using Web::HttpGet;
using Web::HttpPut;
using Web::HttpRequest;

std::vector<uint8_t> Terminated(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

const std::vector<std::string> kXmlHeaders = {"Content-Type: application/xml; charset=\"UTF-8\"",
                                              "Content-Length: 20"};
const std::string kPutBody = "<StreamingChannel/>\n";  // 20 bytes

class HttpSenderTest : public ::testing::Test {
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
        server.SetHandler([](const RecordedRequest& r) {
            return HttpReply(200, r.method == "PUT" ? "<ResponseStatus/>" : "<DeviceInfo/>");
        });
    }

    TestHttpServer server;
    telvaro::DEVICE_INFO device;
};

TEST_F(HttpSenderTest, DigestOfferedFirstIsLearnedAndUsedFromTheStartAfterwards) {
    HttpAuthConfig auth;
    auth.userName = "admin";
    auth.password = "12345";
    auth.offered = {HttpAuthScheme::Digest, HttpAuthScheme::Basic};
    auth.accepted = {HttpAuthScheme::Digest};
    server.RequireAuth(auth);

    CHttpSender sender(device);
    std::vector<uint8_t> out;
    ASSERT_TRUE(HttpGet(sender, "/PSIA/System/deviceInfo", out));
    EXPECT_EQ(out, Terminated("<DeviceInfo/>"));
    EXPECT_EQ(sender.LearnedScheme(), Web::kHttpAuthDigest);

    ASSERT_TRUE(HttpGet(sender, "/PSIA/Streaming/channels", out));
    ASSERT_TRUE(HttpPut(sender, "/PSIA/Streaming/channels/1", kXmlHeaders, kPutBody, out));
    EXPECT_EQ(out, Terminated("<ResponseStatus/>"));

    // The camera sees no credentials, the one resend with Digest (answering
    // the nonce of the 401), then Digest at once on every later request with
    // the same nonce and a rising nonce count, all on one connection.
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].HeaderCount("Authorization"), 0u);
    EXPECT_EQ(requests[0].authorizedWith, "");
    const char* methods[] = {"GET", "GET", "GET", "PUT"};
    const char* targets[] = {"/PSIA/System/deviceInfo", "/PSIA/System/deviceInfo", "/PSIA/Streaming/channels",
                             "/PSIA/Streaming/channels/1"};
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].method, methods[i]) << i;
        EXPECT_EQ(requests[i].target, targets[i]) << i;
        EXPECT_EQ(requests[i].connection, 1) << i;
        if (i > 0) {
            std::string authorization = requests[i].Header("Authorization");
            EXPECT_EQ(requests[i].authorizedWith, "Digest") << i;
            EXPECT_EQ(telvaro::FindHeaderParam("qop", "=", authorization, ", "), "auth") << i;
            EXPECT_EQ(telvaro::FindHeaderParam("nc", "=", authorization, ", "), "0000000" + std::to_string(i)) << i;
            EXPECT_EQ(telvaro::FindHeaderParam("nonce", "=", authorization, ", "),
                      telvaro::FindHeaderParam("nonce", "=", requests[1].Header("Authorization"), ", "));
        }
    }
    EXPECT_EQ(requests[3].body, kPutBody);
}

TEST_F(HttpSenderTest, APutAnswered401IsMadeOnceMoreWithTheSchemeOffered) {
    // The camera offers Digest and refuses the first PUT having read its
    // body, or at once with the body unread (as lighttpd does). The PUT goes
    // once more, with Digest and its body; a camera that refuses that too
    // (another password) is not asked a third time.
    struct Case {
        bool beforeBody;
        const char* cameraPassword;
        bool ok;
    } cases[] = {{false, "12345", true}, {true, "12345", true}, {true, "other", false}};
    for (const Case& c : cases) {
        const std::string what = std::string(c.beforeBody ? "before body, " : "after body, ") + c.cameraPassword;
        TestHttpServer camera;
        ASSERT_TRUE(camera.Start());
        camera.SetHandler([](const RecordedRequest&) { return HttpReply(200, "<ResponseStatus/>"); });
        HttpAuthConfig auth;
        auth.userName = "admin";
        auth.password = c.cameraPassword;
        auth.offered = {HttpAuthScheme::Digest};
        auth.refuseBeforeBody = c.beforeBody;
        camera.RequireAuth(auth);
        device.port = camera.Port();

        CHttpSender sender(device);
        std::vector<uint8_t> out;
        EXPECT_EQ(HttpPut(sender, "/PSIA/System/IO/outputs/0/trigger", kXmlHeaders, kPutBody, out), c.ok) << what;
        EXPECT_EQ(out, c.ok ? Terminated("<ResponseStatus/>") : std::vector<uint8_t>()) << what;
        EXPECT_EQ(sender.LearnedScheme(), Web::kHttpAuthDigest) << what;

        auto requests = camera.Requests();
        ASSERT_EQ(requests.size(), 2u) << what;
        for (const auto& r : requests) EXPECT_EQ(r.method + " " + r.target, "PUT /PSIA/System/IO/outputs/0/trigger");
        EXPECT_EQ(requests[0].authorizedWith, "") << what;
        EXPECT_EQ(requests[1].Header("Authorization").rfind("Digest ", 0), 0u) << what;
        EXPECT_EQ(requests[1].authorizedWith, c.ok ? "Digest" : "") << what;
        EXPECT_EQ(requests[1].body, c.ok ? kPutBody : "") << what;
    }
}

TEST_F(HttpSenderTest, AStaleNonceIsRenewedWithinTheRequest) {
    HttpAuthConfig auth;
    auth.userName = "admin";
    auth.password = "12345";
    auth.offered = {HttpAuthScheme::Digest};
    auth.nonceUses = 2;
    server.RequireAuth(auth);

    CHttpSender sender(device);
    std::vector<uint8_t> out;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(HttpGet(sender, "/PSIA/System/deviceInfo", out)) << i;
        EXPECT_EQ(sender.StatusCode(), 200u);
        EXPECT_EQ(out, Terminated("<DeviceInfo/>"));
    }
    // No credentials, Digest (first nonce), Digest (first nonce, its last
    // use), Digest refused as stale, Digest with the renewed nonce.
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    const char* accepted[] = {"", "Digest", "Digest", "", "Digest"};
    for (size_t i = 0; i < requests.size(); ++i) EXPECT_EQ(requests[i].authorizedWith, accepted[i]) << i;
    EXPECT_EQ(telvaro::FindHeaderParam("nc", "=", requests[4].Header("Authorization"), ", "), "00000001");
}

TEST_F(HttpSenderTest, BasicNamedBeforeDigestIsPassedOverAndWrongCredentialsFailOnce) {
    HttpAuthConfig auth;
    auth.userName = "admin";
    auth.password = "other";
    auth.offered = {HttpAuthScheme::Basic, HttpAuthScheme::Digest};
    server.RequireAuth(auth);

    // Digest is answered although Basic is named first; the next request
    // signs at once and, refused with this camera's fresh nonce, once more.
    // The password never goes out readable.
    CHttpSender sender(device);
    std::vector<uint8_t> out;
    EXPECT_FALSE(HttpGet(sender, "/PSIA/System/deviceInfo", out));
    EXPECT_EQ(sender.LearnedScheme(), Web::kHttpAuthDigest);
    EXPECT_EQ(server.RequestCount(), 2u);

    EXPECT_FALSE(HttpGet(sender, "/PSIA/System/deviceInfo", out));
    EXPECT_EQ(sender.StatusCode(), 401u);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].HeaderCount("Authorization"), 0u);
    for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].Header("Authorization").rfind("Digest ", 0), 0u) << i;
    }
}

TEST_F(HttpSenderTest, CredentialsThatCouldBreakAHeaderLineSendNothing) {
    HttpAuthConfig auth;
    auth.userName = "admin";
    auth.password = "12345";
    auth.offered = {HttpAuthScheme::Basic};
    server.RequireAuth(auth);
    for (const auto& bad : {std::pair<std::string, std::string>{"ad\r\nX: 1", "12345"},
                            {"admin", "12\n345"},
                            {"admin", std::string("12\0" "345", 6)}}) {
        device.userName = bad.first;
        device.password = bad.second;
        CHttpSender sender(device);
        std::vector<uint8_t> out;
        EXPECT_FALSE(HttpGet(sender, "/PSIA/System/deviceInfo", out));
    }
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(HttpSenderTest, CredentialsOnlyWithAUserNameAndNotForSchemeFive) {
    HttpAuthConfig auth;
    auth.userName = "admin";
    auth.password = "12345";
    auth.offered = {HttpAuthScheme::Basic};
    server.RequireAuth(auth);
    struct Case {
        std::string user;
        uint32_t authScheme;
        bool credentials;
    } cases[] = {{"", 0, false}, {"admin", Web::kNoCredentials, false}, {"admin", 0, true}, {"", 3, false}};
    for (const auto& c : cases) {
        device.userName = c.user;
        CHttpSender sender(device);
        HttpRequest request("GET", "/PSIA/System/deviceInfo");
        request.authScheme = c.authScheme;
        size_t before = server.RequestCount();
        ASSERT_TRUE(sender.Send(request)) << c.user << " " << c.authScheme;
        EXPECT_EQ(sender.StatusCode(), c.credentials ? 200u : 401u) << c.user << " " << c.authScheme;
        EXPECT_EQ(server.RequestCount() - before, c.credentials ? 2u : 1u) << c.user << " " << c.authScheme;
        EXPECT_EQ(server.Requests().back().HeaderCount("Authorization"), c.credentials ? 1u : 0u)
            << c.user << " " << c.authScheme;
    }
}

TEST_F(HttpSenderTest, SchemeFiveAfterACredentialedRequestSendsNone) {
    HttpAuthConfig auth;
    auth.userName = "admin";
    auth.password = "12345";
    auth.offered = {HttpAuthScheme::Basic};
    server.RequireAuth(auth);
    CHttpSender sender(device);
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/a")));
    HttpRequest anonymous("GET", "/b");
    anonymous.authScheme = Web::kNoCredentials;
    ASSERT_TRUE(sender.Send(anonymous));
    EXPECT_EQ(sender.StatusCode(), 401u);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].HeaderCount("Authorization"), 1u);
    EXPECT_EQ(requests[2].HeaderCount("Authorization"), 0u);
}

TEST_F(HttpSenderTest, EmptyVerbOrPathSendsNothing) {
    CHttpSender sender(device);
    EXPECT_FALSE(sender.Send(HttpRequest("", "/PSIA/System/deviceInfo")));
    EXPECT_FALSE(sender.Send(HttpRequest("GET", "")));
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(HttpSenderTest, GetNeedsStatus200AndABody) {
    struct Case {
        int status;
        std::string body;
        bool ok;
    } cases[] = {{200, "", false}, {404, "<html>missing</html>", false}, {200, "x", true}, {500, "", false}};
    CHttpSender sender(device);
    for (const auto& c : cases) {
        server.Script(HttpReply(c.status, c.body));
        std::vector<uint8_t> out;
        EXPECT_EQ(HttpGet(sender, "/x", out), c.ok) << c.status << " " << c.body;
        EXPECT_EQ(sender.StatusCode(), static_cast<uint32_t>(c.status));
        EXPECT_EQ(sender.ContentLength(), c.body.size());
        if (c.ok) {
            EXPECT_EQ(out, Terminated(c.body));
        }
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST_F(HttpSenderTest, PutSendsItsHeadersBeforeTheBody) {
    CHttpSender sender(device);
    std::vector<uint8_t> out;
    ASSERT_TRUE(HttpPut(sender, "/PSIA/Streaming/channels/1", kXmlHeaders, kPutBody, out));
    EXPECT_EQ(out, Terminated("<ResponseStatus/>"));
    EXPECT_EQ(sender.StatusCode(), 200u);

    RecordedRequest put = server.Requests()[0];
    EXPECT_EQ(put.body, kPutBody);
    // The head was in on its own; the body came 100 ms later.
    EXPECT_GE(put.bodyAfterHeadMs, 80);
    EXPECT_EQ(put.Header("Content-Length"), "20");
    EXPECT_EQ(put.Header("Content-Type"), "application/xml; charset=\"UTF-8\"");
    EXPECT_EQ(put.Header("User-Agent"), "Telvaro::HttpClient");
}

TEST_F(HttpSenderTest, PutWithAnEmptyBodyFailsAfterTheHeaders) {
    CHttpSender sender(device);
    std::vector<uint8_t> out;
    EXPECT_FALSE(HttpPut(sender, "/PSIA/Streaming/channels/1",
                         {"Content-Type: application/xml; charset=\"UTF-8\"", "Content-Length: 0"}, "", out));
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "PUT");
    EXPECT_EQ(requests[0].Header("Content-Length"), "0");
    EXPECT_TRUE(out.empty());
}

TEST_F(HttpSenderTest, GetRequestCarriesOnlyItsOwnLines) {
    // Also with a user name: no credentials before the camera asks.
    for (const char* user : {"", "admin"}) {
        device.userName = user;
        CHttpSender sender(device);
        std::vector<uint8_t> out;
        ASSERT_TRUE(HttpGet(sender, "/PSIA/System/deviceInfo", out));
        RecordedRequest r = server.Requests().back();
        EXPECT_EQ(r.head, "GET /PSIA/System/deviceInfo HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                              "\r\nUser-Agent: Telvaro::HttpClient\r\n")
            << user;
    }
}

TEST_F(HttpSenderTest, ASilentServerFailsTheSendWithinTheTimeout) {
    device.timeout = 300;
    HttpReply silent;
    silent.hold = true;
    server.Script(silent);
    CHttpSender sender(device);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sender.Send(HttpRequest("GET", "/PSIA/System/deviceInfo")));
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 1500);
    EXPECT_EQ(sender.StatusCode(), 0u);
}

TEST_F(HttpSenderTest, A401WithoutAKnownSchemeFails) {
    HttpReply bare(401, "no");
    bare.headers = {"WWW-Authenticate: Bearer realm=\"x\""};
    server.Script(bare);
    CHttpSender sender(device);
    std::vector<uint8_t> out;
    EXPECT_FALSE(HttpGet(sender, "/", out));
    EXPECT_EQ(sender.StatusCode(), 401u);
    EXPECT_EQ(sender.LearnedScheme(), 0u);
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(HttpSenderTest, ReadBodyHandsTheAnswerOverOnce) {
    CHttpSender sender(device);
    std::vector<uint8_t> out(3, 1);
    EXPECT_EQ(sender.ReadBody(out), 0u);
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/late")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.ReadBody(out), 13u);
    EXPECT_EQ(sender.ReadBody(out), 0u);
}

TEST_F(HttpSenderTest, SchemesThisClientDoesNotSpeakSendNothing) {
    // NTLM, Passport and Negotiate.
    CHttpSender sender(device);
    for (uint32_t scheme : {1u, 2u, 4u}) {
        HttpRequest request("GET", "/");
        request.authScheme = scheme;
        EXPECT_FALSE(sender.Send(request)) << scheme;
    }
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(HttpSenderTest, WithTheAbortFlagSetNothingGoesOut) {
    std::atomic<bool> abort{true};
    CHttpSender sender(device);
    sender.SetAbortFlag(&abort);
    std::vector<uint8_t> out;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sender.Send(HttpRequest("GET", "/a")));
    EXPECT_FALSE(HttpGet(sender, "/b", out));
    EXPECT_FALSE(HttpPut(sender, "/c", kXmlHeaders, kPutBody, out));
    EXPECT_TRUE(out.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(server.ConnectionCount(), 0);
    // Removing the flag, or clearing it, lets requests out again.
    sender.SetAbortFlag(nullptr);
    EXPECT_TRUE(HttpGet(sender, "/d", out));
    sender.SetAbortFlag(&abort);
    abort = false;
    EXPECT_TRUE(HttpGet(sender, "/e", out));
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(HttpSenderTest, CredentialsGoOnlyToACameraThatAsksAndItsSchemeIsRememberedAcrossSenders) {
    // As channels and the input poll do, every exchange is made by a fresh
    // sender: a GET, a PUT, a GET. Only the first meets the 401.
    using S = HttpAuthScheme;
    struct Case {
        const char* what;
        std::vector<HttpAuthScheme> offered;
        bool qopAuth;
        std::string opaque;
        std::vector<std::string> schemes;  // first word of each request's Authorization
    } cases[] = {
        {"no authentication", {}, true, "", {"", "", ""}},
        {"Basic", {S::Basic}, true, "", {"", "Basic", "Basic", "Basic"}},
        {"Digest, qop=auth", {S::Digest}, true, "", {"", "Digest", "Digest", "Digest"}},
        {"Digest without qop, with opaque", {S::Digest}, false, "0pa que", {"", "Digest", "Digest", "Digest"}},
        {"Digest named before Basic", {S::Digest, S::Basic}, true, "", {"", "Digest", "Digest", "Digest"}},
        {"Basic named before Digest", {S::Basic, S::Digest}, true, "", {"", "Digest", "Digest", "Digest"}},
    };
    for (const Case& c : cases) {
        Web::CHttpAuthMemory::Instance().ForgetAll();  // each case is a camera of its own
        TestHttpServer camera;
        ASSERT_TRUE(camera.Start());
        camera.SetHandler([](const RecordedRequest& r) {
            return HttpReply(200, r.method == "PUT" ? "<ResponseStatus/>" : "<DeviceInfo/>");
        });
        if (!c.offered.empty()) {
            HttpAuthConfig auth;
            auth.userName = device.userName;
            auth.password = device.password;
            auth.offered = c.offered;
            auth.qopAuth = c.qopAuth;
            auth.opaque = c.opaque;
            camera.RequireAuth(auth);
        }
        device.port = camera.Port();
        for (int i = 0; i < 3; ++i) {
            CHttpSender sender(device);
            std::vector<uint8_t> out;
            bool ok = i == 1 ? HttpPut(sender, "/PSIA/Streaming/channels/1", kXmlHeaders, kPutBody, out)
                             : HttpGet(sender, "/PSIA/System/deviceInfo", out);
            EXPECT_TRUE(ok) << c.what << " " << i;
        }
        auto requests = camera.Requests();
        ASSERT_EQ(requests.size(), c.schemes.size()) << c.what;
        for (size_t i = 0; i < requests.size(); ++i) {
            std::string authorization = requests[i].Header("Authorization");
            EXPECT_EQ(authorization.substr(0, authorization.find(' ')), c.schemes[i]) << c.what << " " << i;
        }
        if (c.qopAuth && c.schemes.back() == "Digest") {
            // One nonce, counted on from sender to sender.
            for (size_t i = 1; i < requests.size(); ++i) {
                std::string authorization = requests[i].Header("Authorization");
                EXPECT_EQ(telvaro::FindHeaderParam("nc", "=", authorization, ", "), "0000000" + std::to_string(i));
            }
        }
        EXPECT_EQ(requests[requests.size() - 2].body, kPutBody) << c.what;
    }
}

TEST(SmartPtr, DeletesTheSenderWithTheLastReference) {
    struct Counted : CHttpSender {
        explicit Counted(int* deaths) : CHttpSender(telvaro::DEVICE_INFO()), deaths_(deaths) {}
        ~Counted() override { ++*deaths_; }
        int* deaths_;
    };
    int deaths = 0;
    {
        telvaro::TSmartPtr<CHttpSender> first(new Counted(&deaths));
        EXPECT_EQ(first.UseCount(), 1u);
        telvaro::TSmartPtr<CHttpSender> second(first);
        telvaro::TSmartPtr<CHttpSender> third;
        third = second;
        EXPECT_EQ(first.UseCount(), 3u);
        second.Release();
        EXPECT_FALSE(second);
        EXPECT_EQ(first.UseCount(), 2u);
        first.Attach(new Counted(&deaths));
        EXPECT_EQ(deaths, 0);
        EXPECT_EQ(third.UseCount(), 1u);
        third.Release();
        EXPECT_EQ(deaths, 1);
    }
    EXPECT_EQ(deaths, 2);
}

}  // namespace
