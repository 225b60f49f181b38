#include "platform/socket.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/socket_address.h"
#include "platform/thread_cancel.h"

namespace telvaro {
namespace platform {

namespace {

std::atomic<int> g_socketUsers{0};

SocketError MapErrno(int e) {
    switch (e) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return SocketError::TimedOut;
        case EINPROGRESS:
            return SocketError::WouldBlock;
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
            return SocketError::ConnectionReset;
        case ECONNREFUSED:
            return SocketError::ConnectionRefused;
        case ENOTCONN:
            return SocketError::NotConnected;
        case EBADF:
        case ENOTSOCK:
        case ENETDOWN:
        case EFAULT:
            return SocketError::Fatal;
        case EINVAL:
            return SocketError::InvalidArgument;
        default:
            return SocketError::Other;
    }
}

bool SetTimeoutOption(SocketHandle s, int option, uint32_t ms) {
    timeval tv;
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return setsockopt(s, SOL_SOCKET, option, &tv, sizeof(tv)) == 0;
}

bool SetIntOption(SocketHandle s, int option, uint32_t value) {
    int v = static_cast<int>(value);
    return setsockopt(s, SOL_SOCKET, option, &v, sizeof(v)) == 0;
}

// poll() with a bound, retried on signals until the bound is spent.
int PollFor(SocketHandle s, short events, uint32_t timeoutMs, short* revents) {
    uint64_t start = MonotonicMilliseconds();
    for (;;) {
        uint64_t elapsed = MonotonicMilliseconds() - start;
        int left = elapsed >= timeoutMs ? 0 : static_cast<int>(timeoutMs - elapsed);
        pollfd pfd{s, events, 0};
        int r;
        {
            CancelWindow window;
            r = poll(&pfd, 1, left);
        }
        if (r < 0 && errno == EINTR) continue;
        if (revents) *revents = pfd.revents;
        return r;
    }
}

}  // namespace

// Names are looked up without any start-up.
LookupScope::LookupScope() = default;
LookupScope::~LookupScope() = default;

bool SocketStartup() {
    g_socketUsers.fetch_add(1);
    return true;
}

void SocketCleanup() {
    int current = g_socketUsers.load();
    while (current > 0 && !g_socketUsers.compare_exchange_weak(current, current - 1)) {
    }
}

int SocketUsers() { return g_socketUsers.load(); }

SocketHandle OpenTcpSocket() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return s < 0 ? kInvalidSocket : s;
}

SocketHandle OpenUdpSocket() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return s < 0 ? kInvalidSocket : s;
}

void CloseSocket(SocketHandle s) {
    if (s >= 0) close(s);
}

void ShutdownSocket(SocketHandle s) {
    if (s >= 0) shutdown(s, SHUT_RDWR);
}

void ShutdownReceive(SocketHandle s) {
    if (s >= 0) shutdown(s, SHUT_RD);
}

bool SetReceiveBufferSize(SocketHandle s, uint32_t bytes) { return SetIntOption(s, SO_RCVBUF, bytes); }
bool SetSendBufferSize(SocketHandle s, uint32_t bytes) { return SetIntOption(s, SO_SNDBUF, bytes); }
bool SetReceiveTimeout(SocketHandle s, uint32_t ms) { return SetTimeoutOption(s, SO_RCVTIMEO, ms); }
bool SetSendTimeout(SocketHandle s, uint32_t ms) { return SetTimeoutOption(s, SO_SNDTIMEO, ms); }

bool SetNonBlocking(SocketHandle s, bool nonBlocking) {
    int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0) return false;
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, flags) == 0;
}

SocketError ConnectSocket(SocketHandle s, const Ipv4Endpoint& remote) {
    sockaddr_in sa = ToSockaddr(remote);
    int r;
    do {
        r = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    } while (r != 0 && errno == EINTR);
    if (r == 0) return SocketError::None;
    if (errno == EINPROGRESS) return SocketError::WouldBlock;
    return MapErrno(errno);
}

int WaitConnected(SocketHandle s, uint32_t timeoutMs, SocketError* err) {
    if (err) *err = SocketError::Other;
    short revents = 0;
    int r = PollFor(s, POLLOUT, timeoutMs, &revents);
    if (r < 0) return -1;
    if (r == 0) return 0;
    int error = 0;
    socklen_t len = sizeof(error);
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return -1;
    if (error != 0) {
        if (err) *err = MapErrno(error);
        return -1;
    }
    if (!(revents & POLLOUT)) return 0;
    // Reading SO_ERROR clears it, so a refused socket polled again looks
    // writable without an error; only a peer address proves the connection.
    sockaddr_in peer;
    socklen_t peerLen = sizeof(peer);
    return getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0 ? 1 : 0;
}

