#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fakes {

LoopbackListener::~LoopbackListener() { Stop(); }

bool LoopbackListener::Start(Conversation conversation) {
    conversation_ = std::move(conversation);
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) return false;
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listenFd_, 16) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t length = sizeof(address);
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void LoopbackListener::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_ || listenFd_ < 0) return;
        stopping_ = true;
        for (auto& c : connections_) shutdown(c->fd, SHUT_RDWR);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    close(listenFd_);
    std::vector<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mu_);
        connections = connections_;
    }
    for (auto& c : connections) {
        if (c->thread.joinable()) c->thread.join();
        close(c->fd);
    }
}

void LoopbackListener::AcceptLoop() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (stopping_) return;
        }
        pollfd pfd{listenFd_, POLLIN, 0};
        if (poll(&pfd, 1, 20) <= 0) continue;
        int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) {
            close(fd);
            return;
        }
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        const int number = static_cast<int>(connections_.size()) + 1;
        connections_.push_back(connection);
        connection->thread = std::thread([this, fd, number] { conversation_(fd, number); });
    }
}

int LoopbackListener::ConnectionCount() {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(connections_.size());
}

int LoopbackListener::NewestConnection() {
    std::lock_guard<std::mutex> lock(mu_);
    return connections_.empty() ? -1 : connections_.back()->fd;
}

}  // namespace fakes
