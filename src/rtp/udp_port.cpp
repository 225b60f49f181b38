#include "rtp/udp_port.h"

#include <algorithm>

#include "platform/thread_cancel.h"

namespace telvaro {

namespace {

constexpr size_t kMinAddressLength = 7;   // "0.0.0.0"
constexpr size_t kMaxAddressLength = 15;  // "255.255.255.255"
constexpr uint32_t kBufferGrowth = 1024;
// A buffer this much larger than wanted is given back.
constexpr uint32_t kBufferSlack = 2048;
constexpr uint32_t kNoSocketPauseMs = 100;
constexpr size_t kScratchSize = 1024;
// Bounds the discarding of queued datagrams in Close even if a sender keeps
// the queue filled.
constexpr int kMaxDiscarded = 1024;
// Where an RTP datagram carries its marker bit.
constexpr uint32_t kMarkerByte = 1;
constexpr uint8_t kMarkerBit = 0x80;

// What the user throws is dropped so that reception goes on.
template <typename Call>
void CallUser(IRTPPortUser* user, Call call) {
    if (!user) return;
    try {
        call(*user);
    } catch (...) {
        platform::SwallowUnlessCancelled();
    }
}

}  // namespace

CUDPPort::CUDPPort() = default;

CUDPPort::~CUDPPort() { Close(); }

bool CUDPPort::Open(const std::string& address, uint16_t port) {
    std::lock_guard<std::recursive_mutex> lock(portLock_);
    OpenResult result = OpenLocked(address, port);
    lastOpenResult_.store(result);
    return result == OpenResult::Opened;
}

CUDPPort::OpenResult CUDPPort::OpenLocked(const std::string& address, uint16_t port) {
    // A thread left behind by a Close on itself still has to end first.
    if (socket_.load() != platform::kInvalidSocket || thread_.IsRunning()) return OpenResult::AlreadyOpen;

    platform::Ipv4Endpoint local;
    local.port = port;
    if (!address.empty()) {
        if (address.size() < kMinAddressLength || address.size() > kMaxAddressLength ||
            !platform::ParseIpv4Address(address, local.address)) {
            return OpenResult::BadAddress;
        }
    }

    platform::SocketHandle s = platform::OpenUdpSocket();
    if (s == platform::kInvalidSocket) return OpenResult::SocketFailed;

    // A large socket buffer rides out the burst of a key frame while the
    // receive thread is late; the system trims the request to its limit.
    if (!platform::SetReceiveBufferSize(s, kSocketBufferSize) &&
        !platform::SetReceiveBufferSize(s, kFallbackSocketBufferSize)) {
        platform::CloseSocket(s);
        return OpenResult::OptionFailed;
    }
    if (!platform::BindSocket(s, local)) {
        platform::CloseSocket(s);
        return OpenResult::BindFailed;
    }
    uint16_t bound = port;
    if (port == 0) {
        platform::Ipv4Endpoint chosen;
        if (!platform::LocalEndpoint(s, chosen)) {
            platform::CloseSocket(s);
            return OpenResult::BindFailed;
        }
        bound = chosen.port;
    }

    socket_.store(s);
    boundPort_.store(bound);
    running_.store(true);
    if (!thread_.Start([this] { ReceiveLoop(); }, "UDP receive", /*aboveNormal=*/true)) {
        running_.store(false);
        socket_.store(platform::kInvalidSocket);
        boundPort_.store(0);
        platform::CloseSocket(s);
        return OpenResult::ThreadFailed;
    }
    return OpenResult::Opened;
}

void CUDPPort::Close() {
    std::lock_guard<std::recursive_mutex> lock(portLock_);
    platform::SocketHandle s = socket_.load();
    if (s == platform::kInvalidSocket) return;

    running_.store(false);
    // Shutting down wakes the receive thread at once; non-blocking reads make
    // sure the discarding below cannot wait either.
    platform::ShutdownSocket(s);
    platform::SetNonBlocking(s, true);
    uint8_t scratch[kScratchSize];
    for (int i = 0; i < kMaxDiscarded; ++i) {
        platform::SocketError err = platform::SocketError::None;
        int n = platform::ReceiveDatagram(s, scratch, sizeof(scratch), nullptr, &err);
        if (n == 0 || (n < 0 && err != platform::SocketError::MessageSize)) break;
    }

    // The thread is joined before the socket goes, so that it can never wait
    // on a descriptor the process has already handed to someone else. No
    // forced stop of the closing thread may act during this wait: the port
    // would be left open to be freed under its receive thread. Closed on
    // itself, the thread is kept for Open to see it end.
    thread_.Join(platform::kInfinite, 0, /*cancellable=*/false);
    platform::CloseSocket(s);
    socket_.store(platform::kInvalidSocket);

    CallUser(user_.load(), [this](IRTPPortUser& user) { user.OnClosed(this); });
    boundPort_.store(0);
}

void CUDPPort::SetUser(IRTPPortUser* user) {
    std::lock_guard<std::recursive_mutex> lock(portLock_);
    user_.store(user);
}

void CUDPPort::SetSelectTimeout(uint32_t seconds, uint32_t microseconds) {
    selectTimeoutSeconds_.store(seconds);
    selectTimeoutMicroseconds_.store(microseconds);
}

void CUDPPort::ReceiveLoop() {
    uint32_t slotSize = bufferSize_.load();
    std::vector<uint8_t> slots(static_cast<size_t>(slotSize) * kBatchSize);
    const bool gather = platform::ShortSleepsHonoured();
    while (running_.load()) {
        platform::SocketHandle s = socket_.load();
        if (s == platform::kInvalidSocket) {
            platform::SleepMs(kNoSocketPauseMs);
            continue;
        }

        uint64_t waitMs = static_cast<uint64_t>(selectTimeoutSeconds_.load()) * 1000u +
                          selectTimeoutMicroseconds_.load() / 1000u;
        waitMs = std::min<uint64_t>(waitMs, platform::kInfinite - 1);
        platform::SocketError err = platform::SocketError::None;
        int ready = platform::WaitReadable(s, static_cast<uint32_t>(waitMs), &err);
        if (!running_.load()) break;
        if (ready == 0) {
            CallUser(user_.load(), [this](IRTPPortUser& user) { user.OnTimeout(this); });
            continue;
        }
        if (ready < 0) {
            if (err == platform::SocketError::Fatal) {
                CallUser(user_.load(), [this](IRTPPortUser& user) { user.OnClosed(this); });
                break;
            }
            // Winsock's select can answer WSAEINVAL while a read still
            // works, so that one goes on to read; anything else is retried.
            if (err != platform::SocketError::InvalidArgument) {
                platform::YieldThread();
                continue;
            }
        }
        bool frameEnded = false;
        int taken = Drain(s, slots, slotSize, /*wait=*/true, frameEnded);
        // A datagram with the RTP marker bit ends a frame: the next one
        // comes a frame interval later, so the thread waits for it instead
        // of napping. Stop cuts a nap short no later than its end: the
        // shut-down socket reads at once.
        while (gather && taken > 0 && !frameEnded && running_.load()) {
            platform::SleepMs(kGatherMs);
            if (!running_.load()) break;
            taken = Drain(s, slots, slotSize, /*wait=*/false, frameEnded);
        }
    }
    running_.store(false);
}

int CUDPPort::Drain(platform::SocketHandle s, std::vector<uint8_t>& slots, uint32_t& slotSize, bool wait,
                    bool& frameEnded) {
    platform::ReceivedDatagram datagrams[kBatchSize];
    // The first call may wait for the datagram the wait saw (a shut-down
    // socket answers it at once); the later ones take only what is already
    // there, so that the thread sleeps again only on an empty socket.
    bool first = wait;
    int taken = 0;
    for (;;) {
        const uint32_t wanted = bufferSize_.load();
        if (wanted > slotSize || slotSize - wanted > kBufferSlack) {
            slotSize = wanted;
            slots.assign(static_cast<size_t>(slotSize) * kBatchSize, 0);
            slots.shrink_to_fit();
        }
        platform::SocketError err = platform::SocketError::None;
        const int n = platform::ReceiveDatagrams(s, slots.data(), slotSize, datagrams, kBatchSize, first, &err);
        first = false;
        if (n > 0) taken += n;
        for (int i = 0; i < n; ++i) {
            if (!running_.load()) return taken;
            const platform::ReceivedDatagram& d = datagrams[i];
            if (d.truncated) {
                // The datagram is lost; the next one of that size fits.
                bufferSize_.store(slotSize + kBufferGrowth);
            } else if (d.length > 0) {
                const uint8_t* data = slots.data() + static_cast<size_t>(i) * slotSize;
                frameEnded = d.length > kMarkerByte && (data[kMarkerByte] & kMarkerBit) != 0;
                CallUser(user_.load(), [&](IRTPPortUser& user) { user.OnPacket(this, d.from, data, d.length); });
            } else if (d.from.address == 0 && d.from.port == 0) {
                // A shut-down socket reads as 0 without a sender. An empty
                // datagram from a sender carries nothing and must not end
                // reception for everyone else.
                running_.store(false);
                return taken;
            }
        }
        // Receive errors other than a lost datagram are passed over.
        if (n < kBatchSize || !running_.load()) return taken;
    }
}

}  // namespace telvaro
