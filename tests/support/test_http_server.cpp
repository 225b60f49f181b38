#include "support/test_http_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "util/md5.h"
#include "util/text.h"
#include "support/fake_host.h"

namespace fakes {

namespace {

std::string Lower(const std::string& text) { return telvaro::ToLower(text); }

std::string Trim(const std::string& text) { return telvaro::TrimBlanks(text); }

std::string ReasonFor(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

bool Contains(const std::vector<HttpAuthScheme>& schemes, HttpAuthScheme scheme) {
    return std::find(schemes.begin(), schemes.end(), scheme) != schemes.end();
}

}  // namespace

// Written here rather than borrowed from the driver, so that the servers
// do not share the parser they are testing.
std::map<std::string, std::string> AuthParams(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
        const size_t eq = text.find('=', i);
        if (eq == std::string::npos) break;
        const std::string name = Lower(Trim(text.substr(i, eq - i)));
        i = eq + 1;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                value += text[i];
            }
            ++i;
        } else {
            size_t end = text.find(',', i);
            if (end == std::string::npos) end = text.size();
            value = Trim(text.substr(i, end - i));
            i = end;
        }
        out[name] = value;
    }
    return out;
}

bool DecodeBase64(const std::string& text, std::string& decoded) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    decoded.clear();
    if (text.size() % 4 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t v = 0;
        int pad = 0;
        for (size_t j = 0; j < 4; ++j) {
            char c = text[i + j];
            if (c == '=' && i + 4 == text.size() && j >= 2) {
                ++pad;
                v <<= 6;
                continue;
            }
            size_t at = kAlphabet.find(c);
            if (at == std::string::npos || pad > 0) return false;
            v = (v << 6) | static_cast<uint32_t>(at);
        }
        decoded.push_back(static_cast<char>((v >> 16) & 0xFF));
        if (pad < 2) decoded.push_back(static_cast<char>((v >> 8) & 0xFF));
        if (pad < 1) decoded.push_back(static_cast<char>(v & 0xFF));
    }
    return true;
}

HttpReply UnansweredReply() {
    HttpReply reply;
    reply.hold = true;
    return reply;
}

HttpReply DribbledReply(int status, const std::string& body, int pieceMs, int padLines) {
    HttpReply reply(status, body);
    reply.dribbleMs = pieceMs;
    for (int i = 0; i < padLines; ++i) reply.headers.push_back("X-Padding-" + std::to_string(i) + ": slow");
    return reply;
}

std::string RecordedRequest::Header(const std::string& name) const {
    std::string wanted = Lower(name);
    for (const auto& h : headers) {
        if (Lower(h.name) == wanted) return h.value;
    }
    return std::string();
}

size_t RecordedRequest::HeaderCount(const std::string& name) const {
    std::string wanted = Lower(name);
    return static_cast<size_t>(
        std::count_if(headers.begin(), headers.end(), [&](const HttpHeader& h) { return Lower(h.name) == wanted; }));
}

TestHttpServer::TestHttpServer() = default;

TestHttpServer::~TestHttpServer() { Stop(); }

bool TestHttpServer::Start() {
    return listener_.Start([this](SocketFd fd, int number) { Serve(fd, number); });
}

void TestHttpServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) return;
        stopping_ = true;
    }
    cv_.notify_all();
    listener_.Stop();
}

bool TestHttpServer::WaitStopping(int ms) {
    std::unique_lock<std::mutex> lock(mu_);
    if (ms < 0) {
        cv_.wait(lock, [this] { return stopping_; });
    } else {
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
    }
    return stopping_;
}

