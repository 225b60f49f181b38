// A loopback HTTP/1.1 server for tests of everything that talks to a camera
// over HTTP. Each request is answered as the test scripts it (a queue of
// replies, then a handler), optionally behind Basic and/or Digest
// authentication with challenges in a chosen order, and every request is
// recorded with the TCP connection that carried it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/loopback_listener.h"

namespace fakes {

struct HttpHeader {
    std::string name;
    std::string value;
};

struct RecordedRequest {
    int connection = 0;  // 1 for the first accepted connection, 2 for the next ...
    std::string method;
    std::string target;
    std::string version;
    std::vector<HttpHeader> headers;  // in the order received
    std::string head;                 // request line and header lines as received
    std::string body;
    bool bodyComplete = false;
    // From the moment the head was in to the moment the body was complete.
    int bodyAfterHeadMs = 0;
    // Scheme whose credentials the server accepted: "Basic", "Digest" or
    // empty (none required, or refused).
    std::string authorizedWith;

    // Value of the first header of that name (any letter case); empty if
    // there is none.
    std::string Header(const std::string& name) const;
    size_t HeaderCount(const std::string& name) const;
};

struct HttpReply {
    HttpReply() = default;
    HttpReply(int statusCode, std::string bodyText) : status(statusCode), body(std::move(bodyText)) {}

    int status = 200;
    std::string reason;                // empty: a standard phrase for the status
    std::vector<std::string> headers;  // further "Name: value" lines
    std::string body;
    bool contentLength = true;  // add a Content-Length line
    // Announce this Content-Length value instead of the body's size.
    std::string announcedLength;
    // Send the body in chunks (RFC 9112 section 7.1) instead of with a
    // Content-Length line; with cut, the last chunk never comes and the
    // connection closes.
    bool chunked = false;
    bool cut = false;
    bool close = false;         // close the connection after the reply
    bool drop = false;          // close the connection without a reply
    bool hold = false;          // never reply; the connection stays open until Stop
    int delayMs = 0;            // wait before replying
    // Send the reply in pieces this many ms apart: each line of the head,
    // then each byte of the body, so that no time-out between pieces ends it.
    int dribbleMs = 0;
};

// A camera that never answers: the request waits until the client gives up.
HttpReply UnansweredReply();
// A camera that sends its answer one piece every pieceMs (see dribbleMs),
// with padLines filler lines in its head.
HttpReply DribbledReply(int status, const std::string& body, int pieceMs, int padLines = 0);

enum class HttpAuthScheme { Basic, Digest };

struct HttpAuthConfig {
    std::string userName;
    std::string password;
    std::string realm = "Ombrelix Test";
    // Challenges of a 401 answer, one WWW-Authenticate line each, in order.
    std::vector<HttpAuthScheme> offered;
    // Schemes whose valid credentials are accepted; empty: the offered ones.
    std::vector<HttpAuthScheme> accepted;
    // Requests a Digest nonce is good for; then it is refused as stale
    // (0: no limit).
    int nonceUses = 0;
    // Refuse a request as soon as its head is in and close the connection
    // with its body unread, as lighttpd does.
    bool refuseBeforeBody = false;
    // Digest with qop="auth" (RFC 2617), or in the RFC 2069 form without qop.
    bool qopAuth = true;
    // Sent in the challenge and required back; empty: none.
    std::string opaque;
};

class TestHttpServer {
public:
    using Handler = std::function<HttpReply(const RecordedRequest&)>;

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Listens on 127.0.0.1 at a port the system chooses.
    bool Start();
    // Closes every connection (also held ones) and joins the threads.
    void Stop();
    uint16_t Port() const { return listener_.Port(); }

    // Replies for the next authorised requests, in order.
    void Script(const HttpReply& reply);
    // Answers authorised requests once the script is used up; without a
    // handler they get 404.
    void SetHandler(Handler handler);
    // From now on a request without valid credentials gets 401.
    void RequireAuth(const HttpAuthConfig& config);

    std::vector<RecordedRequest> Requests();
    size_t RequestCount();
    int ConnectionCount();
    // True once n requests have arrived (their heads at least).
    bool WaitForRequests(size_t n, int timeoutMs);
    // True once request index's body is complete.
    bool WaitForBody(size_t index, int timeoutMs);

private:
    void Serve(SocketFd fd, int number);
    bool Authorised(const RecordedRequest& request, std::string& scheme, bool& stale);
    bool RefusesBeforeBody();
    HttpReply Challenge(bool stale);
    HttpReply NextReply(const RecordedRequest& request);
    bool SendReply(SocketFd fd, const HttpReply& reply);
    // True once the server is stopping.
    bool WaitStopping(int ms);

    LoopbackListener listener_;

    std::mutex mu_;
    std::condition_variable cv_;
    bool stopping_ = false;
    std::vector<RecordedRequest> requests_;
    std::deque<HttpReply> script_;
    Handler handler_;
    bool authRequired_ = false;
    HttpAuthConfig auth_;
    std::map<std::string, int> nonceUses_;  // issued nonces and how often each was accepted
    int nonceCounter_ = 0;
};

// Parameters of an authentication header value after its scheme word:
// name=value or name="value" items separated by commas; names lower-cased.
std::map<std::string, std::string> AuthParams(const std::string& text);

// base64 decoding of RFC 4648 text; false for anything else.
bool DecodeBase64(const std::string& text, std::string& decoded);

}  // namespace fakes
