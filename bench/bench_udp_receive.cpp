// Packets per second through CUDPPort -> CRTPReceiver -> a user that only
// counts, on loopback, and the receive thread's CPU time per packet. The
// sender keeps a bounded number of packets in flight so that the figure
// measures the receive path, not socket-buffer losses. A second part sends
// key frames of an 8 Mbit/s stream (250 datagrams back to back) 25 times a
// second and counts what the socket held for the receive thread.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "rtp/rtp_receiver.h"

namespace {

using namespace telvaro;
using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds(pthread_t thread) {
    clockid_t clock;
    timespec t{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &t) != 0) return 0;
    return t.tv_sec + t.tv_nsec / 1e9;
}

class CountingUser : public IRTPReceiverUser {
public:
    void OnRTPPacket(const RTPPacket*) override {}
    void OnRTPPacketFrom(const platform::Ipv4Endpoint*, const RTPPacket* packet) override {
        if (received.load(std::memory_order_relaxed) == 0) {
            thread = pthread_self();
            firstCpu = ThreadCpuSeconds(thread);
        }
        bytes.store(bytes.load(std::memory_order_relaxed) + packet->payloadLength, std::memory_order_relaxed);
        received.fetch_add(1, std::memory_order_release);
    }
    // CPU time of the receive thread from the first packet on, per packet.
    double CpuPerPacketUs() const {
        const uint64_t n = received.load();
        return n > 1 ? (ThreadCpuSeconds(thread) - firstCpu) * 1e6 / static_cast<double>(n - 1) : 0;
    }
    void OnReceiveTimeout() override {}
    void OnReceiveClosed() override {}
    void SetMediaConfig(const MediaConfig&) override {}

    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> bytes{0};
    pthread_t thread{};
    double firstCpu = 0;
};

bool Run(size_t payloadSize, uint64_t packets, uint64_t window) {
    CountingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    if (!receiver.Open(0, "127.0.0.1", 0)) {
        std::printf("cannot open the receiver\n");
        return false;
    }
    uint32_t loopback = 0;
    platform::ParseIpv4Address("127.0.0.1", loopback);
    const platform::Ipv4Endpoint target{loopback, receiver.GetPort()->GetBoundPort()};
    platform::SocketHandle s = platform::OpenUdpSocket();
    if (s == platform::kInvalidSocket) return false;

    std::vector<uint8_t> packet(12 + payloadSize, 0x5A);
    packet[0] = 0x80;
    packet[1] = 96;
    auto start = Clock::now();
    auto lastProgress = start;
    uint64_t lastSeen = 0;
    for (uint64_t sent = 0; sent < packets; ++sent) {
        // Stall guard: a lost datagram would otherwise hold the window shut.
        while (sent - user.received.load(std::memory_order_acquire) >= window) {
            uint64_t seen = user.received.load(std::memory_order_acquire);
            if (seen != lastSeen) {
                lastSeen = seen;
                lastProgress = Clock::now();
            } else if (Clock::now() - lastProgress > std::chrono::milliseconds(50)) {
                break;
            }
            std::this_thread::yield();
        }
        packet[2] = static_cast<uint8_t>(sent >> 8);
        packet[3] = static_cast<uint8_t>(sent);
        platform::SendBytesTo(s, packet.data(), packet.size(), target);
    }
    while (user.received.load() < packets && Clock::now() - start < std::chrono::seconds(30)) {
        uint64_t seen = user.received.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (user.received.load() == seen) break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = user.CpuPerPacketUs();
    platform::CloseSocket(s);
    receiver.Close();

    const uint64_t got = user.received.load();
    std::printf("payload %5zu bytes: %9.0f packets/s, %7.1f MB/s, receive thread %.2f us CPU a packet "
                "(%llu of %llu packets in %.2f s)\n",
                payloadSize, got / seconds, user.bytes.load() / seconds / 1e6, cpu,
                static_cast<unsigned long long>(got), static_cast<unsigned long long>(packets), seconds);
    return got > 0;
}

// Bursts of burstSize datagrams, burstsPerSecond times a second, without
// waiting for the receiver: what the socket cannot hold is lost.
bool RunBursts(size_t payloadSize, unsigned burstSize, unsigned bursts, unsigned burstsPerSecond) {
    CountingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    if (!receiver.Open(0, "127.0.0.1", 0)) return false;
    uint32_t loopback = 0;
    platform::ParseIpv4Address("127.0.0.1", loopback);
    const platform::Ipv4Endpoint target{loopback, receiver.GetPort()->GetBoundPort()};
    platform::SocketHandle s = platform::OpenUdpSocket();
    if (s == platform::kInvalidSocket) return false;
    std::vector<uint8_t> packet(12 + payloadSize, 0x5A);
    packet[0] = 0x80;
    packet[1] = 96;
    const auto period = std::chrono::microseconds(1000000 / burstsPerSecond);
    auto next = Clock::now();
    uint64_t sent = 0;
    for (unsigned b = 0; b < bursts; ++b) {
        std::this_thread::sleep_until(next);
        next += period;
        for (unsigned i = 0; i < burstSize; ++i, ++sent) {
            packet[2] = static_cast<uint8_t>(sent >> 8);
            packet[3] = static_cast<uint8_t>(sent);
            platform::SendBytesTo(s, packet.data(), packet.size(), target);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpu = user.CpuPerPacketUs();
    platform::CloseSocket(s);
    receiver.Close();
    std::printf("bursts of %u x %zu bytes, %u a second: %llu of %llu packets delivered, receive thread %.2f us "
                "CPU a packet\n",
                burstSize, payloadSize, burstsPerSecond, static_cast<unsigned long long>(user.received.load()),
                static_cast<unsigned long long>(sent), cpu);
    return user.received.load() == sent;
}

}  // namespace

int main() {
    bool ok = Run(200, 200000, 64);
    ok = Run(1400, 200000, 64) && ok;
    ok = RunBursts(1388, 250, 50, 25) && ok;
    return ok ? 0 : 1;
}
