#include "rtp/udp_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "rtp/rtp_receiver.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace {

using namespace telvaro;
using platform::Ipv4Endpoint;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> MakeRtp(uint16_t seq, uint32_t ts, bool marker, size_t payload) {
    std::vector<uint8_t> p(12 + payload);
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | 96);
    p[2] = static_cast<uint8_t>(seq >> 8);
    p[3] = static_cast<uint8_t>(seq);
    for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(ts >> (24 - 8 * i));
    p[8] = 0xCA;
    p[9] = 0xFE;
    p[10] = 0xBA;
    p[11] = 0xBE;
    for (size_t i = 0; i < payload; ++i) p[12 + i] = static_cast<uint8_t>(i * 7);
    return p;
}

struct Received {
    Ipv4Endpoint sender;
    uint16_t sequence;
    uint32_t timeStamp;
    bool marker;
    std::vector<uint8_t> payload;
};

class RecordingUser : public IRTPReceiverUser {
public:
    void OnRTPPacket(const RTPPacket*) override { ADD_FAILURE() << "UDP packets come with a sender"; }
    void OnRTPPacketFrom(const Ipv4Endpoint* sender, const RTPPacket* packet) override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            packets_.push_back({*sender, packet->sequenceNumber, packet->timeStamp, packet->marker,
                                std::vector<uint8_t>(packet->payload, packet->payload + packet->payloadLength)});
            log_.push_back("packet");
        }
        cv_.notify_all();
        if (hold.load()) {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait(lock, [&] { return !hold.load(); });
        }
        std::lock_guard<std::mutex> lock(mu_);
        log_.push_back("packet done");
    }
    void OnReceiveTimeout() override { ++timeouts; }
    void OnReceiveClosed() override {
        std::lock_guard<std::mutex> lock(mu_);
        log_.push_back("closed");
    }
    void SetMediaConfig(const MediaConfig&) override {}

    bool WaitForPackets(size_t n, int ms = 2000) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return packets_.size() >= n; });
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            hold = false;
        }
        cv_.notify_all();
    }
    std::vector<Received> Packets() {
        std::lock_guard<std::mutex> lock(mu_);
        return packets_;
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(mu_);
        return log_;
    }

    std::atomic<bool> hold{false};
    std::atomic<int> timeouts{0};

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Received> packets_;
    std::vector<std::string> log_;
};

class PortUser : public IRTPPortUser {
public:
    void OnPacket(IRTPPort* port, const Ipv4Endpoint&, const uint8_t*, uint32_t) override {
        ++packets;
        if (closeOnPacket) port->Close();
    }
    void OnTimeout(IRTPPort*) override { ++timeouts; }
    void OnClosed(IRTPPort*) override { ++closed; }
    std::atomic<int> packets{0};
    std::atomic<int> timeouts{0};
    std::atomic<int> closed{0};
    std::atomic<bool> closeOnPacket{false};
};

TEST(RTPReceiver, DeliversParsedPacketsWithTheirSenderAndDropsTheRest) {
    RecordingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    const uint16_t port = receiver.GetPort()->GetBoundPort();
    ASSERT_NE(port, 0);

    fakes::UdpPeer camera;
    std::vector<uint8_t> wrongVersion = MakeRtp(1, 1, false, 4);
    wrongVersion[0] = 0x40;
    ASSERT_TRUE(camera.Send(port, wrongVersion));
    ASSERT_TRUE(camera.Send(port, MakeRtp(7, 0x01020304, false, 0)));  // header only: rejected
    ASSERT_TRUE(camera.Send(port, MakeRtp(8, 0x01020305, true, 5)));
    ASSERT_TRUE(user.WaitForPackets(1));
    // Anything sent later would arrive behind the packet just seen.
    ASSERT_TRUE(camera.Send(port, MakeRtp(9, 0x01020306, false, 1)));
    ASSERT_TRUE(user.WaitForPackets(2));

    auto packets = user.Packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].sender.address, fakes::LoopbackAddress());
    EXPECT_EQ(packets[0].sender.port, camera.Port());
    EXPECT_EQ(packets[0].sequence, 8);
    EXPECT_EQ(packets[0].timeStamp, 0x01020305u);
    EXPECT_TRUE(packets[0].marker);
    EXPECT_EQ(packets[0].payload, std::vector<uint8_t>({0, 7, 14, 21, 28}));
    EXPECT_EQ(packets[1].sequence, 9);
    EXPECT_FALSE(packets[1].marker);

    receiver.Close();
    EXPECT_EQ(receiver.GetPort(), nullptr);
    EXPECT_EQ(user.Log().back(), "closed");
}