int WaitReadable(SocketHandle s, uint32_t timeoutMs, SocketError* err) {
    if (err) *err = SocketError::None;
    short revents = 0;
    int r = PollFor(s, POLLIN, timeoutMs, &revents);
    if (r < 0) {
        if (err) *err = MapErrno(errno);
        return -1;
    }
    if (r > 0 && (revents & POLLNVAL)) {
        if (err) *err = SocketError::Fatal;
        return -1;
    }
    return r > 0 ? 1 : 0;
}

int SendBytes(SocketHandle s, const void* data, size_t length) {
    ssize_t n;
    do {
        n = send(s, data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int SendBytesTo(SocketHandle s, const void* data, size_t length, const Ipv4Endpoint& to) {
    sockaddr_in sa = ToSockaddr(to);
    ssize_t n;
    do {
        n = sendto(s, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int ReceiveBytes(SocketHandle s, void* buffer, size_t length, SocketError* err) {
    if (err) *err = SocketError::None;
    ssize_t n;
    {
        CancelWindow window;
        do {
            n = recv(s, buffer, length, 0);
        } while (n < 0 && errno == EINTR);
    }
    if (n < 0) {
        if (err) *err = MapErrno(errno);
        return -1;
    }
    return static_cast<int>(n);
}

int ReceiveDatagram(SocketHandle s, void* buffer, size_t length, Ipv4Endpoint* from, SocketError* err) {
    if (err) *err = SocketError::None;
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof(sa));
    socklen_t len = sizeof(sa);
    ssize_t n;
    {
        CancelWindow window;
        do {
            // MSG_TRUNC makes the kernel report the datagram's real size.
            n = recvfrom(s, buffer, length, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
        } while (n < 0 && errno == EINTR);
    }
    if (n < 0) {
        if (err) *err = MapErrno(errno);
        return -1;
    }
    if (from) {
        *from = FromSockaddr(sa);
    }
    if (static_cast<size_t>(n) > length) {
        if (err) *err = SocketError::MessageSize;
        return -1;
    }
    return static_cast<int>(n);
}

int ReceiveDatagrams(SocketHandle s, uint8_t* buffer, size_t slotSize, ReceivedDatagram* out, int count, bool wait,
                     SocketError* err) {
    if (err) *err = SocketError::None;
    constexpr int kMaxBatch = 64;
    count = std::min(count, kMaxBatch);
    if (count <= 0) return 0;
    mmsghdr messages[kMaxBatch];
    iovec parts[kMaxBatch];
    sockaddr_in senders[kMaxBatch];
    std::memset(messages, 0, sizeof(mmsghdr) * static_cast<size_t>(count));
    std::memset(senders, 0, sizeof(sockaddr_in) * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        parts[i].iov_base = buffer + static_cast<size_t>(i) * slotSize;
        parts[i].iov_len = slotSize;
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    // MSG_TRUNC makes the kernel report each datagram's real size. Only the
    // wait for the first datagram opens the window for a forced stop: the
    // datagrams behind it are taken without one.
    const int flags = MSG_TRUNC | (wait ? MSG_WAITFORONE : MSG_DONTWAIT);
    int n;
    if (wait) {
        CancelWindow window;
        do {
            n = recvmmsg(s, messages, static_cast<unsigned>(count), flags, nullptr);
        } while (n < 0 && errno == EINTR);
    } else {
        do {
            n = recvmmsg(s, messages, static_cast<unsigned>(count), flags, nullptr);
        } while (n < 0 && errno == EINTR);
    }
    if (n < 0) {
        if (!wait && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        if (err) *err = MapErrno(errno);
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        const msghdr& header = messages[i].msg_hdr;
        out[i].truncated = messages[i].msg_len > slotSize || (header.msg_flags & MSG_TRUNC) != 0;
        out[i].length = out[i].truncated ? 0 : messages[i].msg_len;
        out[i].from = Ipv4Endpoint();
        if (header.msg_namelen >= sizeof(sockaddr_in)) {
            out[i].from = FromSockaddr(senders[i]);
        }
    }
    return n;
}

}  // namespace platform
}  // namespace telvaro
