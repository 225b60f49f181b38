// The blocking calls of the socket layer, checked against a peer of the
// test's own. On Winsock every socket is non-blocking underneath and the
// layer does the waiting, so these promises are its own work there.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "support/loopback_socket.h"

namespace {

using namespace telvaro;
using Clock = std::chrono::steady_clock;

platform::Ipv4Endpoint Loopback(uint16_t port) {
    platform::Ipv4Endpoint endpoint;
    endpoint.address = platform::HostToNetwork32(0x7F000001);
    endpoint.port = port;
    return endpoint;
}

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The driver's socket, connected with a blocking connect, and the peer's.
struct Connection {
    Connection() {
        started = platform::SocketStartup();
        uint16_t port = 0;
        listener = fakes::ListenOnLoopback(1, port);
        socket = platform::OpenTcpSocket();
        connected = platform::ConnectSocket(socket, Loopback(port)) == platform::SocketError::None;
        peer = fakes::AcceptWithin(listener, 2000);
    }
    ~Connection() {
        platform::CloseSocket(socket);
        fakes::CloseSocketFd(peer);
        fakes::CloseSocketFd(listener);
        if (started) platform::SocketCleanup();
    }
    bool Ready() const { return started && connected && peer != fakes::kNoSocket; }

    bool started = false;
    bool connected = false;
    fakes::SocketFd listener = fakes::kNoSocket;
    fakes::SocketFd peer = fakes::kNoSocket;
    platform::SocketHandle socket = platform::kInvalidSocket;
};

TEST(PlatformSocket, ABlockingSendHandsOverEveryByteToASlowReader) {
    Connection c;
    ASSERT_TRUE(c.Ready());
    ASSERT_TRUE(platform::SetSendBufferSize(c.socket, 8192));
    std::string payload(1 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 4096);
    std::string received;
    std::thread reader([&] {
        char buffer[65536];
        while (received.size() < payload.size()) {
            const long n = fakes::ReceiveSome(c.peer, buffer, sizeof(buffer));
            if (n <= 0) return;
            received.append(buffer, static_cast<size_t>(n));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(platform::SendBytes(c.socket, payload.data(), payload.size()), static_cast<int>(payload.size()));
    // The reader sees the end of the stream after what was sent.
    platform::ShutdownSocket(c.socket);
    reader.join();
    EXPECT_TRUE(received == payload) << received.size() << " of " << payload.size() << " bytes, or others";
}

TEST(PlatformSocket, ABlockingReceiveEndsOnDataShutdownOrItsTimeOut) {
    struct Case {
        const char* name;
        uint32_t receiveTimeoutMs;
        std::function<void(Connection&)> after200Ms;
        int result;
        platform::SocketError error;
        int64_t atLeastMs;
    } cases[] = {
        {"data", 0, [](Connection& c) { fakes::SendWithoutWaiting(c.peer, "x", 1); }, 1,
         platform::SocketError::None, 150},
        {"a shutdown of the receiving side", 0, [](Connection& c) { platform::ShutdownReceive(c.socket); }, 0,
         platform::SocketError::None, 150},
        {"the peer's close", 0, [](Connection& c) { fakes::ShutdownBoth(c.peer); }, 0, platform::SocketError::None,
         150},
        {"the receive time-out", 300, [](Connection&) {}, -1, platform::SocketError::TimedOut, 250},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Connection c;
        ASSERT_TRUE(c.Ready());
        if (k.receiveTimeoutMs != 0) {
            ASSERT_TRUE(platform::SetReceiveTimeout(c.socket, k.receiveTimeoutMs));
        }
        std::thread actor([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            k.after200Ms(c);
        });
        const Clock::time_point start = Clock::now();
        char byte = 0;
        platform::SocketError error = platform::SocketError::Other;
        EXPECT_EQ(platform::ReceiveBytes(c.socket, &byte, 1, &error), k.result);
        EXPECT_EQ(error, k.error);
        EXPECT_GE(MsSince(start), k.atLeastMs);
        EXPECT_LT(MsSince(start), 3000);
        actor.join();
    }
}

TEST(PlatformSocket, ABlockingConnectToAPortThatRefusesFails) {
    ASSERT_TRUE(platform::SocketStartup());
    uint16_t port = 0;
    const fakes::SocketFd bound = fakes::BindOnLoopback(port);
    ASSERT_NE(bound, fakes::kNoSocket);
    const platform::SocketHandle s = platform::OpenTcpSocket();
    const platform::SocketError result = platform::ConnectSocket(s, Loopback(port));
    EXPECT_NE(result, platform::SocketError::None);
    EXPECT_NE(result, platform::SocketError::WouldBlock);
    platform::CloseSocket(s);
    fakes::CloseSocketFd(bound);
    platform::SocketCleanup();
}

}  // namespace
