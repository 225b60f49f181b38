// IPv4 TCP and UDP sockets with the time-outs and error cases the driver
// relies on. Sends never raise SIGPIPE in the host process. Blocking waits
// and receives are places where a forced thread stop may act.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telvaro {
namespace platform {

#if defined(_WIN32)
// Winsock's SOCKET: pointer-sized and unsigned.
using SocketHandle = uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<uintptr_t>(0);
#else
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
#endif

enum class SocketError {
    None,
    WouldBlock,      // non-blocking operation in progress
    TimedOut,        // receive time-out elapsed
    MessageSize,     // datagram larger than the buffer; it is lost
    ConnectionReset,
    ConnectionRefused, // nothing listens at the address and port
    NotConnected,
    Fatal,           // the socket is unusable (closed handle, network down)
    InvalidArgument, // the call was refused as malformed (Winsock: WSAEINVAL)
    Other,
};

struct Ipv4Endpoint {
    uint32_t address = 0;  // network byte order; 0 = any
    uint16_t port = 0;     // host byte order
};

// Process-wide registration per user of the socket layer (on Windows the
// Winsock start-up); every successful SocketStartup is paired with one
// SocketCleanup.
bool SocketStartup();
void SocketCleanup();
int SocketUsers();

SocketHandle OpenTcpSocket();
SocketHandle OpenUdpSocket();
void CloseSocket(SocketHandle s);
// Both directions; wakes threads blocked on the socket.
void ShutdownSocket(SocketHandle s);
// Receiving direction only; sends still work.
void ShutdownReceive(SocketHandle s);

bool SetReceiveBufferSize(SocketHandle s, uint32_t bytes);
bool SetSendBufferSize(SocketHandle s, uint32_t bytes);
bool SetReceiveTimeout(SocketHandle s, uint32_t ms);
bool SetSendTimeout(SocketHandle s, uint32_t ms);
bool SetNonBlocking(SocketHandle s, bool nonBlocking);

bool BindSocket(SocketHandle s, const Ipv4Endpoint& local);
bool LocalEndpoint(SocketHandle s, Ipv4Endpoint& local);

// Starts a connect. None: connected; WouldBlock: in progress (non-blocking
// socket); anything else: failed.
SocketError ConnectSocket(SocketHandle s, const Ipv4Endpoint& remote);
// After a connect in progress: 1 when the connection is established, 0 when
// it is not (yet) within timeoutMs, -1 when it failed (refused, unreachable)
// or on a socket error. Returns as soon as the outcome is known. (A Winsock
// backend also watches the exception set: writability alone never shows a
// refusal there.) For -1, err (when given) tells a refusal from the rest.
int WaitConnected(SocketHandle s, uint32_t timeoutMs, SocketError* err = nullptr);

// 1 readable, 0 time-out, -1 error (err set).
int WaitReadable(SocketHandle s, uint32_t timeoutMs, SocketError* err);

// Bytes sent, or -1.
int SendBytes(SocketHandle s, const void* data, size_t length);
int SendBytesTo(SocketHandle s, const void* data, size_t length, const Ipv4Endpoint& to);
// Bytes received (0: orderly close), or -1 with err set; honours the
// receive time-out set on the socket.
int ReceiveBytes(SocketHandle s, void* buffer, size_t length, SocketError* err);
// One datagram; a datagram longer than length is lost and gives
// MessageSize.
int ReceiveDatagram(SocketHandle s, void* buffer, size_t length, Ipv4Endpoint* from, SocketError* err);

// One datagram of a batch taken by ReceiveDatagrams.
struct ReceivedDatagram {
    uint32_t length = 0;     // bytes in its slot; 0 for an empty datagram
    bool truncated = false;  // longer than its slot: the datagram is lost
    Ipv4Endpoint from;       // all zero when the socket was shut down
};

// Takes up to count datagrams in one call; datagram i lands in
// buffer + i * slotSize. With wait, the first datagram is waited for (a
// place where a forced stop may act) and the others are taken only if they
// are already there; without it nothing is waited for, and 0 means that no
// datagram was waiting. Returns how many were taken, or -1 with err set.
int ReceiveDatagrams(SocketHandle s, uint8_t* buffer, size_t slotSize, ReceivedDatagram* out, int count, bool wait,
                     SocketError* err);

// First IPv4 address of a host name or dotted address, network order; 0 for
// an empty text or a failed look-up.
uint32_t ResolveIpv4(const std::string& host);
// The driver's name lookup: ResolveIpv4 under the name the rest of the
// driver knows it by.
inline uint32_t ResolveHost(const std::string& host) { return ResolveIpv4(host); }
// inet_addr semantics: false for anything it refuses.
bool ParseIpv4Address(const std::string& text, uint32_t& address);
std::string FormatIpv4(uint32_t address);
// The computer's host name (at most 127 bytes); false when it cannot be read.
bool ReadHostName(std::string& name);
// Converts between host and network byte order.
uint16_t HostToNetwork16(uint16_t v);
uint32_t HostToNetwork32(uint32_t v);
uint16_t NetworkToHost16(uint16_t v);
uint32_t NetworkToHost32(uint32_t v);

}  // namespace platform
}  // namespace telvaro