TEST(RTPReceiver, OversizedDatagramIsLostAndGrowsTheBuffer) {
    RecordingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    CUDPPort* port = receiver.GetPort();
    EXPECT_EQ(port->GetReceiveBufferSize(), 4096u);

    fakes::UdpPeer camera;
    ASSERT_TRUE(camera.Send(port->GetBoundPort(), MakeRtp(1, 100, true, 4988)));
    ASSERT_TRUE(fakes::WaitUntil([&] { return port->GetReceiveBufferSize() == 5120u; }));
    ASSERT_TRUE(camera.Send(port->GetBoundPort(), MakeRtp(2, 200, true, 4988)));
    ASSERT_TRUE(user.WaitForPackets(1));

    auto packets = user.Packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].sequence, 2);
    const std::vector<uint8_t> sent = MakeRtp(2, 200, true, 4988);
    EXPECT_EQ(packets[0].payload, std::vector<uint8_t>(sent.begin() + 12, sent.end()));
    EXPECT_EQ(port->GetReceiveBufferSize(), 5120u);
}

// Holds the receive thread in its first callback while a burst queues up
// behind it, then lets it go.
void SendBurstBehindAHeldPacket(RecordingUser& user, uint16_t port, fakes::UdpPeer& camera,
                                const std::vector<std::pair<fakes::UdpPeer*, std::vector<uint8_t>>>& burst) {
    user.hold = true;
    ASSERT_TRUE(camera.Send(port, MakeRtp(0, 0, false, 1)));
    ASSERT_TRUE(user.WaitForPackets(1));
    for (const auto& datagram : burst) ASSERT_TRUE(datagram.first->Send(port, datagram.second));
    user.Release();
}

TEST(RTPReceiver, BurstComesOutInOrderAcrossBatchesWithEachSender) {
    RecordingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    CUDPPort* port = receiver.GetPort();
    fakes::UdpPeer a, b;
    // Three batches' worth, two senders, and in the second batch a datagram
    // too large for its slot and an empty one: both are passed over, and
    // the slots are enlarged for what follows.
    const size_t count = 3 * CUDPPort::kBatchSize;
    const size_t oversized = CUDPPort::kBatchSize + 3, empty = CUDPPort::kBatchSize + 5;
    std::vector<std::pair<fakes::UdpPeer*, std::vector<uint8_t>>> burst;
    for (size_t i = 1; i <= count; ++i) {
        const size_t payload = i == oversized ? 4988 : 100 + i;
        burst.push_back({i % 2 ? &a : &b,
                         i == empty ? std::vector<uint8_t>() : MakeRtp(static_cast<uint16_t>(i), 0, false, payload)});
    }
    SendBurstBehindAHeldPacket(user, port->GetBoundPort(), a, burst);
    ASSERT_TRUE(user.WaitForPackets(count - 1));

    auto packets = user.Packets();
    ASSERT_EQ(packets.size(), count - 1);
    size_t next = 1;
    for (size_t k = 1; k < packets.size(); ++k, ++next) {
        if (next == oversized || next == empty) ++next;
        SCOPED_TRACE(next);
        const std::vector<uint8_t> sent = MakeRtp(static_cast<uint16_t>(next), 0, false, 100 + next);
        EXPECT_EQ(packets[k].sequence, next);
        EXPECT_EQ(packets[k].sender.port, (next % 2 ? a : b).Port());
        EXPECT_EQ(packets[k].payload, std::vector<uint8_t>(sent.begin() + 12, sent.end()));
    }
    EXPECT_EQ(port->GetReceiveBufferSize(), 5120u);
}

