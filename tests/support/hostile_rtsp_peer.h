// A loopback RTSP peer that answers from a script instead of a protocol: the
// n-th request of a connection gets the n-th scripted reply, whatever it
// says, and after the last one the peer closes, holds the connection, or
// sends one text over and over until the client goes. It serves one
// connection at a time on one thread of its own, which waits only in short
// polls: Stop (and the destructor) end it within about 50 ms.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"

namespace fakes {

struct HostileScript {
    std::vector<std::string> replies;  // one per request, in order
    std::string endless;               // sent again and again after the replies, if not empty
    bool closeAfterReplies = true;     // otherwise held open until the client closes
};

class HostileRtspPeer {
public:
    HostileRtspPeer() = default;
    ~HostileRtspPeer();
    HostileRtspPeer(const HostileRtspPeer&) = delete;
    HostileRtspPeer& operator=(const HostileRtspPeer&) = delete;

    // Listens on 127.0.0.1 at a port the system chooses.
    bool Start();
    void Stop();
    uint16_t Port() const { return port_; }

    // The script of every connection accepted from now on.
    void SetScript(const HostileScript& script);
    // Connections whose conversation has ended.
    uint64_t FinishedConnections() const { return finished_.load(); }
    uint64_t BytesSent() const { return bytesSent_.load(); }
    uint64_t Requests() const { return requests_.load(); }

private:
    void Serve();
    void Converse(SocketFd fd, const HostileScript& script);
    // False when the client is gone or the peer is stopping.
    bool SendAll(SocketFd fd, const std::string& bytes);

    SocketFd listenFd_ = kNoSocket;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex scriptLock_;
    HostileScript script_;
    std::atomic<uint64_t> finished_{0};
    std::atomic<uint64_t> bytesSent_{0};
    std::atomic<uint64_t> requests_{0};
};

}  // namespace fakes