void TestHttpServer::Serve(SocketFd fd, int number) {
    // Whatever ends the conversation, the client sees the connection close.
    struct Closer {
        SocketFd fd;
        ~Closer() { ShutdownBoth(fd); }
    } closer{fd};
    std::string pending;
    char buffer[16384];
    auto receiveMore = [&]() {
        const long n = ReceiveSome(fd, buffer, sizeof(buffer));
        if (n <= 0) return false;
        pending.append(buffer, static_cast<size_t>(n));
        return true;
    };

    for (;;) {
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (!receiveMore()) return;
        }
        RecordedRequest request;
        request.connection = number;
        request.head = pending.substr(0, end + 2);
        pending.erase(0, end + 4);

        size_t lineEnd = request.head.find("\r\n");
        std::string requestLine = request.head.substr(0, lineEnd);
        size_t s1 = requestLine.find(' ');
        size_t s2 = requestLine.rfind(' ');
        if (s1 == std::string::npos || s2 == s1) return;
        request.method = requestLine.substr(0, s1);
        request.target = requestLine.substr(s1 + 1, s2 - s1 - 1);
        request.version = requestLine.substr(s2 + 1);
        size_t at = lineEnd + 2;
        while (at < request.head.size()) {
            size_t next = request.head.find("\r\n", at);
            std::string line = request.head.substr(at, next - at);
            at = next + 2;
            size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            request.headers.push_back({Trim(line.substr(0, colon)), Trim(line.substr(colon + 1))});
        }

        size_t index;
        {
            std::lock_guard<std::mutex> lock(mu_);
            index = requests_.size();
            requests_.push_back(request);
        }
        cv_.notify_all();

        std::string scheme;
        bool stale = false;
        bool early = RefusesBeforeBody();
        bool authorised = !early || Authorised(request, scheme, stale);
        if (!authorised) {
            HttpReply refusal = Challenge(stale);
            refusal.close = true;
            SendReply(fd, refusal);
            // Whatever body still comes is read and dropped, so that the
            // client does not meet a reset before it has read the refusal.
            ShutdownSending(fd);
            while (receiveMore()) pending.clear();
            return;
        }

        if (Lower(request.Header("Expect")) == "100-continue") {
            const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            SendSome(fd, kContinue, sizeof(kContinue) - 1);
        }

        const auto headIn = std::chrono::steady_clock::now();
        std::string lengthText = request.Header("Content-Length");
        size_t length = lengthText.empty() ? 0 : static_cast<size_t>(std::strtoull(lengthText.c_str(), nullptr, 10));
        while (pending.size() < length) {
            {
                std::lock_guard<std::mutex> lock(mu_);
                requests_[index].body = pending;
            }
            cv_.notify_all();
            if (!receiveMore()) return;
        }
        request.body = pending.substr(0, length);
        pending.erase(0, length);

        if (!early) authorised = Authorised(request, scheme, stale);
        request.authorizedWith = scheme;
        request.bodyComplete = true;
        request.bodyAfterHeadMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - headIn).count());
        {
            std::lock_guard<std::mutex> lock(mu_);
            requests_[index] = request;
        }
        cv_.notify_all();

        HttpReply reply = authorised ? NextReply(request) : Challenge(stale);
        if (reply.drop) return;
        if (reply.hold) {
            WaitStopping(-1);
            return;
        }
        if (reply.delayMs > 0) WaitStopping(reply.delayMs);
        if (!SendReply(fd, reply)) return;
        if (reply.close || reply.cut || Lower(request.Header("Connection")) == "close") return;
    }
}

bool TestHttpServer::Authorised(const RecordedRequest& request, std::string& scheme, bool& stale) {
    scheme.clear();
    stale = false;
    std::lock_guard<std::mutex> lock(mu_);
    if (!authRequired_) return true;
    const std::vector<HttpAuthScheme>& accepted = auth_.accepted.empty() ? auth_.offered : auth_.accepted;
    std::string value = request.Header("Authorization");
    size_t space = value.find(' ');
    std::string kind = Lower(value.substr(0, space));
    std::string rest = space == std::string::npos ? std::string() : value.substr(space + 1);

    if (kind == "basic" && Contains(accepted, HttpAuthScheme::Basic)) {
        std::string decoded;
        if (DecodeBase64(Trim(rest), decoded) && decoded == auth_.userName + ":" + auth_.password) {
            scheme = "Basic";
            return true;
        }
        return false;
    }
    if (kind == "digest" && Contains(accepted, HttpAuthScheme::Digest)) {
        // RFC 2617 section 3.2.2 with qop="auth".
        auto p = AuthParams(rest);
        const bool qopRight = auth_.qopAuth ? p["qop"] == "auth" && !p["nc"].empty() && !p["cnonce"].empty()
                                            : p.count("qop") == 0 && p.count("nc") == 0;
        if (p["username"] != auth_.userName || p["realm"] != auth_.realm || p["uri"] != request.target ||
            !qopRight || p["opaque"] != auth_.opaque || nonceUses_.count(p["nonce"]) == 0) {
            return false;
        }
        std::string ha1 = telvaro::Md5Hex(auth_.userName + ":" + auth_.realm + ":" + auth_.password);
        std::string ha2 = telvaro::Md5Hex(request.method + ":" + p["uri"]);
        std::string expected =
            auth_.qopAuth ? telvaro::Md5Hex(ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2)
                          : telvaro::Md5Hex(ha1 + ":" + p["nonce"] + ":" + ha2);
        if (p["response"] != expected) return false;
        int& uses = nonceUses_[p["nonce"]];
        if (auth_.nonceUses > 0 && uses >= auth_.nonceUses) {
            stale = true;
            return false;
        }
        ++uses;
        scheme = "Digest";
        return true;
    }
    return false;
}

