#include "rtsp/rtsp_client.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/config_file.h"
#include "util/md5.h"
#include "rtp/rtp_packet.h"
#include "support/hostile_rtsp_peer.h"
#include "support/recording_user.h"
#include "support/test_http_server.h"
#include "support/test_rtsp_server.h"
#include "support/udp_peer.h"
#include "support/unanswered_port.h"
#include "support/wait_until.h"
#include "support/sanitizers.h"

namespace {

using namespace telvaro;
using fakes::RecordingUser;
using fakes::RtspAnswer;
using fakes::RtspRequest;
using fakes::TestRtspServer;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char kPath[] = "/PSIA/Streaming/channels/1";
const char kUser[] = "admin";
const char kPassword[] = "s3cret";
const char kRealm[] = "Scripted Camera";
const char kNonce[] = "5f3a9c";
const Bytes kSps = {0x67, 0x42, 0x00, 0x1E, 0x95, 0xA8, 0x28, 0x0F, 0x64};
const Bytes kPps = {0x68, 0xCE, 0x3C, 0x80};

const std::string kH264Sdp =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Stream\r\nt=0 0\r\na=control:*\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
    "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAHpWoKA9k,aM48gA==\r\n"
    "a=control:trackID=1\r\n";

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes MakeRtp(uint16_t seq, size_t payload) {
    Bytes p(12 + payload, 0x24);
    p[0] = 0x80;
    p[1] = 96;
    p[2] = static_cast<uint8_t>(seq >> 8);
    p[3] = static_cast<uint8_t>(seq);
    return p;
}

std::string RtpFrame(uint16_t seq) { return TestRtspServer::Interleaved(0, MakeRtp(seq, 8)); }

// A camera as the tests script it: answers every method, optionally behind
// Basic or Digest authentication that it checks strictly.
struct ScriptedCamera {
    std::string contentBase;  // sent when not empty
    std::string sdp = kH264Sdp;
    std::string session = "Session: 12345678;timeout=60";
    std::string auth;               // "", "Basic" or "Digest"
    bool alwaysChallenge = false;   // answer 401 even to valid credentials
    uint32_t describeCSeq = 0;      // the DESCRIBE reply's CSeq instead of the echo
    RtspAnswer describeShape;       // splits, chunk and gap of the DESCRIBE reply
    std::string afterSetup;         // bytes in the same write as the SETUP reply
    std::string afterPlay;
    std::string hold;               // a method never answered
    std::string transport;          // the SETUP reply's Transport instead of the one asked
    int playStatus = 200;
    int setupStatus = 200;
    bool qop = false;               // the Digest challenge offers qop "auth"
    std::string publicMethods = "DESCRIBE, SETUP, PLAY, TEARDOWN, OPTIONS";  // the OPTIONS reply's Public
    int getParameterStatus = 200;
    int keepAliveStatus = 0;        // the answer to every OPTIONS and GET_PARAMETER when not 0

    bool Authorised(const RtspRequest& r) const {
        if (auth.empty()) return true;
        if (alwaysChallenge) return false;
        const std::string value = r.Header("Authorization");
        if (auth == "Basic") {
            std::string decoded;
            return value.compare(0, 6, "Basic ") == 0 && fakes::DecodeBase64(value.substr(6), decoded) &&
                   decoded == std::string(kUser) + ":" + kPassword;
        }
        if (value.compare(0, 7, "Digest ") != 0) return false;
        auto p = fakes::AuthParams(value.substr(7));
        if (qop) {
            // RFC 7616 section 3.4.1 with qop "auth".
            const std::string ha1 = telvaro::Md5Hex(std::string(kUser) + ":" + kRealm + ":" + kPassword);
            const std::string ha2 = telvaro::Md5Hex(r.method + ":" + r.url);
            return p["qop"] == "auth" && p["nc"].size() == 8 && !p["cnonce"].empty() && p["uri"] == r.url &&
                   p["response"] == telvaro::Md5Hex(ha1 + ":" + kNonce + ":" + p["nc"] + ":" + p["cnonce"] +
                                                    ":auth:" + ha2);
        }
        // RFC 2617 section 3.2.2: the uri is the request's own.
        return p["username"] == kUser && p["realm"] == kRealm && p["nonce"] == kNonce && p["uri"] == r.url &&
               p["response"] == fakes::DigestResponse(kUser, kRealm, kPassword, r.method, r.url, kNonce);
    }

    RtspAnswer operator()(const RtspRequest& r) const {
        if (r.method == hold) {
            RtspAnswer a;
            a.hold = true;
            return a;
        }
        if (!Authorised(r)) {
            std::string challenge = auth == "Basic"
                                        ? "WWW-Authenticate: Basic realm=\"" + std::string(kRealm) + "\""
                                        : "WWW-Authenticate: Digest realm=\"" + std::string(kRealm) +
                                              "\", nonce=\"" + kNonce + "\"" + (qop ? ", qop=\"auth\"" : "");
            return RtspAnswer(TestRtspServer::Reply(401, r.cseq, {challenge}));
        }
        if (r.method == "DESCRIBE") {
            std::vector<std::string> headers;
            if (!contentBase.empty()) headers.push_back("Content-Base: " + contentBase);
            headers.push_back("Content-Type: application/sdp");
            RtspAnswer a = describeShape;
            a.text = TestRtspServer::Reply(200, describeCSeq ? describeCSeq : r.cseq, headers, sdp);
            return a;
        }
        RtspAnswer a;
        if (r.method == "SETUP") {
            // As servers do: the transport asked for, confirmed.
            a.text = TestRtspServer::Reply(
                setupStatus, r.cseq,
                {session, "Transport: " + (transport.empty() ? r.Header("Transport") : transport)});
            a.after = afterSetup;
        } else if (r.method == "PLAY") {
            a.text = TestRtspServer::Reply(playStatus, r.cseq, {session, "Range: npt=0.000-"});
            a.after = afterPlay;
        } else if (keepAliveStatus != 0 && (r.method == "OPTIONS" || r.method == "GET_PARAMETER")) {
            a.text = TestRtspServer::Reply(keepAliveStatus, r.cseq);
        } else if (r.method == "OPTIONS") {
            a.text = TestRtspServer::Reply(200, r.cseq, {"Public: " + publicMethods});
        } else if (r.method == "GET_PARAMETER") {
            a.text = TestRtspServer::Reply(getParameterStatus, r.cseq, {session});
        } else {
            a.text = TestRtspServer::Reply(200, r.cseq);
        }
        return a;
    }
};

// Blocks in its packet callback until released, as a host might.
class BlockingUser : public RecordingUser {
public:
    void OnRTPPacket(const RTPPacket* packet) override {
        RecordingUser::OnRTPPacket(packet);
        std::unique_lock<std::mutex> lock(mu_);
        entered_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return released_; });
    }
    bool WaitEntered(int timeoutMs) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return entered_; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mu_);
        released_ = true;
        cv_.notify_all();
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool entered_ = false;
    bool released_ = false;
};

