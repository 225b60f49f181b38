#include "media/jpeg_media_parser.h"

#include <cstring>

#include "media/jpeg_header_writer.h"
#include "media/jpeg_tables.h"
#include "platform/thread_cancel.h"

namespace telvaro {

namespace {

constexpr size_t kMainHeaderLength = 8;
constexpr size_t kRestartHeaderLength = 4;
constexpr size_t kQuantizationHeaderLength = 4;
constexpr size_t kTableLength = 64;
// SOI, two DQT, SOF0, four DHT and SOS: the header rebuilt from Q.
constexpr size_t kHeaderFromQ = 605;
constexpr uint8_t kEndOfImage[] = {0xFF, 0xD9};

bool HasRestartMarkers(uint8_t type) { return type >= 64 && type <= 127; }

// Picture size in 8-pixel units; 0 stands for 2048 pixels, which one byte
// cannot express otherwise.
uint32_t PictureSize(uint8_t units) { return units == 0 ? 2048u : units * 8u; }

}  // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver, const std::string& allocationName)
    : CRTPMediaParser(driver, allocationName) {}

CJpegRTPMediaParser::~CJpegRTPMediaParser() = default;

void CJpegRTPMediaParser::Reset() {
    waiting_ = true;
    width_ = 0;
    height_ = 0;
    ClearStored();
}

void CJpegRTPMediaParser::ClearStored() {
    ClearFrame();
    alignPad_ = 0;
}

void CJpegRTPMediaParser::OnPacket(const RTPPacket* packet) {
    CheckSequence(packet->sequenceNumber);
    if (!Append(packet->payload, packet->payloadLength)) return;
    if (!packet->marker) return;
    timeStamps_.Convert(packet->timeStamp);
    HandOver();
    ClearStored();
}

bool CJpegRTPMediaParser::Append(const uint8_t* payload, size_t length) {
    if (length < 4) {
        NoteFailure(kFailureMalformed, "an RTP/JPEG payload shorter than 4 bytes");
        return false;
    }
    const uint32_t offset = static_cast<uint32_t>(payload[1]) << 16 | static_cast<uint32_t>(payload[2]) << 8 |
                            payload[3];
    if (offset == 0) {
        // A first packet always begins a frame: whatever an unfinished frame
        // left behind would end up inside this one's scan.
        ClearStored();
        if (length > 11) headerLength_ = HasRestartMarkers(payload[4]) ? 12 : 8;
        // A frame whose headers or tables cannot be known is dropped whole.
        Layout layout;
        if (!ReadLayout(payload, length, layout)) {
            Reset();
            return false;
        }
        if (layout.tablesInPacket && layout.q < 255) {
            tablesOfQ_[layout.q - 128].assign(layout.tables, layout.tables + layout.tableBytes);
        }
        // The scan data is copied once more, behind the rebuilt header: a few
        // bytes in front of the stored frame put it at the same place within
        // 16 bytes as its destination, which keeps that copy at full speed.
        static const uint8_t kZeros[16] = {};
        alignPad_ = (layout.headerLength - layout.dataPos) % 16;
        AppendToFrame(kZeros, alignPad_);
        AppendToFrame(payload, length);
        expectedOffset_ = static_cast<uint32_t>(length - layout.dataPos);
        waiting_ = false;
    } else {
        // Fragments must follow each other without gap or overlap (RFC 2435
        // section 3.1.2): a frame with a hole or a part written twice would
        // only give the host a picture decoders reject.
        if (waiting_ || offset != expectedOffset_) {
            // While waiting, the frame's first packet was lost on the way.
            if (!waiting_) NoteFailure(kFailureOutOfOrder, "an RTP/JPEG fragment that does not follow the one before");
            Reset();
            return false;
        }
        if (length > headerLength_) {
            AppendToFrame(payload + headerLength_, length - headerLength_);
            expectedOffset_ += static_cast<uint32_t>(length - headerLength_);
        }
    }
    if (waiting_ || !CheckBufferSize()) {
        Reset();
        return false;
    }
    return true;
}

void CJpegRTPMediaParser::HandOver() {
    if (!CanHandOver()) return;
    const uint32_t capacity = static_cast<uint32_t>(frame_.size() - alignPad_) + kHeaderReserve;
    HandOverFrame(kFourCCJPEG, capacity, false, [this](uint8_t* buffer, uint32_t bufferCapacity) -> uint32_t {
        try {
            return static_cast<uint32_t>(Rebuild(buffer, bufferCapacity));
        } catch (...) {
            platform::SwallowUnlessCancelled();
            return 0;
        }
    });
}

const uint8_t* CJpegRTPMediaParser::TablesForQ(int q) {
    if (q > 99) q = 99;
    if (q != qTablesFor_) {
        CJpegTables::MakeQuantizationTables(q, qTables_);
        qTablesFor_ = q;
    }
    return qTables_;
}

bool CJpegRTPMediaParser::ReadLayout(const uint8_t* frame, size_t length, Layout& layout) {
    auto refuse = [this](FailureKind kind, const char* text) {
        NoteFailure(kind, text);
        return false;
    };
    if (length <= kMainHeaderLength) return refuse(kFailureMalformed, "a first RTP/JPEG packet without scan data");
    layout.type = frame[4];
    layout.q = frame[5];
    layout.dataPos = kMainHeaderLength;
    layout.restartInterval = 0;
    if (HasRestartMarkers(layout.type)) {
        if (length < kMainHeaderLength + kRestartHeaderLength) {
            return refuse(kFailureMalformed, "an RTP/JPEG restart marker header cut short");
        }
        layout.restartInterval = static_cast<uint16_t>(frame[8] << 8 | frame[9]);
        layout.dataPos += kRestartHeaderLength;
    }
    layout.tables = nullptr;
    layout.tableBytes = 2 * kTableLength;
    layout.tablesInPacket = false;
    if (layout.q < 128) {
        // Tables from Q (RFC 2435 section 4.2) and no JFIF segment.
        layout.headerLength = kHeaderFromQ + (layout.restartInterval ? 6 : 0);
        return true;
    }
    // Q 128 to 255: the first packet carries the tables (RFC 2435 section
    // 3.1.8). A length of 0 refers to tables sent before for the same Q,
    // which Q 255 never does; a header whose MBZ byte is set is not one this
    // parser can read.
    if (length < layout.dataPos + kQuantizationHeaderLength) {
        return refuse(kFailureMalformed, "an RTP/JPEG quantization table header cut short");
    }
    const uint8_t* quantization = frame + layout.dataPos;
    if (quantization[0] != 0) {
        return refuse(kFailureUnsupported, "an RTP/JPEG quantization table header whose MBZ byte is not 0");
    }
    const size_t announced = static_cast<size_t>(quantization[2]) << 8 | quantization[3];
    layout.dataPos += kQuantizationHeaderLength;
    if (length < layout.dataPos + announced) {
        return refuse(kFailureMalformed, "RTP/JPEG quantization tables longer than their packet");
    }
    if (announced != 0) {
        // Baseline JPEG holds 8-bit tables of 64 entries: one shared table
        // or one for luminance and one for chrominance.
        if (announced != kTableLength && announced != 2 * kTableLength) {
            return refuse(kFailureUnsupported, "RTP/JPEG quantization tables of other than 64 or 128 bytes");
        }
        layout.tables = frame + layout.dataPos;
        layout.tableBytes = announced;
        layout.tablesInPacket = true;
        layout.dataPos += announced;
    } else {
        if (layout.q == 255) return refuse(kFailureMalformed, "an RTP/JPEG frame of Q 255 without its tables");
        if (tablesOfQ_[layout.q - 128].empty()) {
            return refuse(kFailureIncomplete, "an RTP/JPEG frame of Q 128 to 254 whose tables never came");
        }
        layout.tables = tablesOfQ_[layout.q - 128].data();
        layout.tableBytes = tablesOfQ_[layout.q - 128].size();
    }
    const bool twoTables = layout.tableBytes > kTableLength;
    layout.headerLength = (layout.tableBytes & ~size_t(1)) + 501 - (layout.restartInterval ? 0 : 6) -
                          (twoTables ? 0 : 5);
    if (layout.headerLength > kHeaderReserve) return refuse(kFailureTooLarge, "an RTP/JPEG header too long to rebuild");
    return true;
}

size_t CJpegRTPMediaParser::Rebuild(uint8_t* out, size_t capacity) {
    const uint8_t* frame = frame_.data() + alignPad_;
    const size_t length = frame_.size() - alignPad_;
    Layout layout;
    if (!ReadLayout(frame, length, layout)) return 0;
    const uint32_t width = PictureSize(frame[6]);
    const uint32_t height = PictureSize(frame[7]);
    width_ = width;
    height_ = height;
    const uint8_t* scan = frame + layout.dataPos;
    const size_t scanLength = length - layout.dataPos;
    // Many senders leave the end-of-image marker out of the scan; a strict
    // decoder refuses a file without it.
    const bool endsImage = scanLength >= 2 && scan[scanLength - 2] == 0xFF && scan[scanLength - 1] == 0xD9;
    const size_t endLength = endsImage ? 0 : sizeof(kEndOfImage);
    if (layout.headerLength + scanLength + endLength > capacity) return 0;

    CJpegHeaderWriter header(out);
    if (layout.q < 128) {
        if (length <= kHeaderFromQ) {
            NoteFailure(kFailureMalformed, "an RTP/JPEG frame of 605 bytes or less with its tables from Q");
            return 0;
        }
        const uint8_t* tables = TablesForQ(layout.q);
        // Types 64 to 127 add 64 to the sampling type.
        const uint8_t baseType = HasRestartMarkers(layout.type) ? static_cast<uint8_t>(layout.type - 64) : layout.type;
        header.StartOfImage();
        if (layout.restartInterval != 0) header.RestartInterval(layout.restartInterval);
        header.QuantizationTable(0, tables);
        header.QuantizationTable(1, tables + kTableLength);
        header.Frame(width, height, 0, baseType == 0 ? 0x21 : 0x22, 1);
        header.HuffmanTables();
        header.StartOfScan(0);
    } else {
        const uint8_t* tables = layout.tables;
        const bool twoTables = layout.tableBytes > kTableLength;
        header.StartOfImage();
        header.Jfif();
        if (layout.restartInterval != 0) header.RestartInterval(layout.restartInterval);
        header.QuantizationTable(0, tables);
        if (twoTables) header.QuantizationTable(1, tables + kTableLength);
        header.Frame(width, height, 1, (layout.type & 1) ? 0x22 : 0x21, twoTables ? 1 : 0);
        header.HuffmanTables();
        header.StartOfScan(1);
    }
    std::memcpy(out + header.Length(), scan, scanLength);
    std::memcpy(out + header.Length() + scanLength, kEndOfImage, endLength);
    return header.Length() + scanLength + endLength;
}

}  // namespace telvaro