// A paced sender's datagrams are taken in naps while they keep coming: each
// comes out once and in order, and a Close in the middle of a stream that
// never ends a frame still ends the thread.
TEST(RTPReceiver, PacedDatagramsComeOutInOrderAndCloseEndsTheGathering) {
    RecordingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    const uint16_t target = receiver.GetPort()->GetBoundPort();
    fakes::UdpPeer camera;
    const uint16_t frames = 3, perFrame = 12;
    for (uint16_t seq = 0; seq < frames * perFrame; ++seq) {
        ASSERT_TRUE(camera.Send(target, MakeRtp(seq, seq / perFrame, seq % perFrame == perFrame - 1, 200)));
        std::this_thread::sleep_for(std::chrono::microseconds(seq % perFrame == perFrame - 1 ? 20000 : 300));
    }
    ASSERT_TRUE(user.WaitForPackets(frames * perFrame));
    const auto packets = user.Packets();
    ASSERT_EQ(packets.size(), size_t{frames * perFrame});
    for (uint16_t seq = 0; seq < packets.size(); ++seq) EXPECT_EQ(packets[seq].sequence, seq);

    std::atomic<bool> sending{true};
    std::thread stream([&] {
        for (uint16_t seq = 100; sending.load(); ++seq) {
            camera.Send(target, MakeRtp(seq, 0, false, 200));
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    ASSERT_TRUE(user.WaitForPackets(frames * perFrame + 20));
    receiver.Close();
    sending.store(false);
    stream.join();
    EXPECT_EQ(user.Log().back(), "closed");
}

// A key frame of an 8 Mbit/s stream (about 350 KB) arriving while the
// receive thread is busy elsewhere must wait in the socket, not be dropped.
TEST(RTPReceiver, KeyFrameBurstWaitsInTheSocketForALateThread) {
    uint64_t systemLimit = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> systemLimit;
    if (systemLimit < CUDPPort::kSocketBufferSize)
        GTEST_SKIP() << "net.core.rmem_max (" << systemLimit << ") holds no key-frame burst";
    RecordingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    fakes::UdpPeer camera;
    std::vector<std::pair<fakes::UdpPeer*, std::vector<uint8_t>>> burst;
    for (uint16_t i = 1; i <= 250; ++i) burst.push_back({&camera, MakeRtp(i, 9000, i == 250, 1388)});
    SendBurstBehindAHeldPacket(user, receiver.GetPort()->GetBoundPort(), camera, burst);
    ASSERT_TRUE(user.WaitForPackets(251)) << user.Packets().size() << " of 251";
    EXPECT_EQ(user.Packets().back().sequence, 250);
}

// ffmpeg's RTP muxer, a sender this project did not write, sends a clip four
// times over as fast as it can: every packet comes through, in order.
TEST(RTPReceiver, EveryPacketFfmpegBlastsAtThePortComesThrough) {
    RecordingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    const std::string clip = std::string(OMBRELIX_TESTDATA_DIR) + "/h264_high_1920x1080.h264";
    const std::string command = "timeout 20 ffmpeg -v error -nostdin -i 'concat:" + clip + "|" + clip + "|" + clip +
                                "|" + clip + "' -c copy -f rtp rtp://127.0.0.1:" +
                                std::to_string(receiver.GetPort()->GetBoundPort()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    size_t frames = 0;
    ASSERT_TRUE(fakes::WaitUntil([&] {
        frames = 0;
        for (const Received& r : user.Packets()) frames += r.marker ? 1 : 0;
        return frames >= 40;
    })) << frames << " frames";
    const auto packets = user.Packets();
    EXPECT_GT(packets.size(), 40u);
    for (size_t i = 1; i < packets.size(); ++i)
        ASSERT_EQ(packets[i].sequence, static_cast<uint16_t>(packets[i - 1].sequence + 1)) << i;
}

TEST(RTPReceiver, CloseFromAnotherThreadWaitsForTheReceiveThread) {
    RecordingUser user;
    user.hold = true;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    fakes::UdpPeer camera;
    ASSERT_TRUE(camera.Send(receiver.GetPort()->GetBoundPort(), MakeRtp(1, 1, false, 8)));
    ASSERT_TRUE(user.WaitForPackets(1));

    std::atomic<bool> closed{false};
    std::thread closer([&] {
        receiver.Close();
        closed = true;
    });
    // The receive thread is still inside the callback: Close must wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(closed.load());
    user.Release();
    closer.join();
    EXPECT_TRUE(closed.load());
    EXPECT_EQ(user.Log(), std::vector<std::string>({"packet", "packet done", "closed"}));
}

TEST(UDPPort, CloseWakesTheWaitingThreadWithoutItsTimeOut) {
    PortUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetSelectTimeout(30, 0);
    ASSERT_TRUE(port.Open("127.0.0.1", 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the thread reach its wait
    auto start = Clock::now();
    port.Close();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(user.closed.load(), 1);
    EXPECT_EQ(user.timeouts.load(), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetBoundPort(), 0);
}

TEST(UDPPort, PortInUseMakesOpenFail) {
    CUDPPort first;
    ASSERT_TRUE(first.Open("", 0));
    const uint16_t busy = first.GetBoundPort();

    CUDPPort second;
    EXPECT_FALSE(second.Open("", busy));
    EXPECT_EQ(second.GetLastOpenResult(), CUDPPort::OpenResult::BindFailed);
    EXPECT_FALSE(second.IsOpen());

    CRTPReceiver receiver;
    EXPECT_FALSE(receiver.Open(0, "", busy));
    EXPECT_EQ(receiver.GetPort(), nullptr);
}

TEST(UDPPort, AddressesAreCheckedBeforeAnySocketIsMade) {
    struct Case {
        const char* address;
        CUDPPort::OpenResult result;
    };
    const Case cases[] = {
        {"1.2.3", CUDPPort::OpenResult::BadAddress},             // 5 characters
        {"127.000.000.0001", CUDPPort::OpenResult::BadAddress},  // 16 characters
        {"999.1.1.1", CUDPPort::OpenResult::BadAddress},
        {"camera1", CUDPPort::OpenResult::BadAddress},
        {"127.0.0.1", CUDPPort::OpenResult::Opened},
        {"", CUDPPort::OpenResult::Opened},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        CUDPPort port;
        EXPECT_EQ(port.Open(c.address, 0), c.result == CUDPPort::OpenResult::Opened);
        EXPECT_EQ(port.GetLastOpenResult(), c.result);
        EXPECT_EQ(port.IsOpen(), c.result == CUDPPort::OpenResult::Opened);
    }
}

TEST(UDPPort, OpenOnAnOpenPortFailsAndKeepsReceiving) {
    PortUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_TRUE(port.Open("", 0));
    const uint16_t bound = port.GetBoundPort();
    EXPECT_FALSE(port.Open("", 0));
    EXPECT_EQ(port.GetLastOpenResult(), CUDPPort::OpenResult::AlreadyOpen);
    EXPECT_EQ(port.GetBoundPort(), bound);
    fakes::UdpPeer camera;
    ASSERT_TRUE(camera.Send(bound, MakeRtp(1, 1, false, 1)));
    EXPECT_TRUE(fakes::WaitUntil([&] { return user.packets.load() == 1; }));
}

TEST(UDPPort, CloseFromItsOwnCallbackEndsTheThreadAndThePortOpensAgain) {
    PortUser user;
    user.closeOnPacket = true;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_TRUE(port.Open("", 0));
    fakes::UdpPeer camera;
    ASSERT_TRUE(camera.Send(port.GetBoundPort(), MakeRtp(1, 1, false, 1)));
    ASSERT_TRUE(fakes::WaitUntil([&] { return user.closed.load() == 1; }));
    EXPECT_FALSE(port.IsOpen());

    user.closeOnPacket = false;
    ASSERT_TRUE(fakes::WaitUntil([&] { return port.Open("", 0); }));
    ASSERT_TRUE(camera.Send(port.GetBoundPort(), MakeRtp(2, 2, false, 1)));
    EXPECT_TRUE(fakes::WaitUntil([&] { return user.packets.load() == 2; }));
}

TEST(UDPPort, CloseOnAPortThatIsNotOpenDoesNothing) {
    PortUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.Close();
    EXPECT_EQ(user.closed.load(), 0);
}

TEST(UDPPort, ReportsTimeOutsWhileNothingArrives) {
    RecordingUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.Open(0, "", 0));
    receiver.GetPort()->SetSelectTimeout(0, 20000);
    // The first wait may still run with the default time-out; the shorter
    // one applies from the next wait on, so wake the thread once.
    fakes::UdpPeer camera;
    ASSERT_TRUE(camera.Send(receiver.GetPort()->GetBoundPort(), MakeRtp(1, 1, false, 1)));
    EXPECT_TRUE(fakes::WaitUntil([&] { return user.timeouts.load() >= 2; }));
}

TEST(UDPPort, EmptyDatagramDoesNotEndReception) {
    PortUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_TRUE(port.Open("", 0));
    fakes::UdpPeer camera;
    ASSERT_TRUE(camera.Send(port.GetBoundPort(), {}));
    ASSERT_TRUE(camera.Send(port.GetBoundPort(), MakeRtp(1, 1, false, 1)));
    EXPECT_TRUE(fakes::WaitUntil([&] { return user.packets.load() == 1; }));
    EXPECT_EQ(user.closed.load(), 0);
}

TEST(RTPReceiver, ReuseKeepsThePortObjectAndNeedsOne) {
    CRTPReceiver receiver;
    EXPECT_FALSE(receiver.Open(1, "", 0));
    ASSERT_TRUE(receiver.Open(0, "", 0));
    CUDPPort* port = receiver.GetPort();
    port->Close();
    ASSERT_TRUE(receiver.Open(1, "", 0));
    EXPECT_EQ(receiver.GetPort(), port);
    EXPECT_TRUE(port->IsOpen());
}

}  // namespace
