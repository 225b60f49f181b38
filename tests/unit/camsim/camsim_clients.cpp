#include "camsim_clients.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "camsim/text_util.h"

namespace camsim_test {

namespace {

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    auto* headers = static_cast<std::vector<std::string>*>(user);
    // Only the headers of the last response count (after an auth retry).
    if (line.compare(0, 5, "HTTP/") == 0) headers->clear();
    if (!line.empty()) headers->push_back(line);
    return size * count;
}

std::string ParamOf(const std::string& text, const std::string& name) {
    size_t p = text.find(name + "=\"");
    if (p == std::string::npos) return std::string();
    p += name.size() + 2;
    return text.substr(p, text.find('"', p) - p);
}

}  // namespace

HttpResult Http(const std::string& method, const std::string& url, const std::string& user,
                const std::string& password, long authMask, const std::string& body) {
    HttpResult result;
    CURL* curl = curl_easy_init();
    if (!curl) return result;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headers);
    if (authMask != 0) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, authMask);
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    }
    curl_slist* headers = nullptr;
    if (method == "PUT") {
        headers = curl_slist_append(headers, "Content-Type: application/xml; charset=\"UTF-8\"");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

std::string XmlValue(const std::string& xml, const std::string& name) {
    size_t open = xml.find("<" + name + ">");
    if (open == std::string::npos) return std::string();
    open += name.size() + 2;
    size_t close = xml.find("</" + name + ">", open);
    return close == std::string::npos ? std::string() : xml.substr(open, close - open);
}

std::vector<std::string> RtspReply::Headers(const std::string& name) const {
    std::vector<std::string> out;
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        size_t end = head.find("\r\n", pos + 2);
        std::string line = head.substr(pos + 2, end == std::string::npos ? std::string::npos : end - pos - 2);
        size_t colon = line.find(':');
        if (colon != std::string::npos && camsim::ToLower(line.substr(0, colon)) == camsim::ToLower(name))
            out.push_back(camsim::Trim(line.substr(colon + 1)));
        pos = end;
    }
    return out;
}

std::string RtspReply::Header(const std::string& name) const {
    auto all = Headers(name);
    return all.empty() ? std::string() : all[0];
}

RtspClient::~RtspClient() { Close(); }

bool RtspClient::Connect(uint16_t port) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

void RtspClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    buffer_.clear();
}

bool RtspClient::SendRaw(const std::string& text) {
    return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

bool RtspClient::Fill(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char chunk[65536];
    ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
}

RtspReply RtspClient::Request(const std::string& method, const std::string& url, const std::string& extra) {
    SendRaw(method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq) + "\r\n" + extra +
            "User-Agent: Telvaro\r\n\r\n");
    return ReadReply();
}

RtspReply RtspClient::ReadReply(int timeoutMs) {
    RtspReply reply;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (!buffer_.empty() && buffer_[0] == '$' && buffer_.size() >= 4) {
            size_t length = static_cast<size_t>(static_cast<uint8_t>(buffer_[2])) << 8 | static_cast<uint8_t>(buffer_[3]);
            if (buffer_.size() < 4 + length) break;
            buffer_.erase(0, 4 + length);
        }
        size_t end = buffer_[0] == '$' ? std::string::npos : buffer_.find("\r\n\r\n");
        if (end != std::string::npos) {
            reply.head = buffer_.substr(0, end);
            size_t length = static_cast<size_t>(std::atoi(reply.Header("Content-Length").c_str()));
            if (buffer_.size() >= end + 4 + length) {
                reply.body = buffer_.substr(end + 4, length);
                buffer_.erase(0, end + 4 + length);
                std::sscanf(reply.head.c_str(), "RTSP/1.0 %d", &reply.status);
                return reply;
            }
        }
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0 || !Fill(left)) return RtspReply();
    }
}

