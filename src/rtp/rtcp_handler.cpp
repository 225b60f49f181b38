#include "rtp/rtcp_handler.h"

#include <chrono>
#include <cstring>
#include <random>

#include "platform/thread_cancel.h"
#include "rtp/rtcp_bye.h"
#include "util/text.h"

namespace telvaro {

namespace {

constexpr uint8_t kVersionOneItem = 0x81;  // version 2, no padding, count 1
constexpr uint8_t kTypeReceiverReport = 201;
constexpr uint8_t kTypeSourceDescription = 202;
constexpr uint8_t kTypeBye = 203;
constexpr uint8_t kItemCName = 1;
// Datagrams this short end the session (a BYE is 8 bytes).
constexpr int kMinAnsweredLength = 11;
// End of the middle 32 bits of a sender report's NTP time stamp.
constexpr int kTimeStampEnd = 14;
constexpr char kDefaultHostName[] = "default";

FailureReason ReceiveFailure(unsigned port, platform::SocketError err) {
    std::string why = "the socket failed";
    FailureKind kind = kFailureNoAnswer;
    if (err == platform::SocketError::ConnectionReset || err == platform::SocketError::ConnectionRefused) {
        // An ICMP "port unreachable" for a report sent to the camera.
        why = "the camera's RTCP port is unreachable";
        kind = kFailureRefused;
    } else if (err == platform::SocketError::MessageSize) {
        why = FormatText("a datagram larger than %u bytes", static_cast<unsigned>(CRTCPHandler::kReceiveBufferSize));
        kind = kFailureTooLarge;
    }
    return {kind, FormatText("RTCP on UDP port %u ended: %s", port, why.c_str())};
}

void WriteBigEndian16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void WriteBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// The SSRC must differ between sessions started at the same moment
// (RFC 3550 section 8.1), so it comes from the system's random source.
uint32_t MakeSSRC() {
    try {
        std::random_device device;
        return device();
    } catch (...) {
        platform::SwallowUnlessCancelled();
    }
    static std::atomic<uint32_t> counter{0};
    std::seed_seq seed{static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()),
                       counter.fetch_add(1)};
    std::mt19937 generator(seed);
    return generator();
}

}  // namespace

CRTCPHandler::CRTCPHandler() = default;

CRTCPHandler::~CRTCPHandler() {
    if (thread_.HasThread()) {
        RequestStop();
        Join();
    }
    CLockScope lock(setupLock_);
    CloseSocketLocked();
}

size_t CRTCPHandler::BuildSourceDescription(uint32_t ssrc, const std::string& cname, uint8_t* out) {
    const size_t nameLength = cname.size() < kMaxHostNameLength ? cname.size() : kMaxHostNameLength;
    // Item type, length byte and the name, then at least one zero byte ends
    // the item list; zero bytes pad the chunk to a 32-bit boundary.
    const size_t items = ((2 + nameLength + 1 + 3) / 4) * 4;
    const size_t total = 8 + items;
    std::memset(out, 0, total);
    out[0] = kVersionOneItem;
    out[1] = kTypeSourceDescription;
    WriteBigEndian16(out + 2, static_cast<uint16_t>(total / 4 - 1));
    WriteBigEndian32(out + 4, ssrc);
    out[8] = kItemCName;
    out[9] = static_cast<uint8_t>(nameLength);
    std::memcpy(out + 10, cname.data(), nameLength);
    return total;
}

bool CRTCPHandler::Open(uint16_t port) {
    {
        CLockScope lock(setupLock_);
        if (socket_ != platform::kInvalidSocket) return false;
    }
    platform::SocketHandle s = platform::OpenUdpSocket();
    if (s == platform::kInvalidSocket) return false;
    platform::Ipv4Endpoint local;
    local.port = port;
    // A port held by someone else would leave the camera's reports unheard
    // while the session looked fine, so a failed bind fails the open.
    if (!platform::BindSocket(s, local) || !platform::SetReceiveBufferSize(s, kSocketBufferSize) ||
        !platform::SetSendBufferSize(s, kSocketBufferSize) || !platform::SetReceiveTimeout(s, kSocketTimeoutMs) ||
        !platform::SetSendTimeout(s, kSocketTimeoutMs)) {
        platform::CloseSocket(s);
        return false;
    }

    CLockScope lock(setupLock_);
    socket_ = s;
    {
        CLockScope stopLock(stopLock_);
        stop_ = false;
        failure_ = FailureReason();
    }
    ssrc_ = MakeSSRC();
    hostName_ = kDefaultHostName;
    std::string name;
    if (platform::ReadHostName(name)) hostName_ = name.substr(0, kMaxHostNameLength);

    uint8_t* report = reply_.data();
    std::memset(report, 0, kReceiverReportLength);
    report[0] = kVersionOneItem;
    report[1] = kTypeReceiverReport;
    WriteBigEndian16(report + 2, static_cast<uint16_t>(kReceiverReportLength / 4 - 1));
    WriteBigEndian32(report + 4, ssrc_);
    WriteBigEndian32(report + 28, 1);  // delay since last SR
    replyLength_ = kReceiverReportLength + BuildSourceDescription(ssrc_, hostName_, report + kReceiverReportLength);
    return true;
}

