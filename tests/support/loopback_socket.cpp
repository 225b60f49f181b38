#include "support/loopback_socket.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace fakes {

namespace {

#if defined(_WIN32)
using AddressLength = int;
SOCKET Native(SocketFd fd) { return static_cast<SOCKET>(fd); }
constexpr int kShutBoth = SD_BOTH;
constexpr int kShutSend = SD_SEND;
#else
using AddressLength = socklen_t;
int Native(SocketFd fd) { return fd; }
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kShutSend = SHUT_WR;
#endif

constexpr int kSliceMs = 20;

// Sockets shut down and not yet closed: a waiting receive looks here between
// its slices. Never destroyed: a peer's thread may outlive the statics.
struct ShutSockets {
    std::mutex lock;
    std::set<SocketFd> sockets;
};

ShutSockets& Shut() {
    static ShutSockets* shut = new ShutSockets();
    return *shut;
}

bool IsShut(SocketFd fd) {
    std::lock_guard<std::mutex> lock(Shut().lock);
    return Shut().sockets.count(fd) != 0;
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

SocketFd BoundAnywhere(uint16_t& port) {
    const SocketFd fd = static_cast<SocketFd>(socket(AF_INET, SOCK_STREAM, 0));
    if (fd == kNoSocket) return kNoSocket;
    sockaddr_in address = Loopback(0);
    AddressLength length = sizeof(address);
    if (bind(Native(fd), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(Native(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocketFd(fd);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Ports this process's test servers were given. The driver remembers things
// per camera address and port (challenges, schemes), so a server that got the
// port of an earlier one in the same process would meet what the earlier
// test left behind: a server never gets a port twice. Never destroyed, as
// Shut().
struct GivenPorts {
    std::mutex lock;
    std::set<uint16_t> ports;
};

GivenPorts& Given() {
    static GivenPorts* given = new GivenPorts();
    return *given;
}

SocketFd Bound(uint16_t& port) {
    std::lock_guard<std::mutex> lock(Given().lock);
    std::vector<SocketFd> held;  // ports given before, kept bound until a new one comes
    SocketFd fd = kNoSocket;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        fd = BoundAnywhere(port);
        if (fd == kNoSocket || Given().ports.insert(port).second) break;
        held.push_back(fd);
        fd = kNoSocket;
    }
    for (SocketFd h : held) CloseSocketFd(h);
    return fd;
}

#if defined(_WIN32)
// Each socket's event, set when it may have become ready (WSAEventSelect,
// which leaves the socket non-blocking). Never destroyed, as Shut().
struct Wakes {
    std::mutex lock;
    std::map<SocketFd, HANDLE> events;
};

Wakes& WakeEvents() {
    static Wakes* wakes = new Wakes();
    return *wakes;
}

HANDLE WakeOf(SocketFd fd) {
    std::lock_guard<std::mutex> lock(WakeEvents().lock);
    HANDLE& wake = WakeEvents().events[fd];
    if (!wake) {
        wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (wake && WSAEventSelect(Native(fd), wake, FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT | FD_ACCEPT) != 0) {
            CloseHandle(wake);
            wake = nullptr;
        }
    }
    return wake;
}

void ForgetWake(SocketFd fd) {
    std::lock_guard<std::mutex> lock(WakeEvents().lock);
    auto it = WakeEvents().events.find(fd);
    if (it == WakeEvents().events.end()) return;
    if (it->second) CloseHandle(it->second);
    WakeEvents().events.erase(it);
}

int ReadyNow(SocketFd fd, bool write) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(Native(fd), &ready);
    FD_SET(Native(fd), &failed);
    timeval none{0, 0};
    const int r = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &none);
    if (r <= 0) return r < 0 ? -1 : 0;
    return write && FD_ISSET(Native(fd), &failed) ? -1 : 1;
}
#endif

// 1 ready, 0 time-out, -1 failed; writing also fails on a connection error.
int WaitFor(SocketFd fd, bool write, int ms) {
#if defined(_WIN32)
    // Never a select() with a time-out: under load it can make Wine's server
    // fail an assertion and hang the whole test program (see the driver's
    // Winsock layer). The socket's event wakes the wait instead.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    HANDLE wake = WakeOf(fd);
    for (;;) {
        const int r = ReadyNow(fd, write);
        if (r != 0) return r;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return 0;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1;
        if (wake) {
            WaitForSingleObject(wake, static_cast<DWORD>(left));
        } else {
            Sleep(1);
        }
    }
#else
    pollfd pfd{fd, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int r = poll(&pfd, 1, ms);
    if (r <= 0) return r < 0 && errno != EINTR ? -1 : 0;
    return write && (pfd.revents & (POLLERR | POLLHUP)) ? -1 : 1;
#endif
}

bool SendWouldBlock() {
#if defined(_WIN32)
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

}  // namespace

SocketFd ListenOnLoopback(int backlog, uint16_t& port) {
    SocketFd fd = Bound(port);
    if (fd != kNoSocket && listen(Native(fd), backlog) != 0) {
        CloseSocketFd(fd);
        fd = kNoSocket;
    }
    return fd;
}

SocketFd BindOnLoopback(uint16_t& port) { return Bound(port); }

SocketFd ConnectToLoopback(uint16_t port) {
    const SocketFd fd = static_cast<SocketFd>(socket(AF_INET, SOCK_STREAM, 0));
    if (fd == kNoSocket) return kNoSocket;
    sockaddr_in address = Loopback(port);
    if (connect(Native(fd), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        CloseSocketFd(fd);
        return kNoSocket;
    }
    return fd;
}

SocketFd AcceptWithin(SocketFd listener, int ms) {
    if (WaitFor(listener, false, ms) <= 0) return kNoSocket;
    return static_cast<SocketFd>(accept(Native(listener), nullptr, nullptr));
}

int WaitReadable(SocketFd fd, int ms) { return WaitFor(fd, false, ms); }

int WaitWritable(SocketFd fd, int ms) { return WaitFor(fd, true, ms); }

long ReceiveSome(SocketFd fd, char* buffer, size_t size) {
    for (;;) {
        if (IsShut(fd)) return 0;
        const int ready = WaitFor(fd, false, kSliceMs);
        if (ready < 0) return -1;
        if (ready == 0) continue;
        const long n = recv(Native(fd), buffer, static_cast<int>(size), 0);
        return n < 0 ? -1 : n;
    }
}

long SendWithoutWaiting(SocketFd fd, const char* data, size_t size) {
#if defined(_WIN32)
    // Winsock has no per-call flag: the socket is made non-blocking for good,
    // which the receives here, always after a wait, do not notice.
    u_long on = 1;
    ioctlsocket(Native(fd), FIONBIO, &on);
    const long n = send(Native(fd), data, static_cast<int>(size), 0);
#else
    const long n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
#endif
    if (n >= 0) return n;
    return SendWouldBlock() ? 0 : -1;
}

long SendSome(SocketFd fd, const char* data, size_t size) {
    for (;;) {
        if (IsShut(fd)) return -1;
        const int ready = WaitFor(fd, true, kSliceMs);
        if (ready < 0) return -1;
        if (ready == 0) continue;
        const long n = SendWithoutWaiting(fd, data, size);
        if (n != 0 || size == 0) return n;
    }
}

void ShutdownBoth(SocketFd fd) {
    {
        std::lock_guard<std::mutex> lock(Shut().lock);
        Shut().sockets.insert(fd);
    }
    shutdown(Native(fd), kShutBoth);
}

void ShutdownSending(SocketFd fd) { shutdown(Native(fd), kShutSend); }

void CloseSocketFd(SocketFd fd) {
    if (fd == kNoSocket) return;
    {
        // The system may hand the number out again.
        std::lock_guard<std::mutex> lock(Shut().lock);
        Shut().sockets.erase(fd);
    }
#if defined(_WIN32)
    ForgetWake(fd);
    closesocket(Native(fd));
#else
    close(fd);
#endif
}

void SetNoDelay(SocketFd fd) {
    int one = 1;
    setsockopt(Native(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
}

}  // namespace fakes
