#include "psia/http_sender.h"

#include <algorithm>

#include "platform/native_thread.h"

namespace Web {

namespace platform = telvaro::platform;

namespace {

const char kUserAgent[] = "Telvaro::HttpClient";
constexpr uint32_t kMaxConnectionsPerServer = 16;
constexpr size_t kReadPiece = 8192;
constexpr uint32_t kPutBodyDelayMs = 100;

}  // namespace

uint32_t CHttpSender::SchemeFor(uint32_t authScheme) {
    if (authScheme & 0x4) return platform::kHttpAuthNegotiate;
    if ((authScheme & 0x3) == 0x3) return platform::kHttpAuthDigest;
    if (authScheme & 0x2) return platform::kHttpAuthPassport;
    if (authScheme & 0x1) return platform::kHttpAuthNtlm;
    return platform::kHttpAuthBasic;
}

CHttpSender::CHttpSender(const telvaro::DEVICE_INFO& settings)
    : settings_(settings), transport_(std::make_unique<platform::HttpTransport>()) {
    OpenSession();
}

CHttpSender::~CHttpSender() { Close(); }

bool CHttpSender::OpenSession() {
    if (transport_->HasSession()) return true;
    return transport_->OpenSession(kUserAgent, settings_.timeout, kMaxConnectionsPerServer);
}

void CHttpSender::SetAbortFlag(const std::atomic<bool>* flag) { transport_->SetAbortFlag(flag); }

void CHttpSender::ReadStatus() {
    statusCode_ = 0;
    contentLength_ = 0;
    if (transport_->QueryStatusCode(statusCode_)) transport_->QueryContentLength(contentLength_);
}

bool CHttpSender::Send(const HttpRequest& request) {
    if (transport_->HasRequest()) transport_->CloseRequest();
    if (transport_->AbortRequested()) return false;
    if (!transport_->HasConnection() && !transport_->Connect(settings_.address, settings_.port)) return false;

    if (request.verb.empty() || request.path.empty()) return false;
    if (!transport_->OpenRequest(request.verb, request.path, request.secure == 1,
                                 (request.options & kOptionQueryNotEscaped) == 0)) {
        return false;
    }

    auto fail = [this] {
        transport_->CloseRequest();
        return false;
    };
    if (!settings_.userName.empty() && request.authScheme != kNoCredentials) {
        uint32_t scheme = learnedScheme_ != 0 ? learnedScheme_ : SchemeFor(request.authScheme);
        if (!transport_->SetCredentials(scheme, settings_.userName, settings_.password)) return fail();
    }
    if (request.secure == 1 && (request.options & kOptionAnyCertificate) && !transport_->IgnoreCertificateErrors()) {
        return fail();
    }
    if ((request.options & kOptionNoRedirects) && !transport_->DisableRedirects()) return fail();
    for (const std::string& line : request.headers) {
        if (!transport_->AddHeader(line)) return fail();
    }

    uint64_t total = std::max<uint64_t>(request.body.size(), request.announcedLength);
    if (!transport_->SendRequest(request.body.data(), request.body.size(), total)) return fail();
    if (request.body.size() < request.announcedLength || (request.options & kOptionDeferResponse)) return true;

    if (!transport_->ReceiveResponse()) return fail();
    ReadStatus();

    if (statusCode_ == 401 && learnedScheme_ == 0) return LearnScheme(request) && Send(request);
    return true;
}

bool CHttpSender::LearnScheme(const HttpRequest& request) {
    if (statusCode_ != 401 || learnedScheme_ != 0) return false;
    uint32_t used = SchemeFor(request.authScheme);
    uint32_t offered = 0;
    bool known = transport_->QueryAuthSchemes(offered);
    if (known) learnedScheme_ = offered;
    transport_->CloseRequest();
    return known && learnedScheme_ != 0 && learnedScheme_ != used;
}

bool CHttpSender::ReceiveResponse() {
    if (!transport_->HasRequest() || !transport_->ReceiveResponse()) return false;
    ReadStatus();
    return true;
}

bool CHttpSender::WriteBody(const uint8_t* data, size_t length) {
    if (!data || length == 0 || !transport_->HasRequest()) return false;
    size_t written = 0;
    if (transport_->WriteData(data, length, written) && written == length) return true;
    ReadStatus();
    return false;
}

size_t CHttpSender::ReadBody(std::vector<uint8_t>& body) {
    body.clear();
    uint8_t piece[kReadPiece];
    while (transport_->HasRequest()) {
        size_t read = 0;
        if (!transport_->ReadData(piece, sizeof(piece), read) || read == 0) break;
        body.insert(body.end(), piece, piece + read);
        if (body.size() > kMaxBodySize) break;
    }
    // Part of a body is no answer to go by.
    if (transport_->RequestAborted()) body.clear();
    return body.size();
}

void CHttpSender::Close() {
    transport_->CloseRequest();
    transport_->CloseConnection();
    transport_->CloseSession();
}

bool HttpGet(CHttpSender& sender, const std::string& path, std::vector<uint8_t>& output) {
    HttpRequest request("GET", path);
    output.clear();
    if (!sender.Send(request)) return false;
    if (sender.ReadBody(output) == 0 || sender.StatusCode() != 200) return false;
    output.push_back(0);
    return true;
}

bool HttpPut(CHttpSender& sender, const std::string& path, const std::vector<std::string>& headers,
             const std::string& body, std::vector<uint8_t>& output) {
    HttpRequest request("PUT", path);
    request.headers = headers;
    request.announcedLength = static_cast<uint32_t>(std::min<size_t>(body.size(), 0xFFFFFFFFu));
    for (;;) {
        output.clear();
        if (!sender.Send(request)) return false;
        platform::SleepMs(kPutBodyDelayMs);
        if (body.empty()) return false;
        bool written = sender.WriteBody(reinterpret_cast<const uint8_t*>(body.data()), body.size());
        if (written && !sender.ReceiveResponse()) return false;
        // The 401 may come before the body or after it; LearnScheme holds
        // only once per sender, so the PUT is made at most twice.
        if (sender.StatusCode() == 401 && sender.LearnScheme(request)) continue;
        if (!written) return false;
        if (sender.ReadBody(output) == 0 || sender.StatusCode() != 200) return false;
        output.push_back(0);
        return true;
    }
}

}  // namespace Web
