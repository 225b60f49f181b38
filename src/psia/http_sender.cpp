#include "psia/http_sender.h"


#include "util/base64.h"
#include "psia/http_auth_memory.h"
#include "util/digest_auth.h"
#include "util/text.h"

namespace Web {

namespace platform = telvaro::platform;

namespace {

const char kUserAgentLine[] = "User-Agent: Telvaro::HttpClient";
constexpr uint32_t kPutBodyDelayMs = 100;

// The request target: bytes that cannot stand in a request line (blanks,
// controls, "#" which would end the URL) escaped, and non-ASCII bytes of the
// path; the query goes out as given.
std::string EscapeTarget(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = path[0] == '/' ? std::string() : std::string("/");
    bool inQuery = false;
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        inQuery = inQuery || c == '?';
        if (c <= 0x20 || c == 0x7F || c == '#' || (c >= 0x80 && !inQuery)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

// RFC 7617 for Basic; RFC 7616 section 3.4 (RFC 2617 section 3.2.2) for
// Digest with MD5, with qop "auth" when the camera offered it and in the
// RFC 2069 form otherwise. uri is the request target exactly as sent.
std::string AuthorizationLine(const HttpAuthRecord& record, const telvaro::DEVICE_INFO& settings,
                              const std::string& method, const std::string& uri, const std::string& clientNonce) {
    if (record.scheme == kHttpAuthBasic) {
        std::string credential;
        telvaro::MakeBasicCredential(settings.userName, settings.password, credential);
        return "Authorization: Basic " + credential;
    }
    telvaro::DigestChallenge challenge;
    challenge.realm = record.realm;
    challenge.nonce = record.nonce;
    challenge.opaque = record.opaque;
    challenge.qopAuth = record.qopAuth;
    std::string line = "Authorization: " + telvaro::DigestCredentials(settings.userName, settings.password, method, uri,
                                                                       challenge, record.nonceCount, clientNonce);
    if (record.algorithmNamed) line += ", algorithm=MD5";
    return line;
}

}  // namespace

uint32_t CHttpSender::SchemeFor(uint32_t authScheme) {
    if (authScheme & 0x4) return kHttpAuthNegotiate;
    if ((authScheme & 0x3) == 0x3) return kHttpAuthDigest;
    if (authScheme & 0x2) return kHttpAuthPassport;
    if (authScheme & 0x1) return kHttpAuthNtlm;
    return kHttpAuthBasic;
}

CHttpSender::CHttpSender(const telvaro::DEVICE_INFO& settings)
    : settings_(settings),
      device_(CHttpAuthMemory::DeviceKey(settings.address, settings.port, settings.userName)),
      clientNonce_(telvaro::MakeClientNonce()),
      transport_(std::make_unique<platform::HttpTransport>()) {}

CHttpSender::~CHttpSender() { Close(); }

void CHttpSender::SetAbortFlag(const std::atomic<bool>* flag) { transport_->SetAbortFlag(flag); }

uint32_t CHttpSender::LearnedScheme() const { return CHttpAuthMemory::Instance().Scheme(device_); }

bool CHttpSender::Send(const HttpRequest& request) {
    statusCode_ = 0;
    contentLength_ = 0;
    answer_ = platform::HttpAnswer();
    outcome_ = platform::HttpOutcome::kRefused;
    if (request.verb.empty() || request.path.empty()) return false;
    const bool credentials = !settings_.userName.empty() && request.authScheme != kNoCredentials;
    const uint32_t preferred = SchemeFor(request.authScheme);
    if (credentials && preferred != kHttpAuthBasic && preferred != kHttpAuthDigest) return false;
    // Nothing goes out that could carry a header line of the caller's making.
    if (credentials && !telvaro::CredentialFault(settings_.userName, settings_.password).empty()) return false;

    const std::string target = EscapeTarget(request.path);
    CHttpAuthMemory& memory = CHttpAuthMemory::Instance();
    // Credentials only for a device that has asked for them, in its scheme.
    HttpAuthRecord sent;
    const bool answering = credentials && memory.Next(device_, sent);
    std::string authorization =
        answering ? AuthorizationLine(sent, settings_, request.verb, target, clientNonce_) : std::string();
    if (!Exchange(request, target, authorization)) return false;
    if (statusCode_ != 401 || !credentials) return true;

    std::vector<std::string> values;
    for (const auto& header : answer_.headers) {
        if (telvaro::ToLower(header.first) == "www-authenticate") values.push_back(header.second);
    }
    const std::vector<HttpChallenge> challenges = ParseChallenges(values);
    const HttpChallenge* challenge = StrongestChallenge(challenges);
    if (!challenge) return true;
    memory.Learn(device_, *challenge);
    // Once more only with something new to say: credentials at all, another
    // scheme, or a fresh nonce (a stale one, RFC 7616 section 3.3).
    const bool fresh = !answering || challenge->scheme != sent.scheme ||
                       (challenge->scheme == kHttpAuthDigest && challenge->Param("nonce") != sent.nonce);
    HttpAuthRecord next;
    if (!fresh || !memory.Next(device_, next)) return true;
    return Exchange(request, target, AuthorizationLine(next, settings_, request.verb, target, clientNonce_));
}

bool CHttpSender::Exchange(const HttpRequest& request, const std::string& target, const std::string& authorization) {
    platform::HttpExchange exchange;
    exchange.method = request.verb;
    exchange.host = settings_.address;
    exchange.port = settings_.port;
    exchange.target = target;
    exchange.headers.emplace_back(kUserAgentLine);
    if (!authorization.empty()) exchange.headers.push_back(authorization);
    exchange.headers.insert(exchange.headers.end(), request.headers.begin(), request.headers.end());
    exchange.body = request.body.data();
    exchange.bodySize = request.body.size();
    exchange.bodyDelayMs = request.bodyDelayMs;
    exchange.timeoutMs = settings_.timeout;
    exchange.maxBodySize = kMaxBodySize;
    outcome_ = transport_->Exchange(exchange, answer_);
    statusCode_ = answer_.status;
    contentLength_ = 0;
    for (const auto& header : answer_.headers) {
        int32_t length = 0;
        if (telvaro::ToLower(header.first) == "content-length" && telvaro::ParseDecimal(header.second, length)) {
            contentLength_ = static_cast<uint32_t>(length);
        }
    }
    return outcome_ == platform::HttpOutcome::kAnswered;
}

size_t CHttpSender::ReadBody(std::vector<uint8_t>& body) {
    body.clear();
    body.swap(answer_.body);
    return body.size();
}

void CHttpSender::Close() { transport_->Close(); }

namespace {

bool TakeAnswer(CHttpSender& sender, std::vector<uint8_t>& output) {
    if (sender.ReadBody(output) == 0 || sender.StatusCode() != 200) {
        output.clear();
        return false;
    }
    output.push_back(0);
    return true;
}

}  // namespace

bool HttpGet(CHttpSender& sender, const std::string& path, std::vector<uint8_t>& output) {
    output.clear();
    return sender.Send(HttpRequest("GET", path)) && TakeAnswer(sender, output);
}

bool HttpPut(CHttpSender& sender, const std::string& path, const std::vector<std::string>& headers,
             const std::string& body, std::vector<uint8_t>& output) {
    HttpRequest request("PUT", path);
    request.headers = headers;
    request.body.assign(body.begin(), body.end());
    // Some cameras read a request's head before they take its body.
    request.bodyDelayMs = kPutBodyDelayMs;
    output.clear();
    return sender.Send(request) && !body.empty() && TakeAnswer(sender, output);
}

}  // namespace Web