bool TestHttpServer::RefusesBeforeBody() {
    std::lock_guard<std::mutex> lock(mu_);
    return authRequired_ && auth_.refuseBeforeBody;
}

HttpReply TestHttpServer::Challenge(bool stale) {
    std::lock_guard<std::mutex> lock(mu_);
    HttpReply reply(401, "<html><body>401 Unauthorized</body></html>");
    for (HttpAuthScheme scheme : auth_.offered) {
        if (scheme == HttpAuthScheme::Basic) {
            reply.headers.push_back("WWW-Authenticate: Basic realm=\"" + auth_.realm + "\"");
        } else {
            std::string nonce = telvaro::Md5Hex("nonce" + std::to_string(++nonceCounter_) + auth_.realm);
            nonceUses_[nonce] = 0;
            std::string challenge = "WWW-Authenticate: Digest realm=\"" + auth_.realm + "\", ";
            if (auth_.qopAuth) challenge += "qop=\"auth\", ";
            if (!auth_.opaque.empty()) challenge += "opaque=\"" + auth_.opaque + "\", algorithm=MD5, ";
            challenge += "nonce=\"" + nonce + "\", stale=\"" + (stale ? "TRUE" : "FALSE") + "\"";
            reply.headers.push_back(challenge);
        }
    }
    return reply;
}

HttpReply TestHttpServer::NextReply(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!script_.empty()) {
            HttpReply reply = script_.front();
            script_.pop_front();
            return reply;
        }
        handler = handler_;
    }
    if (handler) return handler(request);
    return HttpReply(404, "not found");
}

bool TestHttpServer::SendReply(SocketFd fd, const HttpReply& reply) {
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                       (reply.reason.empty() ? ReasonFor(reply.status) : reply.reason) + "\r\n";
    for (const auto& line : reply.headers) text += line + "\r\n";
    if (reply.chunked) {
        text += "Transfer-Encoding: chunked\r\n";
    } else if (reply.contentLength) {
        std::string length = reply.announcedLength.empty() ? std::to_string(reply.body.size()) : reply.announcedLength;
        text += "Content-Length: " + length + "\r\n";
    }
    if (reply.close) text += "Connection: close\r\n";
    text += "\r\n";
    const size_t headSize = text.size();
    if (!reply.chunked) {
        text += reply.body;
    } else {
        const size_t kChunk = 4096;
        for (size_t at = 0; at < reply.body.size(); at += kChunk) {
            std::string chunk = reply.body.substr(at, kChunk);
            char size[16];
            std::snprintf(size, sizeof(size), "%zx\r\n", chunk.size());
            text += size + chunk + "\r\n";
        }
        if (!reply.cut) text += "0\r\n\r\n";
    }
    auto sendAll = [fd](const char* data, size_t size) {
        size_t sent = 0;
        while (sent < size) {
            const long n = SendSome(fd, data + sent, size - sent);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    };
    if (reply.dribbleMs <= 0) return sendAll(text.data(), text.size());
    size_t at = 0;
    while (at < text.size()) {
        size_t end = at + 1;
        if (at < headSize) end = text.find("\r\n", at) + 2;
        if (!sendAll(text.data() + at, end - at)) return false;
        at = end;
        if (at < text.size() && WaitStopping(reply.dribbleMs)) return false;
    }
    return true;
}

void TestHttpServer::Script(const HttpReply& reply) {
    std::lock_guard<std::mutex> lock(mu_);
    script_.push_back(reply);
}

void TestHttpServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mu_);
    handler_ = std::move(handler);
}

void TestHttpServer::RequireAuth(const HttpAuthConfig& config) {
    std::lock_guard<std::mutex> lock(mu_);
    authRequired_ = true;
    auth_ = config;
}

std::vector<RecordedRequest> TestHttpServer::Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

size_t TestHttpServer::RequestCount() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_.size();
}

int TestHttpServer::ConnectionCount() { return listener_.ConnectionCount(); }

bool TestHttpServer::WaitForRequests(size_t n, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return requests_.size() >= n; });
}

bool TestHttpServer::WaitForBody(size_t index, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return requests_.size() > index && requests_[index].bodyComplete; });
}

}  // namespace fakes
