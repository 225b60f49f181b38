#include "support/loopback_listener.h"

namespace fakes {

LoopbackListener::~LoopbackListener() { Stop(); }

bool LoopbackListener::Start(Conversation conversation) {
    conversation_ = std::move(conversation);
    listenFd_ = ListenOnLoopback(16, port_);
    if (listenFd_ == kNoSocket) return false;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void LoopbackListener::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_ || listenFd_ == kNoSocket) return;
        stopping_ = true;
        for (auto& c : connections_) ShutdownBoth(c->fd);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    CloseSocketFd(listenFd_);
    std::vector<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mu_);
        connections = connections_;
    }
    for (auto& c : connections) {
        if (c->thread.joinable()) c->thread.join();
        CloseSocketFd(c->fd);
    }
}

void LoopbackListener::AcceptLoop() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (stopping_) return;
        }
        const SocketFd fd = AcceptWithin(listenFd_, 20);
        if (fd == kNoSocket) continue;
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) {
            CloseSocketFd(fd);
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

SocketFd LoopbackListener::NewestConnection() {
    std::lock_guard<std::mutex> lock(mu_);
    return connections_.empty() ? kNoSocket : connections_.back()->fd;
}

}  // namespace fakes
