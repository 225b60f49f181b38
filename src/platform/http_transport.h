// One HTTP/1.1 exchange at a time with one server: the request line and the
// header lines exactly as the caller gives them, an optional body written
// after the headers, then the whole answer (status, header lines, body).
// The connection is kept and reused by the next exchange while the server
// keeps it open. Authentication is the caller's: the transport sends only
// the lines it is given and never answers a 401 itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace telvaro {
namespace platform {

struct HttpExchange {
    std::string method;  // a token such as "GET" or "PUT"
    std::string host;    // host name or address
    uint16_t port = 0;
    std::string target;  // path and query, sent as given (already escaped)
    // Complete "Name: value" lines, sent in this order after the Host line.
    std::vector<std::string> headers;
    // Every method but GET carries a body, also an empty one, with its length
    // announced. It leaves bodyDelayMs after the headers did.
    const uint8_t* body = nullptr;
    size_t bodySize = 0;
    uint32_t bodyDelayMs = 0;
    // The whole exchange, from connecting to the last byte of the answer,
    // ends within timeoutMs (0: no bound).
    uint32_t timeoutMs = 0;
    // An answer whose body is larger (announced or received) is refused.
    size_t maxBodySize = 0;
};

struct HttpAnswer {
    uint32_t status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // name and trimmed value, in order
    std::vector<uint8_t> body;
};

enum class HttpOutcome {
    kAnswered,  // a whole answer, within the bounds
    kRefused,   // the request could not be sent as given: nothing went out
    kNoAnswer,  // connected, but the connection failed before the answer was whole
    kTimedOut,  // the exchange ran out of time
    kNotResolved,         // the host name is not known
    kConnectionRefused,   // the server refused the connection (nothing listens on the port)
    kNoConnection,        // no connection for any other reason: unreachable, or none within the time
    kTooLarge,  // the answer's head or body is beyond its bound
    kCut,       // the body ended before its announced end
    kAborted,   // the abort flag ended it
};

class HttpTransport {
public:
    // How often a waiting exchange looks at the abort flag.
    static constexpr uint32_t kAbortCheckMs = 50;
    // Bound on an answer's status line and header lines together.
    static constexpr size_t kMaxHeadSize = 64 * 1024;

    HttpTransport();
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // While *flag is set, an exchange fails at once, also one that is
    // waiting (within kAbortCheckMs), and its connection is closed. The flag
    // belongs to the caller and must outlive the transport or be replaced
    // first; null removes it. May be called from any thread.
    void SetAbortFlag(const std::atomic<bool>* flag);
    bool AbortRequested() const;

    // answer is emptied first; it holds what came only for kAnswered. Any
    // outcome but kAnswered leaves no connection to reuse. A method, host or
    // header line that would break the request (CR, LF, NUL, a blank in the
    // method, a host that is no host name or address) is refused.
    HttpOutcome Exchange(const HttpExchange& request, HttpAnswer& answer);

    // Closes the kept connection.
    void Close();

    // An exchange given up on (abort flag, deadline) may leave a call of the
    // backend running on a thread of its own, until the call's time-out.
    // This waits for every such thread in the process to end, each within
    // its bound, and stops one that overstays it by force: after it no code
    // of this library runs for an exchange that was given up on. For the
    // host's thread as the driver closes, never for a driver thread.
    static void AwaitLeftBehind();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
}  // namespace telvaro
