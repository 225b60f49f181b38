// A bound UDP socket with its own receive thread that hands every datagram
// to the port's user.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/native_thread.h"
#include "platform/socket.h"
#include "rtp/rtp_port.h"

namespace telvaro {

class CUDPPort : public IRTPPort {
public:
    // What Open found; only success leaves Open as true.
    enum class OpenResult { Opened, AlreadyOpen, BadAddress, SocketFailed, BindFailed, OptionFailed, ThreadFailed };

    static constexpr uint32_t kInitialBufferSize = 4096;
    static constexpr uint32_t kMaxSocketBuffer = 131070;

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
    // Bytes the receive thread reads a datagram into; grows by 1 KiB after
    // each datagram that did not fit.
    uint32_t GetReceiveBufferSize() const { return bufferSize_.load(); }
    OpenResult GetLastOpenResult() const { return lastOpenResult_.load(); }

private:
    OpenResult OpenLocked(const std::string& address, uint16_t port);
    void ReceiveLoop();

    std::recursive_mutex portLock_;  // Open, Close and SetUser
    std::atomic<IRTPPortUser*> user_{nullptr};
    std::atomic<platform::SocketHandle> socket_{platform::kInvalidSocket};
    std::atomic<uint16_t> boundPort_{0};
    std::shared_ptr<platform::NativeThread> thread_;
    uint32_t threadId_ = 0;
    std::atomic<uint32_t> bufferSize_{kInitialBufferSize};
    std::atomic<uint32_t> selectTimeoutSeconds_{5};
    std::atomic<uint32_t> selectTimeoutMicroseconds_{0};
    std::atomic<bool> running_{false};
    std::atomic<OpenResult> lastOpenResult_{OpenResult::Opened};
};

}  // namespace telvaro
