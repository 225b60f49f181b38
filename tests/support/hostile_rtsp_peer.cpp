#include "support/hostile_rtsp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace fakes {

namespace {

constexpr int kPollMs = 20;
// A request that never ends is dropped rather than kept.
constexpr size_t kMaxRequestBytes = 64 * 1024;

}  // namespace

HostileRtspPeer::~HostileRtspPeer() { Stop(); }

bool HostileRtspPeer::Start() {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) return false;
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listenFd_, 4) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void HostileRtspPeer::Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
}

void HostileRtspPeer::SetScript(const HostileScript& script) {
    std::lock_guard<std::mutex> guard(scriptLock_);
    script_ = script;
}

void HostileRtspPeer::Serve() {
    while (!stopping_) {
        pollfd pfd{listenFd_, POLLIN, 0};
        if (poll(&pfd, 1, kPollMs) <= 0) continue;
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        HostileScript script;
        {
            std::lock_guard<std::mutex> guard(scriptLock_);
            script = script_;
        }
        Converse(fd, script);
        close(fd);
        ++finished_;
    }
}

void HostileRtspPeer::Converse(int fd, const HostileScript& script) {
    std::string received;
    size_t answered = 0;
    char buffer[4096];
    while (!stopping_) {
        if (answered == script.replies.size()) {
            if (!script.endless.empty()) {
                if (!SendAll(fd, script.endless)) return;
                continue;
            }
            if (script.closeAfterReplies) return;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, kPollMs) <= 0) continue;
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
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

bool HostileRtspPeer::SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (stopping_) return false;
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        if (ready == 0) continue;
        if (ready < 0 || (pfd.revents & (POLLERR | POLLHUP))) return false;
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        sent += static_cast<size_t>(n);
        bytesSent_ += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace fakes
