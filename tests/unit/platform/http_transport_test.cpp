// The HTTP exchange every backend gives: what it sends, the outcome of each
// way an answer can go wrong, and what is left to reuse afterwards.
#include "platform/http_transport.h"

#if defined(_WIN32)
#include <windows.h>
#endif
#include <cstdio>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "support/abort_run.h"
#include "support/test_http_server.h"

namespace {

using fakes::HttpReply;
using fakes::RecordedRequest;
using fakes::TestHttpServer;
using telvaro::platform::HttpAnswer;
using telvaro::platform::HttpExchange;
using telvaro::platform::HttpOutcome;
using telvaro::platform::HttpTransport;

constexpr size_t kBound = 1 << 20;
const std::string kPutBody = "<StreamingChannel/>\n";

HttpExchange Request(uint16_t port, bool put, uint32_t timeoutMs = 2000) {
    HttpExchange x;
    x.method = put ? "PUT" : "GET";
    x.host = "127.0.0.1";
    x.port = port;
    x.target = put ? "/PSIA/Streaming/channels/1" : "/PSIA/System/deviceInfo";
    if (put) {
        x.headers = {"Content-Type: application/xml"};
        x.body = reinterpret_cast<const uint8_t*>(kPutBody.data());
        x.bodySize = kPutBody.size();
    }
    x.timeoutMs = timeoutMs;
    x.maxBodySize = kBound;
    return x;
}

int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// A camera of its own per case: Wine's WinHTTP pools idle connections per
// process, so a port used before could hand a new transport an old one.
struct Camera {
    Camera() {
        started = server.Start();
        server.SetHandler([](const RecordedRequest&) { return HttpReply(200, "<again/>"); });
    }
    TestHttpServer server;
    bool started = false;
};

#if defined(_WIN32)
bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

// After any outcome the transport answers again: on the kept connection
// when the answer was whole and the server kept it, else on a new one.
void ExpectItGoesOn(HttpTransport& transport, Camera& camera, bool kept, const char* what) {
    HttpAnswer answer;
    ASSERT_EQ(transport.Exchange(Request(camera.server.Port(), false), answer), HttpOutcome::kAnswered) << what;
    EXPECT_EQ(std::string(answer.body.begin(), answer.body.end()), "<again/>") << what;
    EXPECT_EQ(camera.server.Requests().back().connection, kept ? 1 : 2) << what;
}

HttpReply Sized(size_t size, const char* announced, bool chunked, bool cut = false) {
    HttpReply r(200, std::string(size, 'x'));
    r.announcedLength = announced ? announced : "";
    r.contentLength = announced != nullptr;
    r.chunked = chunked;
    r.cut = cut;
    r.close = !chunked || cut;
    return r;
}

TEST(HttpTransport, EachAnswerGetsItsOutcomeWithinItsBounds) {
    HttpReply silent;
    silent.hold = true;
    HttpReply bigHead(200, "x");
    bigHead.headers.assign(70, "X-Padding: " + std::string(1000, 'p'));
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 23);
    const std::string beyond = std::to_string(kBound + 1);
    // Trickling pieces 100 ms apart, each well within the time-out; the
    // whole answer would take 4 s.
    const HttpReply trickleHead = fakes::DribbledReply(200, "x", 100, 40);
    const HttpReply trickleBody = fakes::DribbledReply(200, std::string(40, 'b'), 100);
    struct Case {
        const char* what;
        HttpReply reply;
        bool put;
        uint32_t timeoutMs;
        HttpOutcome outcome;
        int64_t minMs, maxMs;
    } cases[] = {
        {"a whole answer", HttpReply(200, "<DeviceInfo/>"), false, 2000, HttpOutcome::kAnswered, 0, 2000},
        {"an answer to a PUT", HttpReply(200, "<ResponseStatus/>"), true, 2000, HttpOutcome::kAnswered, 0, 2000},
        {"a large body", HttpReply(200, big), false, 2000, HttpOutcome::kAnswered, 0, 2000},
        {"an error status", HttpReply(404, "missing"), false, 2000, HttpOutcome::kAnswered, 0, 2000},
        {"Content-Length at the bound", Sized(kBound, "", false), false, 2000, HttpOutcome::kAnswered, 0, 3000},
        {"chunked within the bound", Sized(kBound, nullptr, true), false, 2000, HttpOutcome::kAnswered, 0, 3000},
        {"until close, within", Sized(800, nullptr, false), false, 2000, HttpOutcome::kAnswered, 0, 2000},
        {"Content-Length beyond", Sized(kBound + 1, beyond.c_str(), false), false, 2000, HttpOutcome::kTooLarge, 0,
         2000},
        {"Content-Length 2^63", Sized(800, "9223372036854775808", false), false, 2000, HttpOutcome::kTooLarge, 0,
         2000},
        {"chunked, growing beyond", Sized(kBound + 1, nullptr, true), false, 2000, HttpOutcome::kTooLarge, 0, 3000},
        {"until close, growing beyond", Sized(kBound + 1, nullptr, false), false, 2000, HttpOutcome::kTooLarge, 0,
         3000},
        {"a head beyond its bound", bigHead, false, 2000, HttpOutcome::kTooLarge, 0, 2000},
        {"shorter than its Content-Length", Sized(800, "100000", false), false, 2000, HttpOutcome::kCut, 0, 2000},
        {"a silent server", silent, false, 300, HttpOutcome::kTimedOut, 250, 1500},
        {"GET, trickling head", trickleHead, false, 1000, HttpOutcome::kTimedOut, 900, 1900},
        {"GET, trickling body", trickleBody, false, 1000, HttpOutcome::kTimedOut, 900, 1900},
        {"PUT, trickling body", trickleBody, true, 1000, HttpOutcome::kTimedOut, 900, 1900},
    };
    for (const Case& c : cases) {
#if defined(_WIN32)
        // Wine's WinHTTP keeps a connection whose chunked answer grew beyond
        // the bound and serves the next request on it.
        if (UnderWine() && std::string(c.what) == "chunked, growing beyond") {
            std::printf("[ LEFT OUT ] HttpTransport \"%s\" under Wine: differs, see the test\n", c.what);
            continue;
        }
#endif
        Camera camera;
        ASSERT_TRUE(camera.started);
        camera.server.Script(c.reply);
        HttpTransport transport;
        HttpAnswer answer;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(transport.Exchange(Request(camera.server.Port(), c.put, c.timeoutMs), answer), c.outcome) << c.what;
        const int64_t ms = MsSince(start);
        EXPECT_GE(ms, c.minMs) << c.what;
        EXPECT_LT(ms, c.maxMs) << c.what;
        const bool answered = c.outcome == HttpOutcome::kAnswered;
        EXPECT_EQ(answer.status, answered ? static_cast<uint32_t>(c.reply.status) : 0u) << c.what;
        EXPECT_TRUE(std::string(answer.body.begin(), answer.body.end()) == (answered ? c.reply.body : ""))
            << c.what << ": " << answer.body.size() << " bytes";
        ExpectItGoesOn(transport, camera, answered && !c.reply.close, c.what);
    }
}

