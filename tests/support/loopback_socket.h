// The socket calls of the loopback test servers, on POSIX sockets or on
// Winsock. The servers play the camera, so they talk to the operating system
// directly and share nothing with the driver's own socket layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fakes {

#if defined(_WIN32)
using SocketFd = uintptr_t;  // Winsock's SOCKET
#else
using SocketFd = int;
#endif
const SocketFd kNoSocket = static_cast<SocketFd>(-1);

// A TCP socket on 127.0.0.1 at a port the system chooses, listening with the
// given backlog; kNoSocket when that failed.
SocketFd ListenOnLoopback(int backlog, uint16_t& port);
// The same, bound but not listening: a connection to it is refused. Neither
// hands out a port that an earlier server of this process had.
SocketFd BindOnLoopback(uint16_t& port);
// A blocking connect to 127.0.0.1:port; kNoSocket when it failed.
SocketFd ConnectToLoopback(uint16_t port);
// A connection that comes within ms; kNoSocket when none came.
SocketFd AcceptWithin(SocketFd listener, int ms);

// 1 when the socket is readable (data, end of stream or an error to read),
// 0 after ms without, -1 when waiting failed.
int WaitReadable(SocketFd fd, int ms);
// 1 when a send would not block, 0 after ms, -1 when the connection is gone.
int WaitWritable(SocketFd fd, int ms);

// What is there, at most size bytes, waiting for it in short slices so that
// a shutdown from another thread ends the wait on every platform (a receive
// that Winsock already waits in may not notice one). 0 at the end of the
// stream or after a shutdown, -1 on an error.
long ReceiveSome(SocketFd fd, char* buffer, size_t size);
// Bytes sent (at least one), waiting in short slices until the socket takes
// some, so that a shutdown from another thread also ends a send to a client
// that reads no more; -1 after a shutdown or on an error. Never raises
// SIGPIPE.
long SendSome(SocketFd fd, const char* data, size_t size);
// What the socket takes now: 0 instead of blocking, -1 on an error.
long SendWithoutWaiting(SocketFd fd, const char* data, size_t size);

// Both directions; a ReceiveSome waiting on the socket returns 0.
void ShutdownBoth(SocketFd fd);
// Sending direction only: the peer reads the end of the stream.
void ShutdownSending(SocketFd fd);
void CloseSocketFd(SocketFd fd);
// Every write leaves in a segment of its own.
void SetNoDelay(SocketFd fd);

}  // namespace fakes
