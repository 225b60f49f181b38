#include "media/mpeg4_media_parser.h"

namespace telvaro {

namespace {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVop = 0xB6;
// vop_coding_type in the top two bits after the VOP start code: 0 is I.
constexpr uint8_t kFirstNonIntraCodingType = 64;

bool IsStartCode(const uint8_t* p, uint8_t code) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code; }

// Where the first VOP start code at or after from is, or length.
size_t FindVop(const uint8_t* p, size_t length, size_t from) {
    for (size_t i = from; i + 4 <= length; ++i) {
        if (IsStartCode(p + i, kVop)) return i;
    }
    return length;
}

}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver, const std::string& allocationName)
    : CRTPMediaParser(driver, allocationName) {}

CMpeg4RTPMediaParser::~CMpeg4RTPMediaParser() = default;

void CMpeg4RTPMediaParser::Reset() {
    waiting_ = true;
    keyFrame_ = false;
    width_ = 0;
    height_ = 0;
    ClearFrame();
}

void CMpeg4RTPMediaParser::OnPacket(const RTPPacket* packet) {
    CheckSequence(packet->sequenceNumber);
    const uint8_t* payload = packet->payload;
    const size_t length = packet->payloadLength;

    // Configuration headers in front of a VOP replace the ones kept.
    size_t dataPos = 0;
    if (length >= 5 && IsStartCode(payload, kVisualObjectSequence)) {
        const size_t vop = FindVop(payload, length, 4);
        if (vop < length) {
            inBandConfig_.assign(payload, payload + vop);
            dataPos = vop;
        }
    }

    const uint8_t* data = payload + dataPos;
    const size_t dataLength = length - dataPos;
    // A group-of-VOP header (ffmpeg's encoder writes one in front of every
    // I-VOP) begins the frame of the VOP behind it, and stays in it.
    size_t vopPos = 0;
    if (dataLength >= 5 && IsStartCode(data, kGroupOfVop)) vopPos = FindVop(data, dataLength, 4);
    if (dataLength >= vopPos + 5 && IsStartCode(data + vopPos, kVop)) {
        ClearFrame();
        if (data[vopPos + 4] >= kFirstNonIntraCodingType) {
            keyFrame_ = false;
        } else {
            const std::vector<uint8_t>& config = inBandConfig_.empty() ? config_.config : inBandConfig_;
            AppendToFrame(config.data(), config.size());
            waiting_ = false;
            keyFrame_ = true;
        }
    }
    if (waiting_) return;
    AppendToFrame(data, dataLength);
    if (!CheckBufferSize()) {
        Reset();
        return;
    }
    if (!packet->marker) return;
    timeStamps_.Convert(packet->timeStamp);
    HandOver();
    ClearFrame();
}

void CMpeg4RTPMediaParser::HandOver() {
    if (!CanHandOver()) return;
    uint32_t fourCC = kFourCCDIVI;
    if (keyFrame_) {
        uint32_t width = 0;
        uint32_t height = 0;
        if (!headerParser_.Parse(frame_.data(), frame_.size(), width, height)) {
            if (inBandConfig_.empty() && config_.config.empty()) {
                NoteFailure(kFailureIncomplete,
                            "an MPEG-4 key frame without configuration headers, from the stream or the session");
            } else {
                // The header parser reads the simple profile only.
                NoteFailure(kFailureUnsupported,
                            "an MPEG-4 key frame whose configuration headers give no picture size");
            }
            Reset();
            return;
        }
        width_ = width;
        height_ = height;
        fourCC = kFourCCDIVX;
    }
    HandOverFrame(fourCC, SampleCapacity(static_cast<uint32_t>(frame_.size())));
}

}  // namespace telvaro
