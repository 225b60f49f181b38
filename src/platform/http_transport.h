// HTTP/1.1 client transport with the steps of the Windows HTTP stack: a
// session (user agent, time-outs, connection pool), a connection (server
// and port), and one request at a time on it (credentials, options, header
// lines, send with an optional separately written body, response headers,
// body reads). The request's connection is kept alive and reused by the
// next request while the server keeps it open.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace telvaro {
namespace platform {

// Server authentication schemes, valued as the Windows HTTP stack values
// them.
constexpr uint32_t kHttpAuthBasic = 0x1;
constexpr uint32_t kHttpAuthNtlm = 0x2;
constexpr uint32_t kHttpAuthPassport = 0x4;
constexpr uint32_t kHttpAuthDigest = 0x8;
constexpr uint32_t kHttpAuthNegotiate = 0x10;

// Status code of an "HTTP/x.y nnn reason" line; false for anything else.
bool ParseHttpStatusLine(const std::string& line, uint32_t& status);
// Scheme named first by a list of WWW-Authenticate values, in the order the
// server sent them; false when none names a known scheme.
bool FirstOfferedAuthScheme(const std::string* values, size_t count, uint32_t& scheme);
// A Content-Length value (decimal, blanks around it allowed) within 32 bits.
bool ParseContentLengthValue(const std::string& value, uint32_t& length);

class HttpTransport {
public:
    static constexpr uint32_t kAbortCheckMs = 50;

    HttpTransport();
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // Every network step (resolve, connect, send, wait for the response,
    // each receive) gives up after timeoutMs without progress.
    bool OpenSession(const std::string& userAgent, uint32_t timeoutMs, uint32_t maxConnectionsPerServer);
    bool HasSession() const;

    // While *flag is set, every network step fails at once, also one that is
    // waiting (it looks at the flag at least every kAbortCheckMs): the request
    // is given up and its connection closed, so the next request starts on a
    // new one. The flag belongs to the caller and must outlive the transport
    // or be replaced first; null removes it. May be called from any thread.
    void SetAbortFlag(const std::atomic<bool>* flag);
    bool AbortRequested() const;
    // True when a step of the open request was given up for the abort flag.
    bool RequestAborted() const;

    // Chooses the server; no traffic yet. False without a session or for a
    // host text that is no host name or address.
    bool Connect(const std::string& host, uint16_t port);
    bool HasConnection() const;

    // Starts a request description. objectName is the path with its query;
    // with escapeQuery false the query's non-ASCII bytes go out unescaped.
    bool OpenRequest(const std::string& verb, const std::string& objectName, bool secure, bool escapeQuery);
    bool HasRequest() const;
    // Credentials for exactly one scheme; false for a scheme this build
    // cannot speak.
    bool SetCredentials(uint32_t scheme, const std::string& userName, const std::string& password);
    // Accept any server certificate (unknown authority, wrong usage or
    // name, expired).
    bool IgnoreCertificateErrors();
    bool DisableRedirects();
    // "Name: value", added or replacing an earlier line of that name; an
    // empty value removes it.
    bool AddHeader(const std::string& line);

    // Sends the request line, the headers and the first length bytes of a
    // body of totalLength bytes. Returns once they are sent; the rest of the
    // body follows through WriteData.
    bool SendRequest(const uint8_t* body, size_t length, uint64_t totalLength);
    // Waits for the final response's headers.
    bool ReceiveResponse();
    bool QueryStatusCode(uint32_t& status) const;
    bool QueryContentLength(uint32_t& length) const;
    bool QueryAuthSchemes(uint32_t& firstScheme) const;
    // Sends body bytes of an open request; written tells how many were sent.
    bool WriteData(const uint8_t* data, size_t length, size_t& written);
    // Up to size body bytes; read = 0 at the end of the body.
    bool ReadData(uint8_t* buffer, size_t size, size_t& read);

    void CloseRequest();
    void CloseConnection();
    void CloseSession();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
}  // namespace telvaro
