// The blocking calls of the socket layer against a peer of the test's own.
// On Winsock every socket is non-blocking underneath and the layer does the
// waiting, so these promises are its own work there.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/native_thread.h"
#include "support/loopback_socket.h"
#include "support/udp_peer.h"
#include "support/unanswered_port.h"
#include "support/wait_until.h"

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

TEST(PlatformSocket, ANonBlockingConnectIsMadeRefusedOrLeftWaiting) {
    ASSERT_TRUE(platform::SocketStartup());
    uint16_t listening = 0;
    fakes::SocketFd listener = fakes::ListenOnLoopback(1, listening);
    uint16_t refusing = 0;
    fakes::SocketFd bound = fakes::BindOnLoopback(refusing);
    fakes::UnansweredPort unanswered;
    ASSERT_NE(unanswered.Port(), 0);
    struct Case {
        const char* name;
        uint16_t port;
        int result;
        int64_t minMs, maxMs;
    } cases[] = {
        {"listening", listening, 1, 0, 1000},
        {"refused", refusing, -1, 0, 1000},
        {"never answered", unanswered.Port(), 0, 250, 2000},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        platform::SocketHandle s = platform::OpenTcpSocket();
        ASSERT_TRUE(platform::SetNonBlocking(s, true));
        platform::Ipv4Endpoint to{platform::HostToNetwork32(0x7F000001), k.port};
        const platform::SocketError started = platform::ConnectSocket(s, to);
        EXPECT_TRUE(started == platform::SocketError::WouldBlock || started == platform::SocketError::None);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::WaitConnected(s, 300), k.result);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(ms, k.minMs);
        EXPECT_LT(ms, k.maxMs);
        platform::CloseSocket(s);
    }
    fakes::CloseSocketFd(listener);
    fakes::CloseSocketFd(bound);
    platform::SocketCleanup();
}

// A batch takes what is waiting, each datagram in its slot with its sender;
// one longer than its slot is lost and marked, and a shut-down socket gives
// one empty datagram from nowhere.
TEST(PlatformSocket, ADatagramBatchTakesWhatIsWaiting) {
    platform::SocketHandle s = platform::OpenUdpSocket();
    ASSERT_TRUE(platform::BindSocket(s, platform::Ipv4Endpoint{fakes::LoopbackAddress(), 0}));
    platform::Ipv4Endpoint local;
    ASSERT_TRUE(platform::LocalEndpoint(s, local));
    ASSERT_TRUE(platform::SetReceiveTimeout(s, 2000));
    fakes::UdpPeer peer;
    constexpr size_t kSlot = 64;
    uint8_t slots[4 * kSlot];
    platform::ReceivedDatagram got[4];
    platform::SocketError err = platform::SocketError::Other;
    EXPECT_EQ(platform::ReceiveDatagrams(s, slots, kSlot, got, 4, false, &err), 0);
    EXPECT_EQ(err, platform::SocketError::None);

    const std::vector<std::vector<uint8_t>> sent = {{1, 2, 3}, std::vector<uint8_t>(kSlot + 1, 9), {}, {4}};
    // A loopback send is queued at the receiver when it returns: one wake
    // takes all four, not one a call.
    for (const auto& d : sent) ASSERT_TRUE(peer.Send(local.port, d));
    ASSERT_EQ(platform::ReceiveDatagrams(s, slots, kSlot, got, 4, true, &err), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].truncated, i == 1);
        EXPECT_EQ(got[i].length, i == 1 ? 0u : sent[static_cast<size_t>(i)].size());
        EXPECT_EQ(std::vector<uint8_t>(slots + i * kSlot, slots + i * kSlot + got[i].length),
                  i == 1 ? std::vector<uint8_t>() : sent[static_cast<size_t>(i)]);
        EXPECT_EQ(got[i].from.port, peer.Port());
        EXPECT_EQ(got[i].from.address, fakes::LoopbackAddress());
    }
    platform::ShutdownReceive(s);
    EXPECT_EQ(platform::ReceiveDatagrams(s, slots, kSlot, got, 4, true, &err), 1);
    EXPECT_EQ(got[0].length, 0u);
    EXPECT_EQ(got[0].from.port, 0);
    platform::CloseSocket(s);
}

// Only the wait for the first datagram of a batch is a place for a forced
// stop; taking datagrams that are already there never waits.
TEST(PlatformSocket, AForcedStopEndsTheWaitForABatch) {
    platform::SocketHandle s = platform::OpenUdpSocket();
    ASSERT_TRUE(platform::BindSocket(s, platform::Ipv4Endpoint{fakes::LoopbackAddress(), 0}));
    std::atomic<bool> waiting{false};
    auto thread = platform::NativeThread::Start(
        [&] {
            platform::ReceivedDatagram d[2];
            uint8_t buffer[2 * 64];
            waiting = true;
            platform::ReceiveDatagrams(s, buffer, 64, d, 2, true, nullptr);
            ADD_FAILURE() << "the wait ended without a datagram";
        },
        "batch wait");
    ASSERT_TRUE(thread);
    ASSERT_TRUE(fakes::WaitUntil([&] { return waiting.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(thread->Terminate(2000));
    platform::CloseSocket(s);
}

}  // namespace
