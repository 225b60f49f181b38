#include "camsim/rtp_stream.h"

#include <cmath>

#include "camsim/text_util.h"
#include "rtpkit/h264_packetizer.h"
#include "rtpkit/jpeg_packetizer.h"
#include "rtpkit/mpeg4_packetizer.h"
#include "rtpkit/rtp_writer.h"

namespace camsim {

namespace {

const uint32_t kClockRate = 90000;

void Put32(rtpkit::Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

}  // namespace

RtpStream::RtpStream(std::shared_ptr<const ServedClip> clip, const StreamOptions& options)
    : clip_(std::move(clip)),
      options_(options),
      ssrc_(Random32()),
      sequence_(static_cast<uint16_t>(Random32())),
      timestampBase_(Random32()) {
    if (options_.maxFrameRate == 0) options_.maxFrameRate = 2500;
    jpegQ_ = options_.jpegQ;
    if (jpegQ_ == 0) jpegQ_ = clip_->tablesQ ? clip_->tablesQ : 255;
}

uint8_t RtpStream::PayloadType() const { return clip_->codec == Codec::Mjpeg ? 26 : 96; }

uint32_t RtpStream::TimestampOfFrame(uint64_t frame) const {
    double ticks = static_cast<double>(frame) * kClockRate * 100.0 / options_.maxFrameRate;
    return timestampBase_ + static_cast<uint32_t>(static_cast<uint64_t>(std::llround(ticks)));
}

uint32_t RtpStream::NextTimestamp() const { return TimestampOfFrame(frame_); }

std::chrono::nanoseconds RtpStream::FrameDuration() const {
    return std::chrono::nanoseconds(100000000000ll / options_.maxFrameRate);
}

std::vector<rtpkit::Bytes> RtpStream::NextFrame() {
    const rtpkit::Clip& clip = clip_->clip;
    const rtpkit::Frame& frame = clip.frames[frame_ % clip.frames.size()];
    std::vector<rtpkit::Bytes> payloads;
    switch (clip_->codec) {
    case Codec::H264: {
        rtpkit::H264PacketizerOptions o;
        o.mtu = options_.mtu;
        o.dropParameterSets = !options_.parameterSetsInBand;
        // As x264 and many cameras do.
        o.accessUnitDelimiters = true;
        payloads = rtpkit::PacketizeH264(frame, o);
        if (options_.paddedBitRateKbps != 0) {
            size_t frameBytes = 0;
            for (const rtpkit::Bytes& p : payloads) frameBytes += p.size();
            std::vector<rtpkit::Bytes> filler = Filler(frameBytes);
            payloads.insert(payloads.end(), filler.begin(), filler.end());
        }
        break;
    }
    case Codec::Mpeg4: {
        rtpkit::Mpeg4PacketizerOptions o;
        o.mtu = options_.mtu;
        o.configInBand = options_.parameterSetsInBand;
        payloads = rtpkit::PacketizeMpeg4(frame, clip.config, o);
        break;
    }
    case Codec::Mjpeg: {
        rtpkit::JpegPacketizerOptions o;
        o.mtu = options_.mtu;
        o.q = jpegQ_;
        if (!rtpkit::PacketizeJpeg(frame, o, payloads, nullptr)) {
            // A Q whose tables are not the clip's: send the tables instead.
            o.q = 255;
            rtpkit::PacketizeJpeg(frame, o, payloads, nullptr);
        }
        break;
    }
    }
    uint32_t timestamp = TimestampOfFrame(frame_);
    ++frame_;
    std::vector<rtpkit::Bytes> packets;
    packets.reserve(payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i) {
        packets.push_back(rtpkit::BuildRtpPacket(PayloadType(), i + 1 == payloads.size(), sequence_++, timestamp,
                                                 ssrc_, payloads[i]));
    }
    return packets;
}

std::vector<rtpkit::Bytes> RtpStream::Filler(size_t frameBytes) {
    const int64_t share = static_cast<int64_t>(options_.paddedBitRateKbps) * 1000 / 8 * 100 / options_.maxFrameRate;
    paddingBalance_ += share - static_cast<int64_t>(frameBytes);
    // A clip heavier than the rate is not held back for longer than a second.
    const int64_t floor = -share * options_.maxFrameRate / 100;
    if (paddingBalance_ < floor) paddingBalance_ = floor;
    // Header byte and trailing bits; smaller gaps wait for the next frame.
    if (paddingBalance_ < 3) return {};
    rtpkit::Frame filler;
    rtpkit::Bytes nal(static_cast<size_t>(paddingBalance_), 0xFF);
    nal.front() = 0x0C;  // nal_ref_idc 0, type 12: filler data (H.264 section 7.3.2.7)
    nal.back() = 0x80;   // rbsp_trailing_bits
    filler.nals.push_back(std::move(nal));
    rtpkit::H264PacketizerOptions o;
    o.mtu = options_.mtu;
    std::vector<rtpkit::Bytes> payloads = rtpkit::PacketizeH264(filler, o);
    for (const rtpkit::Bytes& p : payloads) paddingBalance_ -= static_cast<int64_t>(p.size());
    return payloads;
}

void RtpStream::CountSent(size_t packetSize) {
    ++packetsSent_;
    octetsSent_ += static_cast<uint32_t>(packetSize > 12 ? packetSize - 12 : 0);
}

rtpkit::Bytes RtpStream::SenderReport(uint32_t rtpTime, const std::string& cname) const {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    uint64_t seconds = static_cast<uint64_t>(micros / 1000000) + 2208988800ull;  // NTP era starts 1900
    uint64_t fraction = (static_cast<uint64_t>(micros % 1000000) << 32) / 1000000;

    rtpkit::Bytes out = {0x80, 200, 0, 6};
    Put32(out, ssrc_);
    Put32(out, static_cast<uint32_t>(seconds));
    Put32(out, static_cast<uint32_t>(fraction));
    Put32(out, rtpTime);
    Put32(out, packetsSent_);
    Put32(out, octetsSent_);

    std::string name = cname.substr(0, 255);
    size_t chunk = 4 + 2 + name.size() + 1;  // SSRC, CNAME item, end of list
    size_t padded = (chunk + 3) / 4 * 4;
    uint16_t words = static_cast<uint16_t>((4 + padded) / 4 - 1);
    out.insert(out.end(), {0x81, 202, static_cast<uint8_t>(words >> 8), static_cast<uint8_t>(words)});
    Put32(out, ssrc_);
    out.push_back(1);
    out.push_back(static_cast<uint8_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    out.resize(out.size() + padded - chunk + 1, 0);
    return out;
}

}  // namespace camsim
