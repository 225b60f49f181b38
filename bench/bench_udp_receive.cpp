// Packets per second through CUDPPort -> CRTPReceiver -> a user that only
// counts, on loopback, and the receive thread's CPU time per packet. The
// sender keeps a bounded number of packets in flight so that the figure
// measures the receive path, not socket-buffer losses. A second part sends
// key frames of an 8 Mbit/s stream (250 datagrams back to back) 25 times a
// second and counts what the socket held for the receive thread. A third
// part paces an 8 Mbit/s stream as a GStreamer server sends it (each frame's
// datagrams about 100 us apart) and sets the receive thread's CPU per
// datagram beside the kernel's own cost: a bare thread that waits with poll
// and reads each datagram with recv, as ffmpeg does, and one that only
// blocks in recvmmsg; with the delay from a frame's last datagram to its
// hand-over.
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

double NowUs() { return std::chrono::duration<double, std::micro>(Clock::now().time_since_epoch()).count(); }

class CountingUser : public IRTPReceiverUser {
public:
    void OnRTPPacket(const RTPPacket*) override {}
    void OnRTPPacketFrom(const platform::Ipv4Endpoint*, const RTPPacket* packet) override {
        if (received.load(std::memory_order_relaxed) == 0) {
            thread = pthread_self();
            firstCpu = ThreadCpuSeconds(thread);
        }
        if (packet->marker) {
            // The sender stamps a frame's last datagram with its send time.
            double sentUs = 0;
            if (packet->payloadLength >= sizeof sentUs) std::memcpy(&sentUs, packet->payload, sizeof sentUs);
            const double delay = NowUs() - sentUs;
            handOverSumUs += delay;
            handOverMaxUs = std::max(handOverMaxUs, delay);
            ++frames;
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
    double handOverSumUs = 0;
    double handOverMaxUs = 0;
    uint64_t frames = 0;
};

constexpr unsigned kPacedFps = 25;
constexpr unsigned kPacedPerFrame = 29;  // 8 Mbit/s in datagrams of 1400 bytes
constexpr unsigned kPacedGapUs = 100;
constexpr size_t kPacedPayload = 1388;

// Sends frames of kPacedPerFrame datagrams, kPacedGapUs apart, kPacedFps a
// second, for the given seconds; the last datagram of each frame carries the
// marker bit and its send time.
uint64_t SendPaced(uint16_t port, double seconds) {
    uint32_t loopback = 0;
    platform::ParseIpv4Address("127.0.0.1", loopback);
    const platform::Ipv4Endpoint target{loopback, port};
    platform::SocketHandle s = platform::OpenUdpSocket();
    if (s == platform::kInvalidSocket) return 0;
    std::vector<uint8_t> packet(12 + kPacedPayload, 0x5A);
    packet[0] = 0x80;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    auto next = Clock::now();
    uint64_t sent = 0;
    while (Clock::now() < end) {
        std::this_thread::sleep_until(next);
        next += std::chrono::microseconds(1000000 / kPacedFps);
        for (unsigned i = 0; i < kPacedPerFrame; ++i, ++sent) {
            const bool last = i + 1 == kPacedPerFrame;
            packet[1] = static_cast<uint8_t>(96 | (last ? 0x80 : 0));
            packet[2] = static_cast<uint8_t>(sent >> 8);
            packet[3] = static_cast<uint8_t>(sent);
            if (last) {
                const double now = NowUs();
                std::memcpy(packet.data() + 12, &now, sizeof now);
            }
            platform::SendBytesTo(s, packet.data(), packet.size(), target);
            if (!last) std::this_thread::sleep_for(std::chrono::microseconds(kPacedGapUs));
        }
    }
    platform::CloseSocket(s);
    return sent;
}

// The kernel's part: a thread that takes each datagram of the paced stream
// with the fewest calls a receiver can make (poll then recv, or recvmmsg
// waiting for one), and nothing else. CPU microseconds per datagram.
double BareReceiveUs(bool withPoll, double seconds, uint64_t& got) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    platform::Ipv4Endpoint local;
    platform::ParseIpv4Address("127.0.0.1", local.address);
    platform::BindSocket(s, local);
    platform::Ipv4Endpoint bound;
    platform::LocalEndpoint(s, bound);
    std::atomic<bool> done{false};
    std::atomic<uint64_t> count{0};
    double cpu = 0;
    std::thread reader([&] {
        std::vector<uint8_t> buffer(4096);
        double firstCpu = -1;
        while (!done.load()) {
            if (withPoll) {
                pollfd p{s, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                if (recv(s, buffer.data(), buffer.size(), 0) <= 0) continue;
            } else {
                iovec part{buffer.data(), buffer.size()};
                mmsghdr message{};
                message.msg_hdr.msg_iov = &part;
                message.msg_hdr.msg_iovlen = 1;
                timespec limit{0, 100000000};
                if (recvmmsg(s, &message, 1, MSG_WAITFORONE, &limit) <= 0) continue;
            }
            if (firstCpu < 0) firstCpu = ThreadCpuSeconds(pthread_self());
            count.fetch_add(1);
        }
        const uint64_t n = count.load();
        cpu = n > 1 ? (ThreadCpuSeconds(pthread_self()) - firstCpu) * 1e6 / static_cast<double>(n - 1) : 0;
    });
    SendPaced(bound.port, seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    done.store(true);
    shutdown(s, SHUT_RDWR);
    reader.join();
    close(s);
    got = count.load();
    return cpu;
}

bool RunPaced(double seconds) {
    CountingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    if (!receiver.Open(0, "127.0.0.1", 0)) return false;
    const uint64_t sent = SendPaced(receiver.GetPort()->GetBoundPort(), seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpu = user.CpuPerPacketUs();
    receiver.Close();
    uint64_t pollGot = 0, mmsgGot = 0;
    const double pollUs = BareReceiveUs(true, seconds, pollGot);
    const double mmsgUs = BareReceiveUs(false, seconds, mmsgGot);
    const double perMb = 1e6 / kPacedPayload / 1000;  // datagrams per MB, us -> ms
    std::printf("paced, %u frames a second of %u datagrams %u us apart (%llu of %llu delivered):\n", kPacedFps,
                kPacedPerFrame, kPacedGapUs, static_cast<unsigned long long>(user.received.load()),
                static_cast<unsigned long long>(sent));
    std::printf("  receive thread     %.2f us CPU a datagram (%.2f ms/MB), frame handed over %.2f ms after its last "
                "datagram on average, %.2f ms at most\n",
                cpu, cpu * perMb, user.frames ? user.handOverSumUs / user.frames / 1000 : 0.0, user.handOverMaxUs / 1000);
    std::printf("  bare poll + recv   %.2f us CPU a datagram (%.2f ms/MB, %llu datagrams)\n", pollUs, pollUs * perMb,
                static_cast<unsigned long long>(pollGot));
    std::printf("  bare recvmmsg      %.2f us CPU a datagram (%.2f ms/MB, %llu datagrams)\n", mmsgUs, mmsgUs * perMb,
                static_cast<unsigned long long>(mmsgGot));
    return user.received.load() == sent;
}

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

// --paced: the paced part alone.
int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--paced") == 0) return RunPaced(5) ? 0 : 1;
    bool ok = Run(200, 200000, 64);
    ok = Run(1400, 200000, 64) && ok;
    ok = RunBursts(1388, 250, 50, 25) && ok;
    ok = RunPaced(5) && ok;
    return ok ? 0 : 1;
}
