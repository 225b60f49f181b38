#include "camsim/rtsp_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <random>

namespace camsim {

namespace {

int BindUdp(const std::string& address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

}  // namespace

RtspSession::RtspSession(std::string id, uint32_t channelId, std::unique_ptr<RtpStream> stream, CameraContext& context)
    : id_(std::move(id)),
      channelId_(channelId),
      context_(context),
      stream_(std::move(stream)),
      lastTouch_(std::chrono::steady_clock::now()) {}

RtspSession::~RtspSession() {
    Stop();
    if (rtpSocket_ >= 0) close(rtpSocket_);
    if (rtcpSocket_ >= 0) close(rtcpSocket_);
}

bool RtspSession::SetupUdp(const sockaddr_in& clientRtp, const sockaddr_in& clientRtcp, uint16_t& serverRtpPort,
                           uint16_t& serverRtcpPort) {
    for (int attempt = 0; attempt < 64 && rtpSocket_ < 0; ++attempt) {
        int rtp = BindUdp(context_.config.address, 0);
        if (rtp < 0) return false;
        uint16_t port = LocalPort(rtp);
        int rtcp = port % 2 == 0 && port < 0xFFFF ? BindUdp(context_.config.address, static_cast<uint16_t>(port + 1)) : -1;
        if (rtcp < 0) {
            close(rtp);
            continue;
        }
        fcntl(rtcp, F_SETFL, fcntl(rtcp, F_GETFL) | O_NONBLOCK);
        rtpSocket_ = rtp;
        rtcpSocket_ = rtcp;
    }
    if (rtpSocket_ < 0) return false;
    clientRtp_ = clientRtp;
    clientRtcp_ = clientRtcp;
    serverRtpPort = LocalPort(rtpSocket_);
    serverRtcpPort = LocalPort(rtcpSocket_);
    return true;
}

void RtspSession::SetupInterleaved(std::shared_ptr<SocketWriter> writer, uint8_t rtpChannel, uint8_t rtcpChannel) {
    writer_ = std::move(writer);
    rtpChannel_ = rtpChannel;
    rtcpChannel_ = rtcpChannel;
}

void RtspSession::NextPosition(uint16_t& sequence, uint32_t& timestamp) const {
    std::lock_guard<std::mutex> lock(streamMutex_);
    sequence = stream_->NextSequence();
    timestamp = stream_->NextTimestamp();
}

uint32_t RtspSession::Ssrc() const {
    std::lock_guard<std::mutex> lock(streamMutex_);
    return stream_->Ssrc();
}

void RtspSession::Play() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (sender_.joinable()) return;
    {
        std::lock_guard<std::mutex> wakeLock(wakeMutex_);
        stopSending_ = false;
    }
    sender_ = std::thread(&RtspSession::Send, this);
}

void RtspSession::Pause() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (!sender_.joinable()) return;
    {
        std::lock_guard<std::mutex> wakeLock(wakeMutex_);
        stopSending_ = true;
    }
    wake_.notify_all();
    sender_.join();
}

void RtspSession::Stop() { Pause(); }

void RtspSession::Touch() {
    std::lock_guard<std::mutex> lock(touchMutex_);
    lastTouch_ = std::chrono::steady_clock::now();
}

bool RtspSession::IdleLongerThan(std::chrono::seconds timeout) const {
    std::lock_guard<std::mutex> lock(touchMutex_);
    return std::chrono::steady_clock::now() - lastTouch_ > timeout;
}

bool RtspSession::SendRtp(const std::vector<const rtpkit::Bytes*>& packets) {
    if (packets.empty()) return true;
    if (writer_) return writer_->SendInterleaved(rtpChannel_, packets);
    // A frame's packets leave together, as a camera's burst does, in as few
    // calls as the kernel takes them.
    std::vector<iovec> parts(packets.size());
    std::vector<mmsghdr> messages(packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        parts[i].iov_base = const_cast<uint8_t*>(packets[i]->data());
        parts[i].iov_len = packets[i]->size();
        messages[i] = mmsghdr{};
        messages[i].msg_hdr.msg_name = &clientRtp_;
        messages[i].msg_hdr.msg_namelen = sizeof clientRtp_;
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    size_t done = 0;
    while (done < messages.size()) {
        int n = sendmmsg(rtpSocket_, messages.data() + done, static_cast<unsigned>(messages.size() - done), 0);
        if (n < 0 && errno == EINTR) continue;
        // A refused datagram (no receiver yet) is no reason to stop: UDP
        // goes on with the next one.
        done += n > 0 ? static_cast<size_t>(n) : 1;
    }
    return true;
}

void RtspSession::SendRtcp(const rtpkit::Bytes& packet) {
    if (writer_) {
        writer_->SendInterleaved(rtcpChannel_, packet);
        return;
    }
    sendto(rtcpSocket_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&clientRtcp_),
           sizeof clientRtcp_);
}

// Receiver reports are read and counted, nothing more.
void RtspSession::DrainRtcp() {
    if (rtcpSocket_ < 0) return;
    uint8_t buffer[2048];
    while (recv(rtcpSocket_, buffer, sizeof buffer, 0) > 0) ++context_.rtcpPacketsReceived;
}

void RtspSession::Send() {
    using Clock = std::chrono::steady_clock;
    const std::string cname = "camsim@" + context_.config.address;
    const auto reportInterval = std::chrono::milliseconds(context_.config.senderReportIntervalMs);
    std::minstd_rand random(static_cast<uint32_t>(Clock::now().time_since_epoch().count()));
    uint64_t frameLimit = 0;
    {
        std::lock_guard<std::mutex> lock(streamMutex_);
        frameLimit = stream_->Options().frameLimit;
    }
    auto next = Clock::now();
    auto nextReport = next;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(wakeMutex_);
            if (wake_.wait_until(lock, next, [this] { return stopSending_; })) return;
        }
        std::vector<rtpkit::Bytes> packets;
        uint32_t timestamp = 0;
        std::chrono::nanoseconds frameDuration;
        {
            std::lock_guard<std::mutex> lock(streamMutex_);
            timestamp = stream_->NextTimestamp();
            packets = stream_->NextFrame();
            frameDuration = stream_->FrameDuration();
        }
        const bool silent = context_.faults.silent;
        if (!silent && context_.TakeFrame(channelId_, frameLimit)) {
            const uint32_t loss = context_.faults.rtpLossPercent;
            std::vector<const rtpkit::Bytes*> outgoing;
            outgoing.reserve(packets.size());
            for (const rtpkit::Bytes& p : packets) {
                if (loss > 0 && random() % 100 < loss) continue;
                outgoing.push_back(&p);
            }
            if (!SendRtp(outgoing)) return;  // the connection is gone
            context_.rtpPacketsSent += outgoing.size();
            std::lock_guard<std::mutex> lock(streamMutex_);
            for (const rtpkit::Bytes* p : outgoing) stream_->CountSent(p->size());
        }
        auto now = Clock::now();
        if (!silent && now >= nextReport) {
            auto since = std::chrono::duration_cast<std::chrono::microseconds>(now - next).count();
            uint32_t rtpTime = timestamp + static_cast<uint32_t>(since * 9 / 100);
            rtpkit::Bytes report;
            {
                std::lock_guard<std::mutex> lock(streamMutex_);
                report = stream_->SenderReport(rtpTime, cname);
            }
            SendRtcp(report);
            nextReport = now + reportInterval;
        }
        DrainRtcp();
        next += frameDuration;
        if (now - next > std::chrono::seconds(1)) next = now;  // no catch-up burst after a stall
    }
}

}  // namespace camsim
