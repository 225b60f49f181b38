#include "media/h264_media_parser.h"

#include <cstring>

#include "media/h264_sps.h"
#include "platform/thread_cancel.h"

namespace telvaro {

namespace {

constexpr uint8_t kStartCode[] = {0x00, 0x00, 0x01};
// nal_unit_type 9, primary_pic_type 1 (I and P slices) and the stop bit.
constexpr uint8_t kAccessUnitDelimiter[] = {0x00, 0x00, 0x01, 0x09, 0x30};
// pic_parameter_set_id 0 for set 0, CAVLC, one slice group, one reference,
// no weighting, initial QP 26, deblocking control present.
const std::vector<uint8_t> kFallbackPps = {0x68, 0xCE, 0x3C, 0x80};

constexpr uint8_t kNalTypeSei = 6;
constexpr uint8_t kNalTypeDelimiter = 9;
constexpr uint8_t kNalTypeSps = 7;
constexpr uint8_t kNalTypePps = 8;
constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;
// FU header: start bit, end bit clear, type 5 (IDR slice).
constexpr uint8_t kFuStartOfIdr = 0x85;
constexpr uint8_t kFuStartBit = 0x80;
constexpr uint8_t kFuEndBit = 0x40;

bool BeginsWithStartCode(const uint8_t* data, size_t length) {
    return length >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1;
}

// The frame ends with a delimiter of our own; one the camera sends in front
// of its pictures would make a second, empty access unit.
bool IsDelimiter(uint8_t header) { return (header & 0x1F) == kNalTypeDelimiter; }

// Where the next start code 00 00 01 at or after from is, or length.
size_t FindStartCode(const uint8_t* data, size_t length, size_t from) {
    for (size_t i = from; i + 3 <= length; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    }
    return length;
}

// Packet types of RFC 6184 this depacketizer does not take.
const char* UnsupportedPacketText(uint8_t type) {
    switch (type) {
        case 25: return "a STAP-B packet (interleaved mode, not supported)";
        case 26: return "an MTAP16 packet (interleaved mode, not supported)";
        case 27: return "an MTAP24 packet (interleaved mode, not supported)";
        case 29: return "an FU-B packet (interleaved mode, not supported)";
        default: return "a packet of an undefined NAL unit type (0, 30 or 31)";
    }
}

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver, const std::string& allocationName)
    : CRTPMediaParser(driver, allocationName) {}

CH264RTPMediaParser::~CH264RTPMediaParser() = default;

void CH264RTPMediaParser::Reset() {
    waiting_ = true;
    width_ = 0;
    height_ = 0;
    StartFrame();
}

void CH264RTPMediaParser::StartFrame() {
    ClearFrame();
    frameHasContent_ = false;
    fragmentOpen_ = false;
}

void CH264RTPMediaParser::SetMediaConfig(const MediaConfig& config) {
    if (config.sps.empty()) return;
    std::vector<uint8_t> scratch(std::begin(kStartCode), std::end(kStartCode));
    scratch.insert(scratch.end(), config.sps.begin(), config.sps.end());
    scratch.insert(scratch.end(), std::begin(kStartCode), std::end(kStartCode));
    scratch.insert(scratch.end(), config.pps.begin(), config.pps.end());
    uint32_t width = 0;
    uint32_t height = 0;
    if (CH264Sps::FindPictureSize(scratch.data(), scratch.size(), width, height)) {
        width_ = width;
        height_ = height;
        config_.sps = config.sps;
        config_.pps = config.pps;
    } else {
        SynthesizeParameterSets();
    }
}

bool CH264RTPMediaParser::SynthesizeParameterSets() {
    config_.sps.clear();
    config_.pps = kFallbackPps;
    if (client_) {
        const std::pair<uint32_t, uint32_t> size = client_->GetResolution();
        width_ = size.first;
        height_ = size.second;
        config_.sps = CH264Sps::Write(size.first, size.second);
    }
    return !config_.sps.empty() && !config_.pps.empty();
}

void CH264RTPMediaParser::OnPacket(const RTPPacket* packet) {
    try {
        CheckSequence(packet->sequenceNumber);
        if (!AppendPayload(packet->payload, packet->payloadLength) || !CheckBufferSize()) {
            Reset();
            return;
        }
        if (!packet->marker) return;
        timeStamps_.Convert(packet->timeStamp);
        HandOver();
        StartFrame();
    } catch (...) {
        platform::SwallowUnlessCancelled();
        Reset();
    }
}

bool CH264RTPMediaParser::AppendPayload(const uint8_t* payload, size_t length) {
    if (length == 0) {
        NoteFailure(kFailureMalformed, "an empty RTP payload");
        return false;
    }
    if (length >= 5 && payload[0] == 0 && payload[1] == 0 && payload[2] == 0 && payload[3] == 1) {
        // A byte stream inside RTP, as some cameras send it.
        NoteNal(payload[4]);
        AppendByteStream(payload, length);
        return true;
    }
    const uint8_t type = payload[0] & 0x1F;
    if (type >= 1 && type <= 23) {
        // Access-unit delimiters are two bytes long; encoders send one in
        // front of every picture.
        NoteNal(payload[0]);
        if (!IsDelimiter(payload[0])) AppendNal(payload, length);
        return true;
    }
    if (type == kStapA) return AppendAggregate(payload, length);
    if (type == kFuA) return AppendFragment(payload, length);
    NoteFailure(kFailureUnsupported, UnsupportedPacketText(type));
    return false;
}

// STAP-A (RFC 6184 section 5.7.1): 16-bit sizes, each followed by a NAL unit.
bool CH264RTPMediaParser::AppendAggregate(const uint8_t* payload, size_t length) {
    if (length < 4) {
        NoteFailure(kFailureMalformed, "a STAP-A shorter than 4 bytes");
        return false;
    }
    size_t pos = 1;
    while (length - pos > 1) {
        const size_t size = static_cast<size_t>(payload[pos]) << 8 | payload[pos + 1];
        pos += 2;
        const size_t rest = length - pos;
        if (size > rest) {
            NoteFailure(kFailureMalformed, "a STAP-A whose NAL unit sizes run past its end");
            return false;
        }
        if (rest == 0) break;
        if (size > 0) NoteNal(payload[pos]);
        if (size == 0 || !IsDelimiter(payload[pos])) AppendNal(payload + pos, size);
        pos += size;
    }
    return true;
}

// FU-A (RFC 6184 section 5.8).
bool CH264RTPMediaParser::AppendFragment(const uint8_t* payload, size_t length) {
    if (length < 3) {
        NoteFailure(kFailureMalformed, "an FU-A shorter than 3 bytes");
        return false;
    }
    const uint8_t fuHeader = payload[1];
    const uint8_t nalHeader = static_cast<uint8_t>((payload[0] & 0xE0) | (fuHeader & 0x1F));
    const bool ownStartCode = length >= 6 && BeginsWithStartCode(payload + 2, length - 2);

    if (fuHeader == kFuStartOfIdr && !frameHasContent_ && !ownStartCode) {
        // An IDR picture that starts a frame (SEI messages aside) without
        // parameter sets: put the session's in front, or made-up ones if
        // there are none. A stream that carries its own sets gets none from
        // here, as made-up ones would replace those the decoder holds.
        bool haveSets = !config_.sps.empty() || !config_.pps.empty();
        if (!haveSets && !inBandParameterSets_) {
            if (!SynthesizeParameterSets()) {
                NoteFailure(kFailureIncomplete, "an IDR picture without parameter sets, and none could be made");
                waiting_ = true;
                return false;
            }
            haveSets = true;
        }
        if (haveSets) InsertParameterSets();
    }
    // A fragment whose start never came, with no packet missing in between
    // and the stream under way, is the sender's doing. It is still taken as
    // it comes.
    const bool starts = (fuHeader & kFuStartBit) != 0;
    if (!starts && !fragmentOpen_ && !waiting_) {
        NoteFailure(kFailureOutOfOrder, "an FU-A fragment without its start fragment");
    }
    fragmentOpen_ = (starts || fragmentOpen_) && (fuHeader & kFuEndBit) == 0;
    if (!ownStartCode && IsDelimiter(nalHeader)) return true;
    if (starts && !ownStartCode) {
        NoteNal(nalHeader);
        AppendToFrame(kStartCode, sizeof(kStartCode));
        AppendToFrame(&nalHeader, 1);
    } else if ((nalHeader & 0x1F) != kNalTypeSei && (nalHeader & 0x1F) != kNalTypeDelimiter) {
        frameHasContent_ = true;
    }
    AppendToFrame(payload + 2, length - 2);
    return true;
}

// The NAL units of an Annex B payload as they come, each with its start
// code (a zero byte in front of it included), delimiters left out.
void CH264RTPMediaParser::AppendByteStream(const uint8_t* data, size_t length) {
    size_t begin = 0;
    size_t code = FindStartCode(data, length, 0);
    while (begin < length) {
        const size_t nextCode = FindStartCode(data, length, code + 3);
        const size_t end = nextCode < length && data[nextCode - 1] == 0 ? nextCode - 1 : nextCode;
        if (code + 3 >= length || !IsDelimiter(data[code + 3])) AppendToFrame(data + begin, end - begin);
        begin = end;
        code = nextCode;
    }
}

void CH264RTPMediaParser::AppendNal(const uint8_t* nal, size_t length) {
    AppendToFrame(kStartCode, sizeof(kStartCode));
    AppendToFrame(nal, length);
}

void CH264RTPMediaParser::NoteNal(uint8_t header) {
    const uint8_t type = header & 0x1F;
    if (type == kNalTypeSps || type == kNalTypePps) inBandParameterSets_ = true;
    // SEI messages and delimiters may stand in front of the parameter sets.
    if (type != kNalTypeSei && type != kNalTypeDelimiter) frameHasContent_ = true;
}

// In front of the frame, where the hand-over looks for them; only SEI
// messages and a delimiter can be there already. A set the session lacks is
// left out: the stream brings its own.
void CH264RTPMediaParser::InsertParameterSets() {
    std::vector<uint8_t> sets;
    for (const std::vector<uint8_t>* set : {&config_.sps, &config_.pps}) {
        if (set->empty()) continue;
        sets.insert(sets.end(), std::begin(kStartCode), std::end(kStartCode));
        sets.insert(sets.end(), set->begin(), set->end());
    }
    frame_.insert(frame_.begin(), sets.begin(), sets.end());
    frameHasContent_ = true;
}

void CH264RTPMediaParser::HandOver() {
    if (!CanHandOver()) return;
    AppendToFrame(kAccessUnitDelimiter, sizeof(kAccessUnitDelimiter));
    uint32_t fourCC = kFourCCI264;
    uint32_t width = 0;
    uint32_t height = 0;
    if (CH264Sps::FindPictureSize(frame_.data(), frame_.size(), width, height)) {
        width_ = width;
        height_ = height;
        fourCC = kFourCCH264;
        waiting_ = false;
    } else if (waiting_) {
        return;
    }
    HandOverFrame(fourCC, SampleCapacity(static_cast<uint32_t>(frame_.size())));
}

}  // namespace telvaro
