#include "media/mpeg4_media_parser.h"

namespace telvaro {

namespace {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kVop = 0xB6;
// vop_coding_type in the top two bits after the VOP start code: 0 is I.
constexpr uint8_t kFirstNonIntraCodingType = 64;

bool IsStartCode(const uint8_t* p, uint8_t code) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code; }

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
        for (size_t i = 4; i + 4 <= length; ++i) {
            if (IsStartCode(payload + i, kVop)) {
                inBandConfig_.assign(payload, payload + i);
                dataPos = i;
                break;
            }
        }
    }

    const uint8_t* data = payload + dataPos;
    const size_t dataLength = length - dataPos;
    if (dataLength >= 5 && IsStartCode(data, kVop)) {
        ClearFrame();
        if (data[4] >= kFirstNonIntraCodingType) {
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
