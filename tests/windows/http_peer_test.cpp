// The driver's HTTP client over the Windows transport, against lighttpd run
// natively by tests/windows/http_peer.sh.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "psia/http_sender.h"

namespace {

using Clock = std::chrono::steady_clock;
using telvaro::platform::HttpOutcome;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

telvaro::DEVICE_INFO Peer(uint32_t timeoutMs = 5000) {
    telvaro::DEVICE_INFO info;
    info.address = "127.0.0.1";
    info.port = static_cast<uint16_t>(std::stoi(ReadFile(OMBRELIX_HTTP_PEER_DIR "/port")));
    info.userName = "admin";
    info.password = "admin";
    info.timeout = timeoutMs;
    return info;
}

std::string Text(const std::vector<uint8_t>& body) {
    return body.empty() ? std::string() : std::string(reinterpret_cast<const char*>(body.data()), body.size() - 1);
}

TEST(HttpPeer, AnswersEachSchemeTheServerAsksFor) {
    const struct {
        const char* area;
        uint32_t scheme;
    } cases[] = {{"open", 0}, {"digest", 0x8}, {"basic", 0x1}};
    // One device: each sender starts with what the one before learned.
    for (const auto& c : cases) {
        Web::CHttpSender sender(Peer());
        std::vector<uint8_t> body;
        const std::string path = std::string("/") + c.area + "/PSIA/System/deviceInfo";
        ASSERT_TRUE(Web::HttpGet(sender, path, body)) << c.area;
        EXPECT_EQ(Text(body), ReadFile(OMBRELIX_HTTP_PEER_DIR "/www/" + std::string(c.area) + "/PSIA/System/deviceInfo.xml"));
        EXPECT_EQ(sender.LearnedScheme(), c.scheme) << c.area;
        // The kept connection serves the next request, a missing resource.
        EXPECT_FALSE(Web::HttpGet(sender, std::string("/") + c.area + "/PSIA/none", body));
        EXPECT_EQ(sender.StatusCode(), 404u) << c.area;
        EXPECT_EQ(sender.LastOutcome(), HttpOutcome::kAnswered);
    }
}

TEST(HttpPeer, PutSendsItsBodyAfterTheHeadersWithDigest) {
    Web::CHttpSender sender(Peer());
    const std::string body = "<IOPortData><outputState>high</outputState></IOPortData>";
    std::vector<uint8_t> answer;
    ASSERT_TRUE(Web::HttpPut(sender, "/digest/PSIA/System/IO/outputs/1/trigger", {"Content-Type: application/xml"},
                             body, answer));
    EXPECT_NE(Text(answer).find("<statusCode>1</statusCode>"), std::string::npos);
    EXPECT_NE(ReadFile(OMBRELIX_HTTP_PEER_DIR "/puts.log")
                  .find("/digest/PSIA/System/IO/outputs/1/trigger " + std::to_string(body.size()) + "\n" + body + "\n"),
              std::string::npos);
}

TEST(HttpPeer, ASilentServerTimesOutAndTheAbortFlagEndsAWait) {
    Web::CHttpSender sender(Peer(1000));
    std::vector<uint8_t> body;
    auto start = Clock::now();
    EXPECT_FALSE(Web::HttpGet(sender, "/slow/x", body));
    EXPECT_EQ(sender.LastOutcome(), HttpOutcome::kTimedOut);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));

    Web::CHttpSender waiting(Peer(20000));
    std::atomic<bool> abort{false};
    waiting.SetAbortFlag(&abort);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        abort = true;
    });
    start = Clock::now();
    EXPECT_FALSE(Web::HttpGet(waiting, "/slow/y", body));
    setter.join();
    EXPECT_EQ(waiting.LastOutcome(), HttpOutcome::kAborted);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
}

// WinHTTP names a name that is not known and a connection that was not
// made; it does not say whether a connection was refused.
TEST(HttpPeer, FailedConnectionsSayHowTheyFailed) {
    const struct {
        const char* address;
        uint16_t port;
        HttpOutcome outcome;
    } cases[] = {{"camera.invalid", 80, HttpOutcome::kNotResolved}, {"127.0.0.1", 1, HttpOutcome::kNoConnection}};
    for (const auto& c : cases) {
        telvaro::DEVICE_INFO info = Peer(3000);
        info.address = c.address;
        info.port = c.port;
        Web::CHttpSender sender(info);
        std::vector<uint8_t> body;
        EXPECT_FALSE(Web::HttpGet(sender, "/PSIA/System/deviceInfo", body)) << c.address;
        EXPECT_EQ(sender.LastOutcome(), c.outcome) << c.address;
    }
}

}  // namespace