// Wine's WinHTTP reads this one as a whole answer (left out there).
TEST(HttpTransport, AChunkedBodyCutBeforeItsLastChunkIsCut) {
    Camera camera;
    ASSERT_TRUE(camera.started);
    camera.server.Script(Sized(800, nullptr, true, true));
    HttpTransport transport;
    HttpAnswer answer;
    EXPECT_EQ(transport.Exchange(Request(camera.server.Port(), false), answer), HttpOutcome::kCut);
    EXPECT_TRUE(answer.body.empty());
    ExpectItGoesOn(transport, camera, false, "after the cut");
}

TEST(HttpTransport, ARequestThatCannotGoOutAsGivenSendsNothing) {
    Camera camera;
    ASSERT_TRUE(camera.started);
    TestHttpServer closed;
    ASSERT_TRUE(closed.Start());
    const uint16_t closedPort = closed.Port();
    closed.Stop();
    std::atomic<bool> abort{true};
    struct Case {
        const char* what;
        void (*change)(HttpExchange&);
        bool aborted;
        HttpOutcome outcome;
    } cases[] = {
        {"a blank in the method", [](HttpExchange& x) { x.method = "GE T"; }, false, HttpOutcome::kRefused},
        {"a host that is no name", [](HttpExchange& x) { x.host = "127.0.0.1/x"; }, false, HttpOutcome::kRefused},
        {"port 0", [](HttpExchange& x) { x.port = 0; }, false, HttpOutcome::kRefused},
        {"a target with a blank", [](HttpExchange& x) { x.target = "/a b"; }, false, HttpOutcome::kRefused},
        {"a header line with LF", [](HttpExchange& x) { x.headers = {"A: b\nEvil: 1"}; }, false,
         HttpOutcome::kRefused},
        {"a header line with NUL", [](HttpExchange& x) { x.headers = {std::string("A: b\0c", 6)}; }, false,
         HttpOutcome::kRefused},
        {"a body size without a body", [](HttpExchange& x) { x.body = nullptr; }, false, HttpOutcome::kRefused},
        {"the abort flag set", [](HttpExchange&) {}, true, HttpOutcome::kAborted},
#if defined(_WIN32)
        // WinHTTP names a failed connect, but not whether it was refused.
        {"no listener", nullptr, false, HttpOutcome::kNoConnection},
#else
        {"no listener", nullptr, false, HttpOutcome::kConnectionRefused},
#endif
    };
    for (const Case& c : cases) {
        HttpExchange x = Request(camera.server.Port(), true);
        if (c.change) {
            c.change(x);
        } else {
            x.port = closedPort;
        }
        HttpTransport transport;
        if (c.aborted) transport.SetAbortFlag(&abort);
        HttpAnswer answer;
        answer.status = 7;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(transport.Exchange(x, answer), c.outcome) << c.what;
        EXPECT_LT(MsSince(start), 1000) << c.what;
        EXPECT_EQ(answer.status, 0u) << c.what;
    }
    EXPECT_EQ(camera.server.ConnectionCount(), 0);
}

