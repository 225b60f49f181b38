// The sending side of an RTSP connection, shared by the connection (replies)
// and its sessions (interleaved RTP and RTCP, RFC 2326 section 10.12). The
// socket is closed when the last user lets go of it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace camsim {

class SocketWriter {
public:
    explicit SocketWriter(int fd);
    ~SocketWriter();
    SocketWriter(const SocketWriter&) = delete;
    SocketWriter& operator=(const SocketWriter&) = delete;

    int Fd() const { return fd_; }
    // Everything or nothing: a peer that stops reading for two seconds, or an
    // error, shuts the connection down.
    bool Send(const void* data, size_t size);
    bool SendInterleaved(uint8_t channel, const std::vector<uint8_t>& packet);
    // Several packets on one channel in one write.
    bool SendInterleaved(uint8_t channel, const std::vector<const std::vector<uint8_t>*>& packets);
    // Unblocks the reader and every later send.
    void Shutdown();
    bool IsShutDown() const { return shutDown_; }

private:
    bool SendLocked(const uint8_t* data, size_t size);

    int fd_;
    std::mutex mutex_;
    std::atomic<bool> shutDown_{false};
};

}  // namespace camsim