// Reaches the client's header building and its socket.
class ProbeClient : public CBaseRTSPClient {
public:
    ~ProbeClient() override { Close(); }
    std::string DigestHeader(const std::string& user, const std::string& challenge, const std::string& uri) {
        params_.userName = user;
        params_.password = kPassword;
        params_.currentScheme = kRtspAuthDigest;
        parser_.Parse(TestRtspServer::Reply(401, 1, {challenge}), kRtspDescribe);
        return AuthorizationHeader("DESCRIBE", uri);
    }
    platform::SocketHandle Socket() const { return rtspSocket_; }
    // The request with the session a SETUP reply gave.
    std::string BuildInSession(RtspMethod method) {
        params_.host = "10.0.0.5";
        params_.urlPath = kPath;
        parser_.Parse(TestRtspServer::Reply(200, 4, {"Session: 4D21"}), kRtspSetup);
        return BuildRequest(method);
    }
};

// A scripted server and a client opened on it.
struct Bench {
    explicit Bench(const ScriptedCamera& camera) : user(&server) {
        server.SetHandler(camera);
        started = server.Start();
        params.host = "127.0.0.1";
        params.serverPort = server.Port();
        params.urlPath = kPath;
        params.userName = kUser;
        params.password = kPassword;
        params.clientRtpPort = 3556;
        params.clientRtcpPort = 3557;
        params.connectTimeoutMs = 1000;
        params.receiveTimeoutMs = 2000;
    }
    bool Open(TransportMode mode) { return started && client.Open(params, &user, mode); }
    std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(server.Port()) + kPath; }
    // Requests of one method, in order.
    std::vector<RtspRequest> Of(const std::string& method) {
        std::vector<RtspRequest> out;
        for (const RtspRequest& r : server.Requests())
            if (r.method == method) out.push_back(r);
        return out;
    }

    TestRtspServer server;
    RecordingUser user;
    CBaseRTSPClient client;
    RtspParams params;
    bool started = false;
};

std::string Request(const std::string& line, const std::vector<std::string>& headers) {
    std::string text = line + " RTSP/1.0\r\n";
    for (const std::string& h : headers) text += h + "\r\n";
    return text + "\r\n";
}

// The whole exchange byte for byte, with OPTIONS every half session
// time-out (2 s announced) beside a server that announces none (60 s).
TEST(RtspClient, SessionTextsAndKeepAlive) {
    ScriptedCamera camera;
    camera.session = "Session: 12345678;timeout=2";
    Bench bench(camera);
    ScriptedCamera quiet;
    quiet.session = "Session: 77";
    Bench idle(quiet);
    ASSERT_TRUE(bench.Open(kRtpOverUdp));
    ASSERT_TRUE(idle.Open(kRtpOverUdp));
    ASSERT_TRUE(bench.server.WaitForRequests(3, 2000));
    const Clock::time_point played = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(3600));
    bench.client.Close();
    idle.client.Close();
    EXPECT_FALSE(bench.client.IsRunning());
    ASSERT_TRUE(fakes::WaitUntil([&] { return !bench.Of("TEARDOWN").empty(); }));

    const std::string url = bench.Url();
    const std::vector<RtspRequest> requests = bench.server.Requests();
    ASSERT_GE(requests.size(), 6u);
    EXPECT_EQ(requests[0].text, Request("DESCRIBE " + url, {"CSeq: 1", "User-Agent: Telvaro", "Accept: application/sdp"}));
    EXPECT_EQ(requests[1].text, Request("SETUP " + url + "/trackID=1",
                                        {"CSeq: 2", "Transport: RTP/AVP;unicast;client_port=3556-3557",
                                         "User-Agent: Telvaro"}));
    EXPECT_EQ(requests[2].text, Request("PLAY " + url,
                                        {"CSeq: 3", "Session: 12345678", "Range: npt=0.000-", "User-Agent: Telvaro"}));
    uint32_t cseq = 4;
    Clock::time_point last = played;
    size_t options = 0;
    for (size_t i = 3; i + 1 < requests.size(); ++i, ++cseq) {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i].text, Request("OPTIONS " + url, {"CSeq: " + std::to_string(cseq),
                                                                     "Session: 12345678", "User-Agent: Telvaro"}));
        const int64_t gap = std::chrono::duration_cast<std::chrono::milliseconds>(requests[i].received - last).count();
        EXPECT_GE(gap, 800);  // the client tests the time once a second: allow for scheduling
        EXPECT_LE(gap, 2200);
        last = requests[i].received;
        ++options;
    }
    EXPECT_GE(options, 2u);
    EXPECT_EQ(requests.back().text, Request("TEARDOWN " + url, {"CSeq: " + std::to_string(cseq),
                                                                      "Session: 12345678", "User-Agent: Telvaro"}));
    EXPECT_EQ(idle.Of("OPTIONS").size(), 1u);
}

