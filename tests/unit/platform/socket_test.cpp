// The blocking calls of the socket layer against a peer of the test's own.
// On Winsock every socket is non-blocking underneath and the layer does the
// waiting, so these promises are its own work there.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "support/loopback_socket.h"

namespace {

using namespace telvaro;

// The driver's socket after a blocking connect, and the peer's end.
struct Connection {
    Connection() {
        started = platform::SocketStartup();
        uint16_t port = 0;
        listener = fakes::ListenOnLoopback(1, port);
        socket = platform::OpenTcpSocket();
        platform::Ipv4Endpoint loopback;
        loopback.address = platform::HostToNetwork32(0x7F000001);
        loopback.port = port;
        connected = platform::ConnectSocket(socket, loopback) == platform::SocketError::None;
        peer = fakes::AcceptWithin(listener, 2000);
    }
    ~Connection() {
        platform::CloseSocket(socket);
        fakes::CloseSocketFd(peer);
        fakes::CloseSocketFd(listener);
        if (started) platform::SocketCleanup();
    }
    bool started = false;
    bool connected = false;
    fakes::SocketFd listener = fakes::kNoSocket;
    fakes::SocketFd peer = fakes::kNoSocket;
    platform::SocketHandle socket = platform::kInvalidSocket;
};

TEST(PlatformSocket, ABlockingSendHandsOverEveryByteToASlowReader) {
    Connection c;
    ASSERT_TRUE(c.connected && c.peer != fakes::kNoSocket);
    ASSERT_TRUE(platform::SetSendBufferSize(c.socket, 8192));
    std::string payload(1 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 4096);
    std::string received;
    std::thread reader([&] {
        char buffer[65536];
        long n;
        while ((n = fakes::ReceiveSome(c.peer, buffer, sizeof(buffer))) > 0) {
            received.append(buffer, static_cast<size_t>(n));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(platform::SendBytes(c.socket, payload.data(), payload.size()), static_cast<int>(payload.size()));
    platform::ShutdownSocket(c.socket);  // the reader sees the end after what was sent
    reader.join();
    EXPECT_TRUE(received == payload) << received.size() << " of " << payload.size() << " bytes, or others";
}

TEST(PlatformSocket, ABlockingReceiveEndsOnDataShutdownCloseOrItsTimeOut) {
    struct Case {
        const char* name;
        uint32_t timeoutMs;
        std::function<void(Connection&)> after200Ms;
        int result;
        platform::SocketError error;
    } cases[] = {
        {"data", 0, [](Connection& c) { fakes::SendWithoutWaiting(c.peer, "x", 1); }, 1, platform::SocketError::None},
        {"own shutdown", 0, [](Connection& c) { platform::ShutdownReceive(c.socket); }, 0, platform::SocketError::None},
        {"peer's close", 0, [](Connection& c) { fakes::ShutdownBoth(c.peer); }, 0, platform::SocketError::None},
        {"time-out", 300, [](Connection&) {}, -1, platform::SocketError::TimedOut},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Connection c;
        ASSERT_TRUE(c.connected && c.peer != fakes::kNoSocket);
        ASSERT_TRUE(platform::SetReceiveTimeout(c.socket, k.timeoutMs));
        std::thread actor([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            k.after200Ms(c);
        });
        const auto start = std::chrono::steady_clock::now();
        char byte = 0;
        platform::SocketError error = platform::SocketError::Other;
        EXPECT_EQ(platform::ReceiveBytes(c.socket, &byte, 1, &error), k.result);
        EXPECT_EQ(error, k.error);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(ms, 150);
        EXPECT_LT(ms, 3000);
        actor.join();
    }
}

}  // namespace
