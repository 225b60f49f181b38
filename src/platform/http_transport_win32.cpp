// The Windows build has no HTTP stack behind this interface yet: the WinHTTP
// backend follows the transport's rework into single exchanges. Until then
// no session opens, so every PSIA request fails as if the camera could not
// be reached, and nothing pretends otherwise.
#include "platform/http_transport.h"

namespace telvaro {
namespace platform {

struct HttpTransport::Impl {};

HttpTransport::HttpTransport() : impl_(std::make_unique<Impl>()) {}
HttpTransport::~HttpTransport() = default;

bool HttpTransport::OpenSession(const std::string&, uint32_t, uint32_t) { return false; }
bool HttpTransport::HasSession() const { return false; }
void HttpTransport::SetAbortFlag(const std::atomic<bool>*) {}
bool HttpTransport::AbortRequested() const { return false; }
bool HttpTransport::RequestAborted() const { return false; }
bool HttpTransport::Connect(const std::string&, uint16_t) { return false; }
bool HttpTransport::HasConnection() const { return false; }
bool HttpTransport::OpenRequest(const std::string&, const std::string&, bool, bool) { return false; }
bool HttpTransport::HasRequest() const { return false; }
bool HttpTransport::SetCredentials(uint32_t, const std::string&, const std::string&) { return false; }
bool HttpTransport::IgnoreCertificateErrors() { return false; }
bool HttpTransport::DisableRedirects() { return false; }
bool HttpTransport::AddHeader(const std::string&) { return false; }
bool HttpTransport::SendRequest(const uint8_t*, size_t, uint64_t) { return false; }
bool HttpTransport::ReceiveResponse() { return false; }
bool HttpTransport::QueryStatusCode(uint32_t&) const { return false; }
bool HttpTransport::QueryContentLength(uint32_t&) const { return false; }
bool HttpTransport::QueryAuthSchemes(uint32_t&) const { return false; }
bool HttpTransport::WriteData(const uint8_t*, size_t, size_t& written) {
    written = 0;
    return false;
}
bool HttpTransport::ReadData(uint8_t*, size_t, size_t& read) {
    read = 0;
    return false;
}
void HttpTransport::CloseRequest() {}
void HttpTransport::CloseConnection() {}
void HttpTransport::CloseSession() {}

}  // namespace platform
}  // namespace telvaro
