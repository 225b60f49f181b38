#include "support/hostile_rtsp_peer.h"

namespace fakes {

namespace {

constexpr int kPollMs = 20;
// A request that never ends is dropped rather than kept.
constexpr size_t kMaxRequestBytes = 64 * 1024;

}  // namespace

HostileRtspPeer::~HostileRtspPeer() { Stop(); }

bool HostileRtspPeer::Start() {
    listenFd_ = ListenOnLoopback(4, port_);
    if (listenFd_ == kNoSocket) return false;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void HostileRtspPeer::Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    CloseSocketFd(listenFd_);
    listenFd_ = kNoSocket;
}

void HostileRtspPeer::SetScript(const HostileScript& script) {
    std::lock_guard<std::mutex> guard(scriptLock_);
    script_ = script;
}

void HostileRtspPeer::Serve() {
    while (!stopping_) {
        const SocketFd fd = AcceptWithin(listenFd_, kPollMs);
        if (fd == kNoSocket) continue;
        HostileScript script;
        {
            std::lock_guard<std::mutex> guard(scriptLock_);
            script = script_;
        }
        Converse(fd, script);
        CloseSocketFd(fd);
        ++finished_;
    }
}

void HostileRtspPeer::Converse(SocketFd fd, const HostileScript& script) {
    // The endless text goes out in blocks of a few kilobytes: one short write
    // per copy is slow where every socket call is a round trip (Wine).
    std::string endless = script.endless;
    while (!endless.empty() && endless.size() < 4096) endless += script.endless;
    std::string received;
    size_t answered = 0;
    char buffer[4096];
    while (!stopping_) {
        if (answered == script.replies.size()) {
            if (!endless.empty()) {
                if (!SendAll(fd, endless)) return;
                continue;
            }
            if (script.closeAfterReplies) return;
        }
        const int ready = WaitReadable(fd, kPollMs);
        if (ready < 0) return;
        if (ready == 0) continue;
        const long n = ReceiveSome(fd, buffer, sizeof(buffer));
        if (n <= 0) return;
        received.append(buffer, static_cast<size_t>(n));
        // The client's requests have no body: each ends with an empty line.
        size_t end;
        while ((end = received.find("\r\n\r\n")) != std::string::npos) {
            received.erase(0, end + 4);
            ++requests_;
            if (answered < script.replies.size() && !SendAll(fd, script.replies[answered++])) return;
        }
        if (received.size() > kMaxRequestBytes) received.clear();
    }
}

bool HostileRtspPeer::SendAll(SocketFd fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (stopping_) return false;
        const int ready = WaitWritable(fd, kPollMs);
        if (ready == 0) continue;
        if (ready < 0) return false;
        const long n = SendWithoutWaiting(fd, bytes.data() + sent, bytes.size() - sent);
        if (n < 0) return false;
        sent += static_cast<size_t>(n);
        bytesSent_ += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace fakes
