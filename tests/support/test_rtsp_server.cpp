#include "support/test_rtsp_server.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "util/md5.h"
#include "util/text.h"
#include "support/fake_host.h"

namespace fakes {

namespace {

const char* ReasonFor(int status) {
    switch (status) {
        case 200: return "OK";
        case 401: return "Unauthorized";
        case 404: return "Not Found";
        case 454: return "Session Not Found";
        case 461: return "Unsupported Transport";
        default: return "Status";
    }
}

}  // namespace

std::string RtspRequest::Header(const std::string& name) const {
    const std::string wanted = telvaro::ToLower(name) + ":";
    size_t at = text.find("\r\n");
    while (at != std::string::npos && at + 2 < text.size()) {
        size_t start = at + 2;
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) break;
        std::string line = text.substr(start, end - start);
        if (telvaro::ToLower(line).compare(0, wanted.size(), wanted) == 0) {
            return telvaro::TrimBlanks(line.substr(wanted.size()));
        }
        at = end;
    }
    return std::string();
}

TestRtspServer::TestRtspServer() = default;

TestRtspServer::~TestRtspServer() { Stop(); }

bool TestRtspServer::Start() {
    return listener_.Start([this](SocketFd fd, int number) { Serve(fd, number); });
}

void TestRtspServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) return;
        stopping_ = true;
    }
    cv_.notify_all();
    listener_.Stop();
}

void TestRtspServer::Serve(SocketFd fd, int number) {
    // Every piece of a split reply leaves in a segment of its own.
    SetNoDelay(fd);
    std::string pending;
    char buffer[4096];
    for (;;) {
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            const long n = ReceiveSome(fd, buffer, sizeof(buffer));
            if (n <= 0) return;
            pending.append(buffer, static_cast<size_t>(n));
        }
        RtspRequest request;
        request.connection = number;
        request.received = std::chrono::steady_clock::now();
        request.text = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        const std::string requestLine = request.text.substr(0, request.text.find("\r\n"));
        size_t s1 = requestLine.find(' ');
        size_t s2 = requestLine.rfind(' ');
        if (s1 != std::string::npos && s2 > s1) {
            request.method = requestLine.substr(0, s1);
            request.url = requestLine.substr(s1 + 1, s2 - s1 - 1);
        }
        request.cseq = static_cast<uint32_t>(std::strtoul(request.Header("CSeq").c_str(), nullptr, 10));

        Handler handler;
        {
            std::lock_guard<std::mutex> lock(mu_);
            requests_.push_back(request);
            handler = handler_;
        }
        cv_.notify_all();

        RtspAnswer answer;
        answer.hold = true;
        if (handler) answer = handler(request);
        if (answer.hold) {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait(lock, [this] { return stopping_; });
            return;
        }
        if (!Answer(fd, answer) || answer.close) {
            ShutdownBoth(fd);
            return;
        }
    }
}

bool TestRtspServer::SendOn(SocketFd fd, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(sendMu_);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = SendSome(fd, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool TestRtspServer::Answer(SocketFd fd, const RtspAnswer& answer) {
    std::vector<size_t> cuts = answer.splits;
    if (answer.chunk > 0) {
        cuts.clear();
        for (size_t at = answer.chunk; at < answer.text.size(); at += answer.chunk) cuts.push_back(at);
    }
    size_t from = 0;
    for (size_t cut : cuts) {
        if (cut <= from || cut >= answer.text.size()) continue;
        if (!SendOn(fd, answer.text.substr(from, cut - from))) return false;
        from = cut;
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.gapMs));
    }
    return SendOn(fd, answer.text.substr(from) + answer.after);
}

void TestRtspServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mu_);
    handler_ = std::move(handler);
}

std::vector<RtspRequest> TestRtspServer::Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

size_t TestRtspServer::RequestCount() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_.size();
}

bool TestRtspServer::WaitForRequests(size_t n, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return requests_.size() >= n; });
}

int TestRtspServer::ConnectionCount() { return listener_.ConnectionCount(); }

bool TestRtspServer::Send(const std::string& bytes) {
    const SocketFd fd = listener_.NewestConnection();
    return fd != kNoSocket && SendOn(fd, bytes);
}

std::string TestRtspServer::Reply(int status, uint32_t cseq, const std::vector<std::string>& headers,
                                  const std::string& body) {
    std::string text = "RTSP/1.0 " + std::to_string(status) + " " + ReasonFor(status) + "\r\n";
    text += "CSeq: " + std::to_string(cseq) + "\r\n";
    for (const std::string& h : headers) text += h + "\r\n";
    if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

std::string TestRtspServer::Interleaved(uint8_t channel, const std::vector<uint8_t>& payload) {
    std::string frame;
    frame.push_back('$');
    frame.push_back(static_cast<char>(channel));
    frame.push_back(static_cast<char>(payload.size() >> 8));
    frame.push_back(static_cast<char>(payload.size() & 0xFF));
    frame.append(payload.begin(), payload.end());
    return frame;
}

RefusedPort::RefusedPort() { fd_ = BindOnLoopback(port_); }

RefusedPort::~RefusedPort() { CloseSocketFd(fd_); }

std::string DigestResponse(const std::string& user, const std::string& realm, const std::string& password,
                           const std::string& method, const std::string& uri, const std::string& nonce) {
    const std::string ha1 = telvaro::Md5Hex(user + ":" + realm + ":" + password);
    const std::string ha2 = telvaro::Md5Hex(method + ":" + uri);
    return telvaro::Md5Hex(ha1 + ":" + nonce + ":" + ha2);
}

}  // namespace fakes