// The methods the session above never sends, byte for byte.
TEST(RtspClient, RequestsNotSentInASession) {
    const std::string url = "rtsp://10.0.0.5:554/PSIA/Streaming/channels/1";
    struct Case {
        RtspMethod method;
        std::string text;
    } cases[] = {
        {kRtspPause, Request("PAUSE " + url, {"CSeq: 5", "Session: 4D21", "Range: npt=0.000-", "User-Agent: Telvaro"})},
        {kRtspGetParameter, Request("GET_PARAMETER " + url, {"CSeq: 5", "Session: 4D21", "User-Agent: Telvaro"})},
        {static_cast<RtspMethod>(8), ""},
        {static_cast<RtspMethod>(0), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        ProbeClient client;
        EXPECT_EQ(client.BuildInSession(c.method), c.text);
    }
}

TEST(RtspClient, NextCSeqFollowsTheServersEcho) {
    ScriptedCamera camera;
    camera.describeCSeq = 7;
    Bench bench(camera);
    ASSERT_TRUE(bench.Open(kRtpOverUdp));
    ASSERT_TRUE(bench.server.WaitForRequests(3, 2000));
    bench.client.Close();
    EXPECT_EQ(bench.Of("SETUP").at(0).cseq, 8u);
    EXPECT_EQ(bench.Of("PLAY").at(0).cseq, 9u);
}

TEST(RtspClient, AuthenticationAfterA401) {
    struct Case {
        const char* scheme;
        bool alwaysChallenge;
        size_t describes;
        size_t setups;  // credentials that are refused end the attempt
    } cases[] = {{"Digest", false, 2, 1}, {"Basic", false, 2, 1}, {"Digest", true, 2, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scheme) + (c.alwaysChallenge ? " refused" : ""));
        ScriptedCamera camera;
        camera.auth = c.scheme;
        camera.alwaysChallenge = c.alwaysChallenge;
        Bench bench(camera);
        ASSERT_TRUE(bench.Open(kRtpOverUdp));
        ASSERT_TRUE(bench.server.WaitForRequests(c.alwaysChallenge ? 3 : 4, 2000));
        bench.client.Close();
        const std::vector<RtspRequest> describes = bench.Of("DESCRIBE");
        ASSERT_EQ(describes.size(), c.describes);
        EXPECT_EQ(describes[0].Header("Authorization"), "");
        EXPECT_EQ(describes[1].cseq, 2u);
        const std::string expectedAuth = std::string(c.scheme) + " ";
        EXPECT_EQ(describes[1].Header("Authorization").compare(0, expectedAuth.size(), expectedAuth), 0);
        // One retry only: a second 401 is not answered again.
        const std::vector<RtspRequest> setups = bench.Of("SETUP");
        ASSERT_EQ(setups.size(), c.setups);
        EXPECT_EQ(bench.Of("PLAY").size(), c.setups);
        if (c.alwaysChallenge) {
            EXPECT_EQ(bench.client.LastFailure().text,
                      "DESCRIBE " + bench.Url() + " answered \"RTSP/1.0 401 Unauthorized\"");
        } else {
            EXPECT_TRUE(camera.Authorised(describes[1]));
            EXPECT_TRUE(camera.Authorised(setups[0]));
            EXPECT_EQ(bench.user.ConfigCalls(), 1);
        }
    }
}

TEST(RtspClient, DigestAnswer) {
    ScriptedCamera camera;
    camera.auth = "Digest";
    Bench bench(camera);
    ASSERT_TRUE(bench.Open(kRtpOverUdp));
    ASSERT_TRUE(bench.server.WaitForRequests(3, 2000));
    bench.client.Close();
    const std::string url = bench.Url();
    const std::string response = fakes::DigestResponse(kUser, kRealm, kPassword, "DESCRIBE", url, kNonce);
    EXPECT_EQ(bench.Of("DESCRIBE").at(1).text,
              Request("DESCRIBE " + url, {"CSeq: 2",
                                          "Authorization: Digest username=\"admin\", realm=\"Scripted Camera\", "
                                          "nonce=\"5f3a9c\", uri=\"" + url + "\", response=\"" + response + "\"",
                                          "User-Agent: Telvaro", "Accept: application/sdp"}));
}

