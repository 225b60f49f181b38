// Keeps the RTCP side of an RTP-over-UDP session alive: answers every RTCP
// packet from the camera with a receiver report and a source description
// (RFC 3550 sections 6.4.2 and 6.5) and says BYE when it stops. It keeps no
// reception statistics.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/failure_reason.h"
#include "platform/socket.h"
#include "thread/recursive_lock.h"
#include "thread/thread_owner.h"

namespace telvaro {

class CRTCPHandler {
public:
    static constexpr uint32_t kJoinTimeoutMs = 10000;
    static constexpr uint32_t kSocketTimeoutMs = 500;
    static constexpr uint32_t kSocketBufferSize = 65536;
    static constexpr size_t kReceiveBufferSize = 4096;
    static constexpr size_t kReceiverReportLength = 32;
    static constexpr size_t kMaxHostNameLength = 255;  // an SDES item holds at most 255 bytes
    // Header, SSRC, CNAME item of the longest name, end of list, padding.
    static constexpr size_t kMaxSourceDescriptionLength = 8 + ((2 + kMaxHostNameLength + 1 + 3) / 4) * 4;
    static constexpr size_t kByeLength = 8;

    CRTCPHandler();
    // Stops and joins a thread the owner left running.
    virtual ~CRTCPHandler();
    CRTCPHandler(const CRTCPHandler&) = delete;
    CRTCPHandler& operator=(const CRTCPHandler&) = delete;

    // Binds a UDP socket to the port on any local address (0: a port the
    // system chooses) and makes a new SSRC; false if the socket cannot be
    // made, bound or configured, or one is open already.
    bool Open(uint16_t port);
    // Called on the handler's thread with each source a BYE from the peer
    // names (as its bytes were received). Set it before Start.
    void SetByeListener(std::function<void(uint32_t ssrc)> listener) { onBye_ = std::move(listener); }
    // Open, then the thread that answers the camera.
    bool Start(uint16_t port);
    // Asks the thread to send its BYE and end; it wakes at once.
    void RequestStop();
    bool IsRunning();
    // Waits up to timeoutMs for the thread and stops it by force after that;
    // false if it had to be forced. A thread that not even force could end
    // leaves Abandoned() true; a later Join only looks whether it has ended
    // since, and clears Abandoned() when it has.
    bool Join(uint32_t timeoutMs = kJoinTimeoutMs);
    // A thread given up on by Join may still run: the handler must not be
    // deleted while this is true.
    bool Abandoned() const { return thread_.Abandoned(); }

    uint32_t GetSSRC();
    std::string GetHostName();
    // The bound port; 0 when no socket is open.
    uint16_t GetLocalPort();
    // The last receive error the thread saw.
    platform::SocketError GetLastError() const { return lastError_.load(); }
    // Why the thread ended before it was asked to: a receive error other
    // than the time-out, or a datagram too short for RTCP. Empty while it
    // runs, after a requested stop, and from each Open on.
    FailureReason LastFailure();

    // Writes the source description with a CNAME item (RFC 3550 section
    // 6.5) into out, which holds at least kMaxSourceDescriptionLength bytes;
    // names beyond 255 bytes are cut. Returns the bytes written.
    static size_t BuildSourceDescription(uint32_t ssrc, const std::string& cname, uint8_t* out);

protected:
    // Guards the running flag; the thread takes it before anything else, so
    // a derived class can hold the thread at its very start.
    CRecursiveLock stateLock_;

private:
    void Run();
    bool IsStopRequested();
    void SetStopFlag();
    void SetRunning(bool running);
    void CloseSocketLocked();
    void EndOnFailure(const FailureReason& reason);

    CRecursiveLock stopLock_;
    bool stop_ = false;
    bool running_ = false;
    CRecursiveLock setupLock_;
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    uint32_t ssrc_ = 0;
    std::string hostName_;
    FailureReason failure_;  // guarded by the stop lock, set with the stop flag
    // Receiver report and source description as sent; the thread fills in
    // the reported source and its time stamp per packet.
    std::array<uint8_t, kReceiverReportLength + kMaxSourceDescriptionLength> reply_{};
    size_t replyLength_ = 0;
    std::function<void(uint32_t)> onBye_;
    thread::CThreadOwner thread_;
    std::atomic<platform::SocketError> lastError_{platform::SocketError::None};
};

}  // namespace telvaro