bool CRTCPHandler::Start(uint16_t port) {
    if (thread_.HasThread()) return false;
    if (!Open(port)) return false;
    if (thread_.Start([this] { Run(); }, "RTCP")) return true;
    CLockScope lock(setupLock_);
    CloseSocketLocked();
    return false;
}

void CRTCPHandler::RequestStop() {
    SetStopFlag();
    // Wakes the thread's receive at once; sending still works for the BYE.
    CLockScope lock(setupLock_);
    if (socket_ != platform::kInvalidSocket) platform::ShutdownReceive(socket_);
}

bool CRTCPHandler::IsRunning() {
    CLockScope lock(stateLock_);
    return running_;
}

bool CRTCPHandler::Join(uint32_t timeoutMs) {
    // Whatever the running flag says: a thread that has not set it yet, or
    // has just cleared it, is alive all the same. An abandoned one may still
    // use the socket and this object: both stay.
    const thread::CThreadOwner::StopResult result = thread_.Join(timeoutMs);
    if (result != thread::CThreadOwner::StopResult::Forced) return result == thread::CThreadOwner::StopResult::Ended;
    // The thread unwound without its own clean-up.
    CLockScope lock(setupLock_);
    CloseSocketLocked();
    SetRunning(false);
    return false;
}

uint32_t CRTCPHandler::GetSSRC() {
    CLockScope lock(setupLock_);
    return ssrc_;
}

std::string CRTCPHandler::GetHostName() {
    CLockScope lock(setupLock_);
    return hostName_;
}

uint16_t CRTCPHandler::GetLocalPort() {
    CLockScope lock(setupLock_);
    platform::Ipv4Endpoint local;
    if (socket_ == platform::kInvalidSocket || !platform::LocalEndpoint(socket_, local)) return 0;
    return local.port;
}

void CRTCPHandler::Run() {
    SetRunning(true);
    platform::SocketHandle s;
    {
        CLockScope lock(setupLock_);
        s = socket_;
    }
    platform::Ipv4Endpoint local;
    const unsigned port = platform::LocalEndpoint(s, local) ? local.port : 0;
    uint8_t buffer[kReceiveBufferSize];
    platform::Ipv4Endpoint peer;
    bool havePeer = false;
    while (!IsStopRequested()) {
        platform::Ipv4Endpoint from;
        platform::SocketError err = platform::SocketError::None;
        int n = platform::ReceiveDatagram(s, buffer, sizeof(buffer), &from, &err);
        if (n < 0) {
            lastError_.store(err);
            if (err != platform::SocketError::TimedOut) EndOnFailure(ReceiveFailure(port, err));
            continue;
        }
        bool bye = false;
        if (n > 0) {
            peer = from;
            havePeer = true;
            for (uint32_t ssrc : RtcpByeSources(buffer, static_cast<size_t>(n))) {
                bye = true;
                if (onBye_) onBye_(ssrc);
            }
        }
        if (n < kMinAnsweredLength) {
            // The camera's own BYE is an end, not a failure: its listener
            // hears of it.
            if (bye) {
                SetStopFlag();
            } else {
                EndOnFailure({kFailureMalformed, FormatText("RTCP on UDP port %u ended: a datagram of %d bytes, "
                                                            "too short for an RTCP report", port, n)});
            }
            continue;
        }
        // Whatever the packet type: report on the SSRC in its bytes 4-7, with
        // the middle of its NTP time stamp as last SR time stamp. A packet
        // too short to carry one gives zeros, not bytes of an earlier one.
        if (n < kTimeStampEnd) std::memset(buffer + n, 0, kTimeStampEnd - n);
        std::memcpy(reply_.data() + 8, buffer + 4, 4);
        std::memcpy(reply_.data() + 24, buffer + 10, 4);
        platform::SendBytesTo(s, reply_.data(), replyLength_, from);
    }

    {
        CLockScope lock(setupLock_);
        if (socket_ != platform::kInvalidSocket) {
            // Without any packet from the camera there is nobody to tell.
            if (havePeer) {
                uint8_t bye[kByeLength];
                bye[0] = kVersionOneItem;
                bye[1] = kTypeBye;
                WriteBigEndian16(bye + 2, static_cast<uint16_t>(kByeLength / 4 - 1));
                WriteBigEndian32(bye + 4, ssrc_);
                platform::SendBytesTo(socket_, bye, sizeof(bye), peer);
            }
            CloseSocketLocked();
        }
    }
    SetRunning(false);
}

void CRTCPHandler::EndOnFailure(const FailureReason& reason) {
    CLockScope lock(stopLock_);
    // A stop already asked for is no failure: its receive was woken on purpose.
    if (!stop_) failure_ = reason;
    stop_ = true;
}

FailureReason CRTCPHandler::LastFailure() {
    CLockScope lock(stopLock_);
    return failure_;
}

bool CRTCPHandler::IsStopRequested() {
    CLockScope lock(stopLock_);
    return stop_;
}

void CRTCPHandler::SetStopFlag() {
    CLockScope lock(stopLock_);
    stop_ = true;
}

void CRTCPHandler::SetRunning(bool running) {
    CLockScope lock(stateLock_);
    running_ = running;
}

void CRTCPHandler::CloseSocketLocked() {
    if (socket_ == platform::kInvalidSocket) return;
    platform::CloseSocket(socket_);
    socket_ = platform::kInvalidSocket;
}

}  // namespace telvaro