TEST(HttpTransport, ThePutBodyFollowsTheHeadAfterItsDelayWithItsLengthAnnounced) {
    Camera camera;
    ASSERT_TRUE(camera.started);
    HttpTransport transport;
    HttpExchange x = Request(camera.server.Port(), true);
    x.bodyDelayMs = 200;
    HttpAnswer answer;
    ASSERT_EQ(transport.Exchange(x, answer), HttpOutcome::kAnswered);
    RecordedRequest put = camera.server.Requests()[0];
    EXPECT_EQ(put.body, kPutBody);
    EXPECT_GE(put.bodyAfterHeadMs, 180);
    EXPECT_EQ(put.HeaderCount("Content-Length"), 1u);
    EXPECT_EQ(put.Header("Content-Length"), std::to_string(kPutBody.size()));
    EXPECT_EQ(put.Header("Content-Type"), "application/xml");
    EXPECT_EQ(put.HeaderCount("Transfer-Encoding"), 0u);
    EXPECT_EQ(put.HeaderCount("Expect"), 0u);
    EXPECT_EQ(put.version, "HTTP/1.1");
}

TEST(HttpTransport, AnAbortedExchangeEndsAtOnceAndTheTransportWorksAgain) {
    // Each camera would keep the exchange going until the 5 s time-out: it
    // never answers, or its head or body trickles in. A PUT waits on the
    // camera once its body is in; the slow body once its head is in as well.
    const std::string body(60, 'b');
    struct Case {
        const char* what;
        HttpReply reply;
        bool put;
        int settleMs;
    } cases[] = {
        {"GET, no answer", fakes::UnansweredReply(), false, 30},
        {"GET, slow head", fakes::DribbledReply(200, body, 300, 40), false, 30},
        {"GET, slow body", fakes::DribbledReply(200, body, 50), false, 250},
        {"PUT, no answer", fakes::UnansweredReply(), true, 30},
        {"PUT, slow head", fakes::DribbledReply(200, body, 300, 40), true, 30},
        {"PUT, slow body", fakes::DribbledReply(200, body, 50), true, 250},
    };
    for (const Case& c : cases) {
        Camera camera;
        ASSERT_TRUE(camera.started);
        camera.server.Script(c.reply);
        std::atomic<bool> abort{false};
        HttpTransport transport;
        transport.SetAbortFlag(&abort);
        HttpOutcome outcome = HttpOutcome::kAnswered;
        auto waiting = [&] {
            auto requests = camera.server.Requests();
            return !requests.empty() && (!c.put || requests[0].bodyComplete);
        };
        auto run = fakes::RunAndAbort(
            [&] {
                HttpAnswer answer;
                outcome = transport.Exchange(Request(camera.server.Port(), c.put, 5000), answer);
                return outcome == HttpOutcome::kAnswered;
            },
            abort, waiting, c.settleMs);
        EXPECT_TRUE(run.runningAtAbort) << c.what;
        EXPECT_EQ(outcome, HttpOutcome::kAborted) << c.what;
        EXPECT_GE(run.msAfterAbort, 0) << c.what;
        EXPECT_LT(run.msAfterAbort, 400) << c.what;
        abort = false;
        ExpectItGoesOn(transport, camera, false, c.what);
    }
}

}  // namespace
