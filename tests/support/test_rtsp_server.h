// A loopback RTSP server for tests of the RTSP client. Every request is
// recorded byte for byte with the connection that carried it and answered as
// the test's handler says: any reply text (any CSeq, 401 challenges, session
// time-outs), sent whole or split at chosen bytes, optionally followed by
// interleaved frames, or never answered. Interleaved data can also be pushed
// at any time, and connections dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/loopback_listener.h"

namespace fakes {

struct RtspRequest {
    int connection = 0;  // 1 for the first accepted connection, 2 for the next ...
    std::string text;    // the request as received, through its empty line
    std::string method;
    std::string url;
    uint32_t cseq = 0;
    std::chrono::steady_clock::time_point received;
    // Value of the first header of that name (any letter case), trimmed;
    // empty if there is none.
    std::string Header(const std::string& name) const;
};

struct RtspAnswer {
    RtspAnswer() = default;
    explicit RtspAnswer(std::string replyText) : text(std::move(replyText)) {}

    std::string text;            // reply bytes; empty sends nothing
    std::vector<size_t> splits;  // send in pieces cut at these offsets (ascending)
    size_t chunk = 0;            // or in pieces of this many bytes
    int gapMs = 3;               // pause between pieces
    std::string after;           // bytes sent in the same write as the reply's last piece
    bool hold = false;           // never answer; the connection stays open until Stop
    bool close = false;          // close the connection after the reply
};

class TestRtspServer {
public:
    using Handler = std::function<RtspAnswer(const RtspRequest&)>;

    TestRtspServer();
    ~TestRtspServer();
    TestRtspServer(const TestRtspServer&) = delete;
    TestRtspServer& operator=(const TestRtspServer&) = delete;

    // Listens on 127.0.0.1 at a port the system chooses.
    bool Start();
    // Closes every connection (held ones too) and joins the threads.
    void Stop();
    uint16_t Port() const { return listener_.Port(); }

    // Without a handler every request is held unanswered.
    void SetHandler(Handler handler);

    std::vector<RtspRequest> Requests();
    size_t RequestCount();
    bool WaitForRequests(size_t n, int timeoutMs);
    int ConnectionCount();

    // Writes bytes on the newest connection now.
    bool Send(const std::string& bytes);

    // "RTSP/1.0 <status> <reason>", "CSeq: <cseq>", the further header
    // lines, a Content-Length line when there is a body, the empty line and
    // the body.
    static std::string Reply(int status, uint32_t cseq, const std::vector<std::string>& headers = {},
                             const std::string& body = std::string());
    // One interleaved frame (RFC 2326 section 10.12).
    static std::string Interleaved(uint8_t channel, const std::vector<uint8_t>& payload);

private:
    void Serve(SocketFd fd, int number);
    bool SendOn(SocketFd fd, const std::string& bytes);
    bool Answer(SocketFd fd, const RtspAnswer& answer);

    LoopbackListener listener_;
    std::mutex sendMu_;  // one write at a time, so that pieces do not interleave
    std::mutex mu_;
    std::condition_variable cv_;
    bool stopping_ = false;
    std::vector<RtspRequest> requests_;
    Handler handler_;
};

// A loopback TCP port that nobody listens on, kept reserved while the object
// lives: a connection to it is refused.
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    uint16_t Port() const { return port_; }

private:
    SocketFd fd_ = kNoSocket;
    uint16_t port_ = 0;
};

// RFC 2617 Digest response without qop.
std::string DigestResponse(const std::string& user, const std::string& realm, const std::string& password,
                           const std::string& method, const std::string& uri, const std::string& nonce);

}  // namespace fakes
