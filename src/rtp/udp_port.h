// A bound UDP socket with its own receive thread that hands every datagram
// to the port's user.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "rtp/rtp_port.h"
#include "thread/thread_owner.h"

namespace telvaro {

class CUDPPort : public IRTPPort {
public:
    // What Open found; only success leaves Open as true.
    enum class OpenResult { Opened, AlreadyOpen, BadAddress, SocketFailed, BindFailed, OptionFailed, ThreadFailed };

    static constexpr uint32_t kInitialBufferSize = 4096;
    // What the socket is asked to queue: a few key frames of a stream of
    // several Mbit/s, so that a receive thread that is late for a burst
    // loses nothing. The system may grant less.
    static constexpr uint32_t kSocketBufferSize = 2 * 1024 * 1024;
    // Asked for when the system refuses the larger size outright.
    static constexpr uint32_t kFallbackSocketBufferSize = 131070;
    // Datagrams the receive thread takes from the socket in one call.
    static constexpr int kBatchSize = 16;
    // A paced sender spreads a frame's datagrams over some milliseconds.
    // After a wake the thread naps this long and takes what gathered, for
    // as long as datagrams keep coming and until a frame ends, instead of
    // waking for each one: a frame is handed over at most this much later
    // than its last datagram.
    static constexpr uint32_t kGatherMs = 2;

    CUDPPort();
    ~CUDPPort() override;
    CUDPPort(const CUDPPort&) = delete;
    CUDPPort& operator=(const CUDPPort&) = delete;

    // Port 0 binds a port the system chooses; GetBoundPort tells which.
    bool Open(const std::string& address, uint16_t port) override;
    // Stops reception and joins the receive thread (unless called on it),
    // then tells the user OnClosed. Nothing happens on a port that is not open.
    void Close() override;
    void SetUser(IRTPPortUser* user) override;

    // How long the receive thread waits for a datagram before it reports a
    // time-out; 5 s unless set before Open.
    void SetSelectTimeout(uint32_t seconds, uint32_t microseconds);

    bool IsOpen() const { return socket_.load() != platform::kInvalidSocket; }
    uint16_t GetBoundPort() const { return boundPort_.load(); }
    // Bytes the receive thread reads a datagram into (each of the batch's
    // slots); grows by 1 KiB after a datagram that did not fit.
    uint32_t GetReceiveBufferSize() const { return bufferSize_.load(); }
    OpenResult GetLastOpenResult() const { return lastOpenResult_.load(); }

private:
    OpenResult OpenLocked(const std::string& address, uint16_t port);
    void ReceiveLoop();
    // Takes what waits on the socket, batch after batch, and hands it to
    // the user; returns when the socket is empty or reception has ended,
    // with the number of datagrams taken and whether the last one handed
    // over ended a frame. With wait, the first datagram is waited for (the
    // one a wait saw).
    int Drain(platform::SocketHandle s, std::vector<uint8_t>& slots, uint32_t& slotSize, bool wait, bool& frameEnded);

    std::recursive_mutex portLock_;  // Open, Close and SetUser
    std::atomic<IRTPPortUser*> user_{nullptr};
    std::atomic<platform::SocketHandle> socket_{platform::kInvalidSocket};
    std::atomic<uint16_t> boundPort_{0};
    thread::CThreadOwner thread_;
    std::atomic<uint32_t> bufferSize_{kInitialBufferSize};
    std::atomic<uint32_t> selectTimeoutSeconds_{5};
    std::atomic<uint32_t> selectTimeoutMicroseconds_{0};
    std::atomic<bool> running_{false};
    std::atomic<OpenResult> lastOpenResult_{OpenResult::Opened};
};

}  // namespace telvaro