// RFC 2617 quoted strings: a backslash before every quote and backslash,
// the digest taken over the values themselves; values that would break the
// header line give no header at all.
TEST(RtspClient, DigestHeaderQuotesItsValues) {
    const std::string url = "rtsp://10.0.0.5:554/PSIA/Streaming/channels/1";
    struct Case {
        const char* name;
        std::string user;
        std::string challenge;
        std::string uri;
        std::string realm;  // as the digest uses them
        std::string nonce;
        std::string expected;  // up to the response; "" for no header
    } cases[] = {
        {"plain", "admin", "WWW-Authenticate: Digest realm=\"Cam\", nonce=\"5f3a9c\"", url, "Cam", "5f3a9c",
         "username=\"admin\", realm=\"Cam\", nonce=\"5f3a9c\", uri=\"" + url + "\""},
        {"quote in the user", "ad\"min", "WWW-Authenticate: Digest realm=\"Cam\", nonce=\"5f3a9c\"", url, "Cam",
         "5f3a9c", "username=\"ad\\\"min\", realm=\"Cam\", nonce=\"5f3a9c\", uri=\"" + url + "\""},
        {"backslashes in user, realm and nonce", "ad\\min",
         "WWW-Authenticate: Digest realm=\"C\\\\am\", nonce=\"5f\\\\3a\"", url, "C\\am", "5f\\3a",
         "username=\"ad\\\\min\", realm=\"C\\\\am\", nonce=\"5f\\\\3a\", uri=\"" + url + "\""},
        {"quote in the uri", "admin", "WWW-Authenticate: Digest realm=\"Cam\", nonce=\"5f3a9c\"",
         "rtsp://10.0.0.5/a\"b", "Cam", "5f3a9c",
         "username=\"admin\", realm=\"Cam\", nonce=\"5f3a9c\", uri=\"rtsp://10.0.0.5/a\\\"b\""},
        {"NUL in the realm", "admin", std::string("WWW-Authenticate: Digest realm=\"C") + '\0' + "am\", nonce=\"5f3a9c\"",
         url, "", "", ""},
        {"line break in the realm", "admin", "WWW-Authenticate: Digest realm=\"Cam\r\nX-Injected: 1\", nonce=\"5f\"",
         url, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeClient client;
        const std::string header = client.DigestHeader(c.user, c.challenge, c.uri);
        if (c.expected.empty()) {
            EXPECT_EQ(header, "");
            continue;
        }
        const std::string response = fakes::DigestResponse(c.user, c.realm, kPassword, "DESCRIBE", c.uri, c.nonce);
        EXPECT_EQ(header, "Authorization: Digest " + c.expected + ", response=\"" + response + "\"\r\n");
    }
}

TEST(RtspClient, OpenRefusesCredentialsThatWouldBreakTheHeaders) {
    TestRtspServer server;
    ASSERT_TRUE(server.Start());
    struct Case {
        const char* name;
        std::string user;
        std::string password;
    } cases[] = {
        {"CR in the user", "ad\rmin", kPassword},
        {"LF in the user", "admin\nX-Injected: 1", kPassword},
        {"NUL in the user", std::string("ad\0min", 6), kPassword},
        {"CR in the password", kUser, "s3\rcret"},
        {"LF in the password", kUser, "s3\ncret"},
        {"NUL in the password", kUser, std::string("s3\0cret", 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingUser user;
        RtspParams params;
        params.host = "127.0.0.1";
        params.serverPort = server.Port();
        params.userName = c.user;
        params.password = c.password;
        CBaseRTSPClient client;
        EXPECT_FALSE(client.Open(params, &user, kRtpOverUdp));
        EXPECT_FALSE(client.IsRunning());
    }
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST(RtspClient, SetupTransportByMode) {
    const std::string withoutProfile = "m=video 0\r\na=control:trackID=1\r\n";
    struct Case {
        TransportMode mode;
        std::string sdp;
        const char* transport;
    } cases[] = {
        {kRtpOverUdp, kH264Sdp, "RTP/AVP;unicast;client_port=3556-3557"},
        {kRtpOverRtsp, kH264Sdp, "RTP/AVP/TCP;unicast;interleaved=0-1"},
        {kRtpOverTcp, kH264Sdp, "RTP/AVP/TCP;unicast;interleaved=0-1"},
        {kRtpOverUdp, withoutProfile, "RTP/AVP/UDP;unicast;client_port=3556-3557"},
        {kRtpOverRtsp, withoutProfile, "RTP/AVP/TCP;unicast;interleaved=0-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transport);
        ScriptedCamera camera;
        camera.sdp = c.sdp;
        Bench bench(camera);
        ASSERT_TRUE(bench.Open(c.mode));
        ASSERT_TRUE(bench.server.WaitForRequests(3, 2000));
        bench.client.Close();
        EXPECT_EQ(bench.Of("SETUP").at(0).Header("Transport"), c.transport);
    }
}

// The SETUP reply's Transport must give what was asked; otherwise the
// attempt ends before PLAY with the reason, instead of waiting for media
// that goes elsewhere.
TEST(RtspClient, SetupReplyTransportIsChecked) {
    struct Case {
        TransportMode mode;
        const char* reply;  // "" echoes the request
        bool plays;
    } cases[] = {
        {kRtpOverUdp, "", true},
        {kRtpOverUdp, "RTP/AVP;unicast;client_port=3556-3557;server_port=6970-6971", true},
        {kRtpOverUdp, "RTP/AVP;unicast;server_port=6970-6971", true},
        {kRtpOverUdp, "RTP/AVP;unicast", false},
        {kRtpOverUdp, "RTP/AVP;unicast;client_port=4000-4001", false},
        {kRtpOverUdp, "RTP/AVP/TCP;unicast;interleaved=0-1", false},
        {kRtpOverRtsp, "RTP/AVP;unicast;server_port=6970-6971;ssrc=1234", false},
        {kRtpOverTcp, "RTP/AVP;multicast;interleaved=0-1", false},
        {kRtpOverTcp, "RTP/AVP/TCP;unicast;interleaved=x", false},
        {kRtpOverRtsp, "RTP/AVP/TCP;unicast;interleaved=2-3", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedCamera camera;
        camera.transport = c.reply;
        Bench bench(camera);
        ASSERT_TRUE(bench.Open(c.mode));
        ASSERT_TRUE(bench.server.WaitForRequests(3, 2000));
        bench.client.Close();
        EXPECT_EQ(bench.Of("PLAY").size(), c.plays ? 1u : 0u);
        if (!c.plays) {
            EXPECT_EQ(bench.client.LastFailure().text.compare(0, 6, "SETUP "), 0) << bench.client.LastFailure().text;
        }
    }
}

// A server without the asked transport refuses the SETUP: the attempt ends
// there, and its reason names the configured mode.
TEST(RtspClient, RefusedTransportNamesTheMode) {
    for (TransportMode mode : {kRtpOverUdp, kRtpOverTcp, kRtpOverRtsp}) {
        SCOPED_TRACE(mode);
        ScriptedCamera camera;
        camera.setupStatus = 461;
        Bench bench(camera);
        ASSERT_TRUE(bench.Open(mode));
        ASSERT_TRUE(fakes::WaitUntil([&] { return !bench.client.LastFailure().Empty(); }, 3000));
        bench.client.Close();
        EXPECT_TRUE(bench.Of("PLAY").empty());
        EXPECT_EQ(bench.client.LastFailure().text,
                  "SETUP " + bench.Url() + "/trackID=1 answered \"RTSP/1.0 461 Unsupported Transport\" " +
                      "(transport asked for: " + TransportModeName(mode) + ")");
    }
}

// Media on the interleaved channels the server confirmed; RTCP on the other
// is passed over.
TEST(RtspClient, InterleavedChannelsAsConfirmed) {
    ScriptedCamera camera;
    camera.transport = "RTP/AVP/TCP;unicast;interleaved=4-5";
    camera.afterPlay = TestRtspServer::Interleaved(0, MakeRtp(1, 8)) + TestRtspServer::Interleaved(4, MakeRtp(2, 8)) +
                       TestRtspServer::Interleaved(5, Bytes(8, 0x24)) + TestRtspServer::Interleaved(4, MakeRtp(3, 8));
    Bench bench(camera);
    ASSERT_TRUE(bench.Open(kRtpOverTcp));
    EXPECT_TRUE(fakes::WaitUntil([&] { return bench.user.Sequences().size() >= 2; }, 2000));
    bench.client.Close();
    EXPECT_EQ(bench.user.Sequences(), (std::vector<uint16_t>{2, 3}));
}

TEST(RtspClient, DigestWithQopAuth) {
    ScriptedCamera camera;
    camera.auth = "Digest";
    camera.qop = true;
    Bench bench(camera);
    ASSERT_TRUE(bench.Open(kRtpOverUdp));
    ASSERT_TRUE(bench.server.WaitForRequests(4, 2000));
    bench.client.Close();
    const std::vector<RtspRequest> setups = bench.Of("SETUP");
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_TRUE(camera.Authorised(setups[0]));
    const std::string describeNc = fakes::AuthParams(bench.Of("DESCRIBE").at(1).Header("Authorization").substr(7))["nc"];
    EXPECT_EQ(describeNc, "00000001");
    EXPECT_EQ(fakes::AuthParams(setups[0].Header("Authorization").substr(7))["nc"], "00000002");
}

// With a Content-Base the control is joined to it as servers expect; without
// one it is joined to the request URL's path, the query kept after it.
TEST(RtspClient, ControlUrlJoining) {
    const std::string query = "/PSIA/Streaming/channels/1?videoCodecType=H.264";
    struct Case {
        std::string path;
        std::string contentBase;
        std::string control;  // the video's control line, if any
        std::string setupUrl;  // "@" stands for rtsp://127.0.0.1:<port>
        std::string playUrl;
    } cases[] = {
        {kPath, "rtsp://10.0.0.5/Live/Main/", "a=control:trackID=1", "rtsp://10.0.0.5/Live/Main/trackID=1",
         "rtsp://10.0.0.5/Live/Main/"},
        {kPath, "rtsp://10.0.0.5/Live/Main", "a=control:trackID=1", "rtsp://10.0.0.5/Live/Main/trackID=1",
         "rtsp://10.0.0.5/Live/Main"},
        {kPath, "rtsp://10.0.0.5/Live/Main/", "a=control:/trackID=1", "rtsp://10.0.0.5/Live/Main/trackID=1",
         "rtsp://10.0.0.5/Live/Main/"},
        {kPath, "rtsp://10.0.0.5/Live/", "a=control:rtsp://10.0.0.6/Other/Track", "rtsp://10.0.0.6/Other/Track",
         "rtsp://10.0.0.5/Live/"},
        {kPath, "rtsp://10.0.0.5/Live/", "", "rtsp://10.0.0.5/Live/", "rtsp://10.0.0.5/Live/"},
        {kPath, "", "a=control:trackID=2", "@/PSIA/Streaming/channels/1/trackID=2", "@/PSIA/Streaming/channels/1"},
        {query, "", "a=control:streamid=0", "@/PSIA/Streaming/channels/1/streamid=0?videoCodecType=H.264",
         "@" + query},
        {query, "", "a=control:/streamid=0", "@/PSIA/Streaming/channels/1/streamid=0?videoCodecType=H.264",
         "@" + query},
        {query, "", "a=control:streamid=0?x=1", "@/PSIA/Streaming/channels/1/streamid=0?x=1", "@" + query},
        {query, "", "", "@" + query, "@" + query},
        {"/live/?codec=h264", "", "a=control:track1", "@/live/track1?codec=h264", "@/live/?codec=h264"},
        {query, "rtsp://127.0.0.1/PSIA/Streaming/channels/1?videoCodecType=H.264/", "a=control:stream=0",
         "rtsp://127.0.0.1/PSIA/Streaming/channels/1?videoCodecType=H.264/stream=0",
         "rtsp://127.0.0.1/PSIA/Streaming/channels/1?videoCodecType=H.264/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + c.contentBase + " + " + c.control);
        ScriptedCamera camera;
        camera.contentBase = c.contentBase;
        camera.sdp = "v=0\r\nm=video 0 RTP/AVP 26\r\n" + (c.control.empty() ? "" : c.control + "\r\n");
        Bench bench(camera);
        bench.params.urlPath = c.path;
        ASSERT_TRUE(bench.Open(kRtpOverUdp));
        ASSERT_TRUE(bench.server.WaitForRequests(3, 3000));
        bench.client.Close();
        const std::string host = "rtsp://127.0.0.1:" + std::to_string(bench.server.Port());
        auto expand = [&host](std::string url) { return url[0] == '@' ? host + url.substr(1) : url; };
        EXPECT_EQ(bench.Of("SETUP").at(0).url, expand(c.setupUrl));
        EXPECT_EQ(bench.Of("PLAY").at(0).url, expand(c.playUrl));
    }
}

TEST(RtspClient, RepliesSplitAnywhere) {
    const std::string head = TestRtspServer::Reply(200, 1, {"Content-Type: application/sdp"}, kH264Sdp);
    const size_t blank = head.find("\r\n\r\n");
    struct Case {
        const char* name;
        std::vector<size_t> splits;
        size_t chunk;
    } cases[] = {
        {"every byte", {}, 1},
        {"inside the empty line", {blank + 2, blank + 3}, 0},
        {"after the head", {blank + 4}, 0},
        {"in the status line and the body", {5, blank + 40}, 0},
        {"at 256 bytes", {256}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedCamera camera;
        camera.describeShape.splits = c.splits;
        camera.describeShape.chunk = c.chunk;
        camera.describeShape.gapMs = c.chunk ? 1 : 30;
        Bench bench(camera);
        // A byte a millisecond takes far longer on a busy machine; the
        // time-out is not what is tested here.
        bench.params.receiveTimeoutMs = 20000;
        ASSERT_TRUE(bench.Open(kRtpOverUdp));
        ASSERT_TRUE(bench.server.WaitForRequests(3, 5000));
        bench.client.Close();
        EXPECT_EQ(bench.Of("SETUP").at(0).url, bench.Url() + "/trackID=1");
        EXPECT_EQ(bench.user.Config().sps, kSps);
        EXPECT_EQ(bench.user.Config().pps, kPps);
    }
}

TEST(RtspClient, InterleavedMediaFromTheFirstByte) {
    for (TransportMode mode : {kRtpOverRtsp, kRtpOverTcp}) {
        SCOPED_TRACE(mode);
        ScriptedCamera camera;
        camera.afterSetup = RtpFrame(1);
        camera.afterPlay = RtpFrame(2) + TestRtspServer::Interleaved(1, {0x80, 0xC8, 0x24, 0x00, 0x00, 0x01});
        Bench bench(camera);
        ASSERT_TRUE(bench.Open(mode));
        ASSERT_TRUE(fakes::WaitUntil([&] { return bench.user.Sequences().size() >= 2; }));
        std::string split = RtpFrame(3);
        ASSERT_TRUE(bench.server.Send(split.substr(0, 5)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(bench.server.Send(split.substr(5) + RtpFrame(4)));
        ASSERT_TRUE(fakes::WaitUntil([&] { return bench.user.Sequences().size() >= 4; }));
        bench.client.Close();
        EXPECT_EQ(bench.user.Sequences(), (std::vector<uint16_t>{1, 2, 3, 4}));
        EXPECT_EQ(bench.user.RequestsAtConfig(), 1u);
        EXPECT_TRUE(bench.Of("OPTIONS").empty());
    }
}

// Only requests keep a session alive on cameras that enforce their
// time-out, so the interleaved stream carries an OPTIONS every half time-out
// (1 s of 2 s here), also while nothing arrives; the client does not wait for
// the reply, which comes in the stream, and its CSeq counter just goes on.
TEST(RtspClient, KeepAliveFromInsideAQuietInterleavedStream) {
    ScriptedCamera camera;
    camera.session = "Session: 12345678;timeout=2";
    Bench tcp(camera);
    Bench rtsp(camera);
    tcp.params.receiveTimeoutMs = 5000;
    rtsp.params.receiveTimeoutMs = 5000;
    ASSERT_TRUE(tcp.Open(kRtpOverTcp));
    ASSERT_TRUE(rtsp.Open(kRtpOverRtsp));
    ASSERT_TRUE(tcp.server.WaitForRequests(3, 2000));
    ASSERT_TRUE(rtsp.server.WaitForRequests(3, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    tcp.client.Close();
    rtsp.client.Close();
    for (Bench* bench : {&tcp, &rtsp}) {
        SCOPED_TRACE(bench == &tcp ? "RTP over TCP" : "RTP over RTSP");
        ASSERT_TRUE(fakes::WaitUntil([&] { return !bench->Of("TEARDOWN").empty(); }));
        const std::vector<RtspRequest> requests = bench->server.Requests();
        ASSERT_EQ(requests.size(), 6u);
        EXPECT_EQ(requests[2].method, "PLAY");
        const std::string url = bench->Url();
        Clock::time_point last = requests[2].received;
        for (size_t i = 3; i < 5; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(requests[i].text, Request("OPTIONS " + url, {"CSeq: " + std::to_string(i + 1),
                                                                   "Session: 12345678", "User-Agent: Telvaro"}));
            const int64_t gap =
                std::chrono::duration_cast<std::chrono::milliseconds>(requests[i].received - last).count();
            EXPECT_GE(gap, 800);
            EXPECT_LE(gap, 1600);
            last = requests[i].received;
        }
        EXPECT_EQ(requests[5].text,
                  Request("TEARDOWN " + url, {"CSeq: 6", "Session: 12345678", "User-Agent: Telvaro"}));
    }
}

// Servers that count only GET_PARAMETER as activity list it in Public (the
// first keep-alive's OPTIONS learns it); one that refuses it gets OPTIONS at
// once and from then on. Interleaved, the replies come inside the stream and
// are read there.
TEST(RtspClient, KeepAliveMethodFollowsThePublicHeader) {
    const std::string offered = "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER";
    struct Case {
        const char* name;
        TransportMode mode;
        std::string publicMethods;
        int getParameterStatus;
        std::vector<std::string> keepAlives;  // the first ones, in order
    } cases[] = {
        {"UDP, offered", kRtpOverUdp, offered, 200, {"OPTIONS", "GET_PARAMETER", "GET_PARAMETER"}},
        {"UDP, not offered", kRtpOverUdp, "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN", 200,
         {"OPTIONS", "OPTIONS", "OPTIONS"}},
        {"UDP, refused", kRtpOverUdp, offered, 501, {"OPTIONS", "GET_PARAMETER", "OPTIONS", "OPTIONS"}},
        {"interleaved, offered", kRtpOverTcp, offered, 200, {"OPTIONS", "GET_PARAMETER", "GET_PARAMETER"}},
        {"interleaved, refused", kRtpOverRtsp, offered, 405, {"OPTIONS", "GET_PARAMETER", "OPTIONS", "OPTIONS"}},
    };
    std::vector<std::unique_ptr<Bench>> benches;
    for (const Case& c : cases) {
        ScriptedCamera camera;
        camera.session = "Session: 12345678;timeout=2";
        camera.publicMethods = c.publicMethods;
        camera.getParameterStatus = c.getParameterStatus;
        benches.emplace_back(new Bench(camera));
        benches.back()->params.receiveTimeoutMs = 5000;
        ASSERT_TRUE(benches.back()->Open(c.mode));
    }
    for (size_t i = 0; i < benches.size(); ++i) {
        const Case& c = cases[i];
        Bench& bench = *benches[i];
        SCOPED_TRACE(c.name);
        auto keepAlives = [&bench] {
            std::vector<RtspRequest> out;
            for (const RtspRequest& r : bench.server.Requests())
                if (r.method == "OPTIONS" || r.method == "GET_PARAMETER") out.push_back(r);
            return out;
        };
        EXPECT_TRUE(fakes::WaitUntil([&] { return keepAlives().size() >= c.keepAlives.size(); }, 8000));
        bench.client.Close();
        const std::vector<RtspRequest> sent = keepAlives();
        ASSERT_GE(sent.size(), c.keepAlives.size());
        for (size_t k = 0; k < c.keepAlives.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(sent[k].text, Request(c.keepAlives[k] + " " + bench.Url(),
                                            {"CSeq: " + std::to_string(sent[k].cseq), "Session: 12345678",
                                             "User-Agent: Telvaro"}));
        }
    }
}

// The camera's word that the session is over ends it at once: a 454 or 404
// to the keep-alive, or the connection closed, in every mode. A BYE in the
// interleaved stream goes to the user, which judges it against the media.
TEST(RtspClient, SessionEndedByTheCamera) {
    struct Case {
        const char* name;
        TransportMode mode;
        int keepAliveStatus;  // 0: the connection is closed instead
        const char* reason;   // "" for the connection's, else the status line
    } cases[] = {
        {"454, UDP", kRtpOverUdp, 454, "RTSP/1.0 454 Session Not Found"},
        {"404, UDP", kRtpOverUdp, 404, "RTSP/1.0 404 Not Found"},
        {"454, interleaved", kRtpOverTcp, 454, "RTSP/1.0 454 Session Not Found"},
        {"closed, UDP", kRtpOverUdp, 0, ""},
        {"closed, RTP over TCP", kRtpOverTcp, 0, ""},
        {"closed, RTP over RTSP", kRtpOverRtsp, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedCamera camera;
        camera.session = "Session: 12345678;timeout=2";
        camera.keepAliveStatus = c.keepAliveStatus;
        Bench bench(camera);
        bench.params.receiveTimeoutMs = 5000;
        ASSERT_TRUE(bench.Open(c.mode));
        ASSERT_TRUE(bench.server.WaitForRequests(3, 2000));
        const Clock::time_point played = Clock::now();
        if (c.keepAliveStatus == 0) {
            ASSERT_TRUE(fakes::WaitUntil([&] { return bench.client.Playing(); }, 2000));
            bench.server.Stop();
        }
        ASSERT_TRUE(fakes::WaitUntil([&] { return !bench.user.SessionEnd().empty(); }, 4000));
        EXPECT_LE(MsSince(played), 2500);
        const std::string expected = c.keepAliveStatus == 0
                                         ? "the camera closed the RTSP connection"
                                         : " " + bench.Url() + " answered \"" + c.reason + "\"";
        EXPECT_NE(bench.user.SessionEnd().find(expected), std::string::npos) << bench.user.SessionEnd();
        // Once, and nothing more is asked of a session that is gone.
        const size_t requests = bench.server.RequestCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        EXPECT_LE(bench.server.RequestCount(), requests + 1);
        bench.client.Close();
        EXPECT_EQ(bench.user.SessionEnds(), 1);
    }
    ScriptedCamera camera;
    camera.afterPlay = RtpFrame(1) + TestRtspServer::Interleaved(1, {0x81, 0xCB, 0x00, 0x01, 0x0A, 0x0B, 0x0C, 0x0D});
    Bench bench(camera);
    ASSERT_TRUE(bench.Open(kRtpOverRtsp));
    ASSERT_TRUE(fakes::WaitUntil([&] { return !bench.user.Byes().empty(); }, 2000));
    bench.client.Close();
    const uint8_t ssrc[4] = {0x0A, 0x0B, 0x0C, 0x0D};
    uint32_t expected = 0;
    std::memcpy(&expected, ssrc, 4);
    EXPECT_EQ(bench.user.Byes(), std::vector<uint32_t>{expected});
    EXPECT_TRUE(bench.user.SessionEnd().empty());
}

// A host callback that blocks beyond the stop bound: Close gives up on the
// thread but leaves it the socket and the user, and the client can be
// closed for good once the thread has ended.
TEST(RtspClient, CloseLeavesAThreadItCannotEndItsSocket) {
    SKIP_FORCED_STOP_UNDER_TSAN();
    ScriptedCamera camera;
    camera.afterPlay = RtpFrame(1);
    TestRtspServer server;
    server.SetHandler(camera);
    ASSERT_TRUE(server.Start());
    RtspParams params;
    params.host = "127.0.0.1";
    params.serverPort = server.Port();
    params.urlPath = kPath;
    BlockingUser user;
    ProbeClient client;
    // Whatever fails below, the thread is let go and waited for before the
    // client and the user go.
    struct LetGo {
        ~LetGo() {
            user.Release();
            fakes::WaitUntil([&] { return !client.IsRunning(); }, 5000);
        }
        BlockingUser& user;
        ProbeClient& client;
    } letGo{user, client};
    ASSERT_TRUE(client.Open(params, &user, kRtpOverRtsp));
    ASSERT_TRUE(user.WaitEntered(3000));

    const Clock::time_point start = Clock::now();
    client.Close();
    EXPECT_GE(MsSince(start), 1900);
    EXPECT_LT(MsSince(start), 4000);
    EXPECT_TRUE(client.Abandoned());
    EXPECT_TRUE(client.IsRunning());
    // Still the descriptor of the connection to the server, not closed and
    // not handed to anything else.
    const platform::SocketHandle socket = client.Socket();
    ASSERT_NE(socket, platform::kInvalidSocket);
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ASSERT_EQ(getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(ntohs(peer.sin_port), server.Port());

    user.Release();
    ASSERT_TRUE(fakes::WaitUntil([&] { return !client.IsRunning(); }, 3000));
    client.Close();
    EXPECT_FALSE(client.Abandoned());
    EXPECT_EQ(client.Socket(), platform::kInvalidSocket);
    EXPECT_EQ(user.Sequences(), (std::vector<uint16_t>{1}));
}

// The set-up ends when PLAY is answered, either way; in the interleaved
// modes the reply is read from the stream, and media that comes first also
// means the camera plays.
TEST(RtspClient, SetupEndsWithThePlayReply) {
    struct Case {
        const char* name;
        TransportMode mode;
        int playStatus;
        bool answered;
        bool mediaFirst;
        bool playing;
    } cases[] = {
        {"UDP, 200", kRtpOverUdp, 200, true, false, true},
        {"UDP, 454", kRtpOverUdp, 454, true, false, false},
        {"UDP, no reply", kRtpOverUdp, 200, false, false, false},
        {"TCP, 200", kRtpOverTcp, 200, true, false, true},
        {"TCP, 454", kRtpOverTcp, 454, true, false, false},
        {"TCP, no reply", kRtpOverTcp, 200, false, false, false},
        {"TCP, media before the reply", kRtpOverTcp, 200, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedCamera camera;
        camera.playStatus = c.playStatus;
        if (!c.answered) camera.hold = "PLAY";
        if (c.mediaFirst) camera.afterSetup = RtpFrame(1);
        Bench bench(camera);
        bench.params.receiveTimeoutMs = 500;
        ASSERT_TRUE(bench.Open(c.mode));
        ASSERT_TRUE(bench.client.SetupEnded().Wait(3000));
        EXPECT_EQ(bench.client.Playing(), c.playing);
        const FailureReason failure = bench.client.LastFailure();
        if (c.playing) {
            EXPECT_EQ(failure.kind, kFailureNone);
            EXPECT_EQ(failure.text, "");
        } else if (c.answered) {
            EXPECT_EQ(failure.kind, kFailureRefused);
            EXPECT_EQ(failure.text, "PLAY " + bench.Url() + " answered \"RTSP/1.0 454 Session Not Found\"");
        } else {
            EXPECT_EQ(failure.kind, kFailureNoAnswer);
            EXPECT_EQ(failure.text, "PLAY " + bench.Url() + ": no reply");
        }
        if (c.mediaFirst) {
            EXPECT_TRUE(fakes::WaitUntil([&] { return bench.user.Sequences().size() == 1; }));
        }
        bench.client.Close();
    }
}

// Replies that never end: the client gives up on one as soon as it would
// outgrow kMaxReplySize, or announces a body beyond it, without waiting for
// the receive time-out; empty lines without end run into the time-out.
TEST(RtspClient, RepliesWithoutEndFailTheRequest) {
    const std::string tooLong = ": a reply longer than 65536 bytes";
    struct Case {
        const char* name;
        std::vector<std::string> replies;
        std::string endless;
        std::string failure;  // after "DESCRIBE <url>"
        int64_t atLeastMs, belowMs;
    } cases[] = {
        {"one endless header line", {"RTSP/1.0 200 OK\r\nCSeq: 1\r\nX-Pad: "}, std::string(4096, 'a'), tooLong, 0,
         1500},
        {"endless header lines", {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n"}, "X-Pad: aaaaaaaaaaaaaaaa\r\n", tooLong, 0, 1500},
        {"a body beyond the bound", {"RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 4294967295\r\n\r\n"},
         std::string(4096, 'a'), tooLong, 0, 1500},
        {"endless empty lines", {}, "\r\n", ": no reply", 1900, 3500},
        {"a description cut short by a close",
         {"RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 90\r\n\r\nv=0\r\nm=video 0 RTP/AVP 26\r\n"}, "",
         " answered \"RTSP/1.0 200 OK\" with a reply that could not be read", 0, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes::HostileRtspPeer peer;
        fakes::HostileScript script;
        script.replies = c.replies;
        script.endless = c.endless;
        peer.SetScript(script);
        ASSERT_TRUE(peer.Start());
        RecordingUser user;
        RtspParams params;
        params.host = "127.0.0.1";
        params.serverPort = peer.Port();
        params.urlPath = kPath;
        params.receiveTimeoutMs = 2000;
        CBaseRTSPClient client;
        const Clock::time_point start = Clock::now();
        ASSERT_TRUE(client.Open(params, &user, kRtpOverUdp));
        ASSERT_TRUE(client.SetupEnded().Wait(5000));
        EXPECT_GE(MsSince(start), c.atLeastMs);
        EXPECT_LT(MsSince(start), c.belowMs);
        EXPECT_FALSE(client.Playing());
        EXPECT_EQ(client.LastFailure().text,
                  "DESCRIBE rtsp://127.0.0.1:" + std::to_string(peer.Port()) + kPath + c.failure);
        client.Close();
    }
}

TEST(RtspClient, FailedDescribeEndsWithTeardown) {
    Bench bench(ScriptedCamera{});
    bench.server.SetHandler([](const RtspRequest& r) {
        return RtspAnswer(TestRtspServer::Reply(r.method == "DESCRIBE" ? 404 : 200, r.cseq));
    });
    ASSERT_TRUE(bench.Open(kRtpOverUdp));
    ASSERT_TRUE(fakes::WaitUntil([&] { return !bench.client.IsRunning(); }));
    const std::vector<RtspRequest> requests = bench.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "TEARDOWN");
    EXPECT_EQ(bench.user.ConfigCalls(), 0);
    bench.client.Close();
}

TEST(RtspClient, CloseWakesAClientWaitingForAReply) {
    for (const char* method : {"DESCRIBE", "OPTIONS"}) {
        SCOPED_TRACE(method);
        ScriptedCamera camera;
        camera.hold = method;
        camera.session = "Session: 1;timeout=1";
        Bench bench(camera);
        bench.params.receiveTimeoutMs = 5000;
        ASSERT_TRUE(bench.Open(kRtpOverUdp));
        ASSERT_TRUE(fakes::WaitUntil([&] { return !bench.Of(method).empty(); }, 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const Clock::time_point start = Clock::now();
        bench.client.Close();
        EXPECT_LT(MsSince(start), 500);
        EXPECT_FALSE(bench.client.IsRunning());
    }
}

TEST(RtspClient, OpenFailures) {
    fakes::RefusedPort refused;
    fakes::UnansweredPort unanswered;
    ASSERT_NE(unanswered.Port(), 0);
    TestRtspServer server;
    ASSERT_TRUE(server.Start());
    RecordingUser user;
    // A refused connection fails at once, whatever the connect time-out; one
    // that is never answered fails when the time-out runs out. Each says
    // which it was.
    const auto at = [](const char* host, uint16_t port) { return "RTSP " + std::string(host) + ":" + std::to_string(port); };
    struct Case {
        const char* name;
        const char* host;
        uint16_t port;
        TransportMode mode;
        uint32_t connectTimeoutMs;
        int64_t atLeastMs, belowMs;
        std::string reason;
    } cases[] = {
        {"refused", "127.0.0.1", refused.Port(), kRtpOverUdp, 5000, 0, 300,
         at("127.0.0.1", refused.Port()) + ": the connection was refused"},
        {"unanswered", "127.0.0.1", unanswered.Port(), kRtpOverUdp, 500, 450, 1000,
         at("127.0.0.1", unanswered.Port()) + ": no connection within 500 ms"},
        {"unanswered, time-out below one poll", "127.0.0.1", unanswered.Port(), kRtpOverUdp, 50, 0, 500,
         at("127.0.0.1", unanswered.Port()) + ": no connection within 50 ms"},
        {"unknown name", "camera.invalid", server.Port(), kRtpOverUdp, 5000, 0, 5000,
         at("camera.invalid", server.Port()) + ": the host name is not known"},
        {"no host", "", server.Port(), kRtpOverUdp, 5000, 0, 300, at("", server.Port()) + ": the host name is not known"},
        {"unknown transport mode", "127.0.0.1", server.Port(), static_cast<TransportMode>(3), 5000, 0, 300,
         "transport mode 3 is none of 0 (UDP), 1 (TCP) and 2 (RTSP)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RtspParams params;
        params.host = c.host;
        params.serverPort = c.port;
        params.connectTimeoutMs = c.connectTimeoutMs;
        CBaseRTSPClient client;
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(client.Open(params, &user, c.mode));
        EXPECT_GE(MsSince(start), c.atLeastMs);
        EXPECT_LT(MsSince(start), c.belowMs);
        EXPECT_FALSE(client.IsRunning());
        EXPECT_EQ(client.LastFailure().text, c.reason);
    }
    EXPECT_EQ(server.RequestCount(), 0u);
}

}  // namespace
