#include "platform/socket.h"

#include "platform/socket_address.h"

#include <mswsock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/thread_cancel.h"
#include "platform/thread_cancel_win32.h"

namespace telvaro {
namespace platform {

namespace {

std::atomic<int> g_socketUsers{0};

// A socket wait sleeps on the socket's event and the thread's stop request
// together, in slices of this length: a slice ends a wait whose wake-up was
// taken by another thread waiting on the same socket.
constexpr uint32_t kWaitSliceMs = 50;
constexpr uint64_t kNoBound = ~0ull;

SocketError MapError(int e) {
    switch (e) {
        case WSAEWOULDBLOCK:
        case WSAETIMEDOUT:
            return SocketError::TimedOut;
        case WSAEINPROGRESS:
        case WSAEALREADY:
            return SocketError::WouldBlock;
        case WSAEMSGSIZE:
            return SocketError::MessageSize;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENETRESET:
        case WSAESHUTDOWN:
            return SocketError::ConnectionReset;
        case WSAECONNREFUSED:
            return SocketError::ConnectionRefused;
        case WSAENOTCONN:
            return SocketError::NotConnected;
        case WSAENOTSOCK:
        case WSAENETDOWN:
        case WSAEFAULT:
        case WSANOTINITIALISED:
        case WSAEINTR:
            return SocketError::Fatal;
        case WSAEINVAL:
            return SocketError::InvalidArgument;
        default:
            return SocketError::Other;
    }
}

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

bool SetOption(SocketHandle s, int option, DWORD value) {
    return setsockopt(Native(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

// What Winsock does not tell about a socket: whether the driver asked for it
// to be non-blocking (every socket is non-blocking for Winsock, see below;
// blocking calls are waited for here), and whether it was shut down for
// receiving. A receive that is waiting does not notice a shutdown on every
// Winsock (Wine's does not wake it), so a shutdown also sets the socket's
// event and the wait looks here.
constexpr unsigned kNonBlocking = 1;
constexpr unsigned kReceiveShut = 2;

class SocketMarks {
public:
    void Set(SocketHandle s, unsigned mark, bool on) {
        std::lock_guard<std::mutex> guard(lock_);
        unsigned& marks = marks_[s];
        marks = on ? (marks | mark) : (marks & ~mark);
        if (marks == 0) marks_.erase(s);
    }
    unsigned Get(SocketHandle s) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = marks_.find(s);
        return it == marks_.end() ? 0 : it->second;
    }
    // Every socket signals an event of its own when it may have become
    // readable, writable, connected or closed (WSAEventSelect, which also
    // makes it non-blocking for good).
    bool Attach(SocketHandle s) {
        HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!wake) return false;
        if (WSAEventSelect(Native(s), wake, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) != 0) {
            CloseHandle(wake);
            return false;
        }
        std::lock_guard<std::mutex> guard(lock_);
        wakes_[s] = wake;
        return true;
    }
    HANDLE Wake(SocketHandle s) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = wakes_.find(s);
        return it == wakes_.end() ? nullptr : it->second;
    }
    void Nudge(SocketHandle s) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = wakes_.find(s);
        if (it != wakes_.end()) SetEvent(it->second);
    }
    // Before the handle goes back to Winsock, which may hand it out again.
    void Forget(SocketHandle s) {
        std::lock_guard<std::mutex> guard(lock_);
        marks_.erase(s);
        auto it = wakes_.find(s);
        if (it != wakes_.end()) {
            CloseHandle(it->second);
            wakes_.erase(it);
        }
    }

private:
    std::mutex lock_;
    std::unordered_map<SocketHandle, unsigned> marks_;
    std::unordered_map<SocketHandle, HANDLE> wakes_;
};

SocketMarks& Marks() {
    // Never destroyed: sockets may be closed by threads that outlive statics.
    static SocketMarks* marks = new SocketMarks();
    return *marks;
}

// Whether the socket is ready now: a select() that does not wait. 1 ready
// (for writing: connected), 0 not yet, -1 error or failed connect (Winsock
// shows a refused connect in the exception set only).
int ReadyNow(SocketHandle s, bool write) {
    fd_set set;
    fd_set failed;
    FD_ZERO(&set);
    FD_ZERO(&failed);
    FD_SET(Native(s), &set);
    FD_SET(Native(s), &failed);
    timeval none{0, 0};
    int r = select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &failed : nullptr, &none);
    if (r > 0 && write && FD_ISSET(Native(s), &failed)) return -1;
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Waits at most timeoutMs (kNoBound: none) for the socket to be readable
// (or shut down for receiving) or writable; a forced stop of the thread acts
// at once. 1 ready, 0 time-out, -1 error or failed connect.
//
// Never a select() with a time-out: Wine's server (8.0 seen) can fail an
// assertion, and leave every program of the session hanging, when such a
// poll is answered and its time-out runs out before the thread has taken
// the answer, which a loaded machine makes likely. The socket's event wakes
// the wait; readiness is always judged by a select() that does not wait.
int WaitFor(SocketHandle s, bool write, uint64_t timeoutMs) {
    const uint64_t start = MonotonicMilliseconds();
    HANDLE wake = Marks().Wake(s);
    CancelWindow window;
    for (;;) {
        // As on Linux, a socket shut down for receiving reads as readable.
        if (!write && (Marks().Get(s) & kReceiveShut)) return 1;
        CancellationPoint();
        int r = ReadyNow(s, write);
        if (r != 0) return r;
        const uint64_t elapsed = MonotonicMilliseconds() - start;
        if (elapsed >= timeoutMs) return 0;
        CancellableWait(wake ? &wake : nullptr, wake ? 1 : 0,
                        static_cast<DWORD>(std::min<uint64_t>(timeoutMs - elapsed, kWaitSliceMs)));
    }
}

// Before a receive on a socket the driver uses as blocking: 1 when data (or
// an error) is there to read, 0 when the socket was shut down for receiving
// (read as an orderly close), -1 when the socket's receive time-out, counted
// from start, passed (err: TimedOut) or the wait failed.
int AwaitData(SocketHandle s, uint64_t start, SocketError* err) {
    DWORD timeoutMs = 0;  // 0: none, as SO_RCVTIMEO counts it
    int size = sizeof(timeoutMs);
    getsockopt(Native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeoutMs), &size);
    uint64_t left = kNoBound;
    if (timeoutMs != 0) {
        const uint64_t elapsed = MonotonicMilliseconds() - start;
        left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    }
    const int r = left == 0 ? 0 : WaitFor(s, false, left);
    if (Marks().Get(s) & kReceiveShut) return 0;
    if (r > 0) return 1;
    if (err) *err = r == 0 ? SocketError::TimedOut : MapError(WSAGetLastError());
    return -1;
}

// Before a send is tried again on a socket the driver uses as blocking:
// whether there is room, within the socket's send time-out.
bool AwaitRoom(SocketHandle s) {
    DWORD timeoutMs = 0;
    int size = sizeof(timeoutMs);
    getsockopt(Native(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&timeoutMs), &size);
    return WaitFor(s, true, timeoutMs == 0 ? kNoBound : timeoutMs) == 1;
}

bool IsBlocking(SocketHandle s) { return !(Marks().Get(s) & kNonBlocking); }

// A new socket gets its event; without one it is of no use here.
SocketHandle Adopt(SOCKET s) {
    if (s == INVALID_SOCKET) return kInvalidSocket;
    if (!Marks().Attach(static_cast<SocketHandle>(s))) {
        closesocket(s);
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

}  // namespace

LookupScope::LookupScope() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

LookupScope::~LookupScope() {
    if (started_) WSACleanup();
}

bool SocketStartup() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    g_socketUsers.fetch_add(1);
    return true;
}

void SocketCleanup() {
    int current = g_socketUsers.load();
    while (current > 0) {
        if (g_socketUsers.compare_exchange_weak(current, current - 1)) {
            WSACleanup();
            return;
        }
    }
}

int SocketUsers() { return g_socketUsers.load(); }

SocketHandle OpenTcpSocket() {
    return Adopt(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
}

SocketHandle OpenUdpSocket() {
    SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    // An ICMP "port unreachable" for an earlier send would otherwise fail the
    // next receive with a reset, which a datagram socket on Linux never sees.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned, nullptr, nullptr);
    return Adopt(s);
}

void CloseSocket(SocketHandle s) {
    if (s == kInvalidSocket) return;
    Marks().Forget(s);
    closesocket(Native(s));
}

void ShutdownSocket(SocketHandle s) {
    if (s == kInvalidSocket) return;
    Marks().Set(s, kReceiveShut, true);
    shutdown(Native(s), SD_BOTH);
    Marks().Nudge(s);
}

void ShutdownReceive(SocketHandle s) {
    if (s == kInvalidSocket) return;
    Marks().Set(s, kReceiveShut, true);
    shutdown(Native(s), SD_RECEIVE);
    Marks().Nudge(s);
}

bool SetReceiveBufferSize(SocketHandle s, uint32_t bytes) { return SetOption(s, SO_RCVBUF, bytes); }
bool SetSendBufferSize(SocketHandle s, uint32_t bytes) { return SetOption(s, SO_SNDBUF, bytes); }
bool SetReceiveTimeout(SocketHandle s, uint32_t ms) { return SetOption(s, SO_RCVTIMEO, ms); }
bool SetSendTimeout(SocketHandle s, uint32_t ms) { return SetOption(s, SO_SNDTIMEO, ms); }

bool SetNonBlocking(SocketHandle s, bool nonBlocking) {
    // Winsock sees every socket as non-blocking; only the driver's own calls
    // wait, for sockets it uses as blocking.
    if (s == kInvalidSocket) return false;
    Marks().Set(s, kNonBlocking, nonBlocking);
    return true;
}

SocketError ConnectSocket(SocketHandle s, const Ipv4Endpoint& remote) {
    sockaddr_in sa = ToSockaddr(remote);
    if (connect(Native(s), reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0) return SocketError::None;
    int e = WSAGetLastError();
    if (e != WSAEWOULDBLOCK) return MapError(e);
    // A non-blocking connect under way; a blocking one is waited for.
    if (!IsBlocking(s)) return SocketError::WouldBlock;
    if (WaitFor(s, true, kNoBound) == 1) return SocketError::None;
    int failure = 0;
    int size = sizeof(failure);
    getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size);
    return MapError(failure != 0 ? failure : WSAECONNREFUSED);
}

int WaitConnected(SocketHandle s, uint32_t timeoutMs, SocketError* err) {
    if (err) *err = SocketError::Other;
    // Winsock shows a refused or unreachable connection in the exception
    // set only.
    int r = WaitFor(s, true, timeoutMs);
    if (r < 0) {
        int error = 0;
        int size = sizeof(error);
        if (err && getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0) {
            *err = MapError(error);
        }
        return -1;
    }
    return r > 0 ? 1 : 0;
}

int WaitReadable(SocketHandle s, uint32_t timeoutMs, SocketError* err) {
    if (err) *err = SocketError::None;
    int r = WaitFor(s, false, timeoutMs);
    if (r < 0) {
        if (err) *err = MapError(WSAGetLastError());
        return -1;
    }
    return r;
}

int SendBytes(SocketHandle s, const void* data, size_t length) {
    const char* bytes = static_cast<const char*>(data);
    const bool blocking = IsBlocking(s);
    size_t sent = 0;
    for (;;) {
        int n = send(Native(s), bytes + sent, static_cast<int>(length - sent), 0);
        if (n != SOCKET_ERROR) {
            sent += static_cast<size_t>(n);
            // A blocking send gives up only when all has gone.
            if (!blocking || sent == length) return static_cast<int>(sent);
        } else if (!blocking || WSAGetLastError() != WSAEWOULDBLOCK || !AwaitRoom(s)) {
            return sent > 0 ? static_cast<int>(sent) : -1;
        }
    }
}

int SendBytesTo(SocketHandle s, const void* data, size_t length, const Ipv4Endpoint& to) {
    sockaddr_in sa = ToSockaddr(to);
    for (;;) {
        int n = sendto(Native(s), static_cast<const char*>(data), static_cast<int>(length), 0,
                       reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        if (n != SOCKET_ERROR) return n;
        if (!IsBlocking(s) || WSAGetLastError() != WSAEWOULDBLOCK || !AwaitRoom(s)) return -1;
    }
}

int ReceiveBytes(SocketHandle s, void* buffer, size_t length, SocketError* err) {
    if (err) *err = SocketError::None;
    const bool blocking = IsBlocking(s);
    const uint64_t start = MonotonicMilliseconds();
    for (;;) {
        if (blocking) {
            int ready = AwaitData(s, start, err);
            if (ready <= 0) return ready;
        }
        int n = recv(Native(s), static_cast<char*>(buffer), static_cast<int>(length), 0);
        if (n != SOCKET_ERROR) return n;
        const int e = WSAGetLastError();
        // Readable a moment ago, taken since (another receive): wait again.
        if (blocking && e == WSAEWOULDBLOCK) continue;
        if (err) *err = MapError(e);
        return -1;
    }
}

int ReceiveDatagram(SocketHandle s, void* buffer, size_t length, Ipv4Endpoint* from, SocketError* err) {
    if (err) *err = SocketError::None;
    const bool blocking = IsBlocking(s);
    const uint64_t start = MonotonicMilliseconds();
    for (;;) {
        sockaddr_in sa;
        std::memset(&sa, 0, sizeof(sa));
        int len = sizeof(sa);
        if (blocking) {
            int ready = AwaitData(s, start, err);
            if (ready <= 0) return ready;
        }
        int e = 0;
        int n = recvfrom(Native(s), static_cast<char*>(buffer), static_cast<int>(length), 0,
                         reinterpret_cast<sockaddr*>(&sa), &len);
        if (n == SOCKET_ERROR) e = WSAGetLastError();
        if (blocking && e == WSAEWOULDBLOCK) continue;
        if (from && (n != SOCKET_ERROR || e == WSAEMSGSIZE)) {
            *from = FromSockaddr(sa);
        }
        if (n == SOCKET_ERROR) {
            // A datagram longer than the buffer is cut and lost: WSAEMSGSIZE.
            if (err) *err = MapError(e);
            return -1;
        }
        return n;
    }
}

int ReceiveDatagrams(SocketHandle s, uint8_t* buffer, size_t slotSize, ReceivedDatagram* out, int count, bool wait,
                     SocketError* err) {
    if (err) *err = SocketError::None;
    if (count <= 0) return 0;
    const bool nonBlocking = !IsBlocking(s);
    const uint64_t start = MonotonicMilliseconds();
    int taken = 0;
    while (taken < count) {
        // Only the first datagram of a waiting call is waited for; the others
        // are taken when they are there already (Winsock's socket never
        // blocks).
        if (taken == 0 && wait && !nonBlocking) {
            int ready = AwaitData(s, start, err);
            if (ready < 0) return -1;
            if (ready == 0) {
                // Shut down: one empty datagram from nowhere, as on Linux.
                out[0] = ReceivedDatagram();
                return 1;
            }
        }
        sockaddr_in sa;
        std::memset(&sa, 0, sizeof(sa));
        int len = sizeof(sa);
        uint8_t* slot = buffer + static_cast<size_t>(taken) * slotSize;
        int n = recvfrom(Native(s), reinterpret_cast<char*>(slot), static_cast<int>(slotSize), 0,
                         reinterpret_cast<sockaddr*>(&sa), &len);
        int e = n == SOCKET_ERROR ? WSAGetLastError() : 0;
        if (n == SOCKET_ERROR && e != WSAEMSGSIZE) {
            if (e == WSAEWOULDBLOCK && taken == 0 && wait && !nonBlocking) continue;
            if (e == WSAEWOULDBLOCK && (taken > 0 || !wait)) break;
            if (taken > 0) break;
            if (err) *err = MapError(e);
            return -1;
        }
        ReceivedDatagram& d = out[taken++];
        // A datagram longer than its slot is cut and lost: WSAEMSGSIZE.
        d.truncated = n == SOCKET_ERROR;
        d.length = d.truncated ? 0 : static_cast<uint32_t>(n);
        d.from = FromSockaddr(sa);
    }
    return taken;
}

}  // namespace platform
}  // namespace telvaro