bool RtspClient::ReadInterleaved(uint8_t& channel, std::vector<uint8_t>& packet, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (buffer_.size() >= 4 && buffer_[0] == '$') {
            size_t length = static_cast<size_t>(static_cast<uint8_t>(buffer_[2])) << 8 | static_cast<uint8_t>(buffer_[3]);
            if (buffer_.size() >= 4 + length) {
                channel = static_cast<uint8_t>(buffer_[1]);
                packet.assign(buffer_.begin() + 4, buffer_.begin() + static_cast<long>(4 + length));
                buffer_.erase(0, 4 + length);
                return true;
            }
        } else if (!buffer_.empty() && buffer_[0] != '$') {
            return false;  // a reply where a frame was expected
        }
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0 || !Fill(left)) return false;
    }
}

bool RtspClient::ClosedByServer(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) return false;
        char chunk[65536];
        if (recv(fd_, chunk, sizeof chunk, 0) <= 0) return true;
    }
}

std::string DigestAuthorization(const std::string& challenge, const std::string& user, const std::string& password,
                                const std::string& method, const std::string& uri) {
    std::string realm = ParamOf(challenge, "realm");
    std::string nonce = ParamOf(challenge, "nonce");
    std::string ha1 = camsim::Md5Hex(user + ":" + realm + ":" + password);
    std::string ha2 = camsim::Md5Hex(method + ":" + uri);
    std::string response = camsim::Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    return "Authorization: Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
           "\", uri=\"" + uri + "\", response=\"" + response + "\"\r\n";
}

UdpPair::UdpPair() {
    for (int attempt = 0; attempt < 50 && rtcp_ < 0; ++attempt) {
        int a = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof addr;
        bind(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        getsockname(a, reinterpret_cast<sockaddr*>(&addr), &n);
        uint16_t port = ntohs(addr.sin_port);
        if (port % 2 != 0) {
            close(a);
            continue;
        }
        int b = socket(AF_INET, SOCK_DGRAM, 0);
        addr.sin_port = htons(static_cast<uint16_t>(port + 1));
        if (bind(b, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(a);
            close(b);
            continue;
        }
        int size = 4 << 20;
        setsockopt(a, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        rtp_ = a;
        rtcp_ = b;
        port_ = port;
    }
}

UdpPair::~UdpPair() {
    if (rtp_ >= 0) close(rtp_);
    if (rtcp_ >= 0) close(rtcp_);
}

std::vector<std::vector<uint8_t>> UdpPair::Receive(int timeoutMs, bool rtcp, size_t atMost, sockaddr_in* from) {
    std::vector<std::vector<uint8_t>> out;
    int fd = rtcp ? rtcp_ : rtp_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < atMost) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        std::vector<uint8_t> data(65536);
        sockaddr_in sender{};
        socklen_t n = sizeof sender;
        ssize_t got = recvfrom(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sender), &n);
        if (got <= 0) break;
        data.resize(static_cast<size_t>(got));
        out.push_back(std::move(data));
        if (from) *from = sender;
    }
    return out;
}

bool ParseRtp(const std::vector<uint8_t>& p, RtpHeader& h) {
    if (p.size() < 12 || (p[0] >> 6) != 2) return false;
    h.marker = (p[1] & 0x80) != 0;
    h.payloadType = p[1] & 0x7F;
    h.sequence = static_cast<uint16_t>(p[2] << 8 | p[3]);
    h.timestamp = static_cast<uint32_t>(p[4]) << 24 | static_cast<uint32_t>(p[5]) << 16 |
                  static_cast<uint32_t>(p[6]) << 8 | p[7];
    h.ssrc = static_cast<uint32_t>(p[8]) << 24 | static_cast<uint32_t>(p[9]) << 16 |
             static_cast<uint32_t>(p[10]) << 8 | p[11];
    return true;
}

std::string Ffprobe(const std::string& url, const std::string& transport) {
    std::string command = "timeout 10 ffprobe -v error -rtsp_transport " + transport +
                          " -timeout 3000000 -show_entries stream=codec_name,width,height -of csv=p=0 '" + url +
                          "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::string();
    std::string out;
    std::array<char, 256> chunk;
    while (fgets(chunk.data(), chunk.size(), pipe)) out += chunk.data();
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace camsim_test
