// The listening side of the loopback test servers: a TCP socket on 127.0.0.1
// at a port the system chooses, an accept thread, and a thread per accepted
// connection that runs the owner's conversation on it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"

namespace fakes {

class LoopbackListener {
public:
    // Runs once per accepted connection, on a thread of its own; number is 1
    // for the first connection, 2 for the next ...
    using Conversation = std::function<void(SocketFd fd, int number)>;

    LoopbackListener() = default;
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool Start(Conversation conversation);
    // Shuts every connection down, so that a conversation blocked on its
    // socket returns, then joins the threads and closes the sockets. A
    // conversation waiting on anything else must be woken by its owner first.
    void Stop();
    uint16_t Port() const { return port_; }
    int ConnectionCount();
    // The newest connection's socket; kNoSocket before the first.
    SocketFd NewestConnection();

private:
    struct Connection {
        SocketFd fd = kNoSocket;
        std::thread thread;
    };

    void AcceptLoop();

    Conversation conversation_;
    SocketFd listenFd_ = kNoSocket;
    uint16_t port_ = 0;
    std::thread acceptThread_;
    std::mutex mu_;
    bool stopping_ = false;
    std::vector<std::shared_ptr<Connection>> connections_;
};

}  // namespace fakes
