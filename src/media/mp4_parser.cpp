#include "media/mp4_parser.h"

#include "media/bit_reader.h"
#include "platform/thread_cancel.h"

namespace telvaro {

namespace {

constexpr uint32_t kVisualObjectSequenceStartCode = 0x000001B0;
constexpr uint32_t kUserDataStartCode = 0x000001B2;
constexpr uint32_t kVisualObjectStartCode = 0x000001B5;
constexpr uint32_t kVideoObjectPrefix27 = 0x00000100 >> 5;       // 00 00 01 00 to 1F: the top 27 bits
constexpr uint32_t kVideoObjectLayerPrefix28 = 0x00000120 >> 4;  // 00 00 01 20 to 2F: the top 28 bits
constexpr uint32_t kShortVideoStartMarker = 0x20;          // 22 bits
constexpr uint32_t kVideoObjectTypeVideo = 1;
constexpr uint32_t kSimpleObjectType = 1;
constexpr uint32_t kExtendedParAspectRatio = 15;
constexpr uint32_t kMaxSize = 32000;

uint32_t RoundUpTo16(uint32_t v) { return (v + 15) & ~15u; }

bool IsStartCodePrefix(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

// Skips user data blocks: from their start code to the next start code.
void SkipUserData(CBitReader& r) {
    while (r.IsByteAligned() && r.PeekBits(32) == kUserDataStartCode) {
        const uint8_t* p = r.Current() + 4;
        while (p + 3 <= r.End() && !IsStartCodePrefix(p)) ++p;
        if (p + 3 > r.End()) p = r.End();
        r.SeekTo(p);
    }
}

// Moves to the next video object layer start code at a byte boundary.
bool SeekVideoObjectLayer(CBitReader& r) {
    r.AlignToByte();
    for (const uint8_t* p = r.Current(); p + 4 <= r.End(); ++p) {
        if (IsStartCodePrefix(p) && (p[3] & 0xF0) == 0x20) {
            r.SeekTo(p);
            return true;
        }
    }
    return false;
}

bool MarkerBit(CBitReader& r) { return r.ReadBit() == 1; }

}  // namespace

bool CMP4Parser::Parse(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) const {
    try {
        return ParseAll(data, length, width, height);
    } catch (...) {
        platform::SwallowUnlessCancelled();
        return false;
    }
}

bool CMP4Parser::ParseAll(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) const {
    CBitReader r(data, length);
    if (r.PeekBits(32) == kVisualObjectSequenceStartCode) {
        r.SkipBits(32);
        r.SkipBits(8);  // profile_and_level_indication
        SkipUserData(r);
        if (r.ReadBits(32) != kVisualObjectStartCode) return false;
        if (r.ReadBit()) {  // is_visual_object_identifier
            r.SkipBits(4);  // visual_object_verid
            r.SkipBits(3);  // visual_object_priority
        }
        if (r.ReadBits(4) != kVideoObjectTypeVideo) {
            if (!SeekVideoObjectLayer(r)) return false;
            return ReadVideoObjectLayer(r, width, height);
        }
        if (r.ReadBit()) {  // video_signal_type
            r.SkipBits(3);  // video_format
            r.SkipBits(1);  // video_range
            if (r.ReadBit()) r.SkipBits(24);  // colour_primaries, transfer_characteristics, matrix_coefficients
        }
        r.AlignToByte();  // next_start_code stuffing
        SkipUserData(r);
        if (r.Overrun()) return false;
    }
    if (r.PeekBits(27) == kVideoObjectPrefix27) {
        r.SkipBits(32);
        if (r.PeekBits(28) != kVideoObjectLayerPrefix28 && !SeekVideoObjectLayer(r)) return false;
    } else if (r.PeekBits(22) == kShortVideoStartMarker) {
        return ReadShortVideoHeader(r, width, height);
    } else if (!SeekVideoObjectLayer(r)) {
        return false;
    }
    return ReadVideoObjectLayer(r, width, height);
}

bool CMP4Parser::ReadVideoObjectLayer(CBitReader& r, uint32_t& width, uint32_t& height) {
    r.SkipBits(28);  // video_object_layer_start_code prefix
    r.SkipBits(4);   // video_object_layer_id
    r.SkipBits(1);   // random_accessible_vol
    if (r.ReadBits(8) != kSimpleObjectType) return false;
    if (r.ReadBit()) {  // is_object_layer_identifier
        r.SkipBits(4);  // video_object_layer_verid
        r.SkipBits(3);  // video_object_layer_priority
    }
    if (r.ReadBits(4) == kExtendedParAspectRatio) r.SkipBits(16);  // par_width, par_height
    if (r.ReadBit()) {                                             // vol_control_parameters
        if (r.ReadBits(2) != 1) return false;                      // chroma_format 4:2:0
        if (r.ReadBit() != 1) return false;                        // low_delay
        if (r.ReadBit()) {                                         // vbv_parameters
            r.SkipBits(15);                                        // first_half_bit_rate
            if (!MarkerBit(r)) return false;
            r.SkipBits(15);  // latter_half_bit_rate
            if (!MarkerBit(r)) return false;
            r.SkipBits(15);  // first_half_vbv_buffer_size
            if (!MarkerBit(r)) return false;
            r.SkipBits(3);   // latter_half_vbv_buffer_size
            r.SkipBits(11);  // first_half_vbv_occupancy
            if (!MarkerBit(r)) return false;
            r.SkipBits(15);  // latter_half_vbv_occupancy
            if (!MarkerBit(r)) return false;
        }
    }
    if (r.ReadBits(2) != 0) return false;  // video_object_layer_shape: rectangular
    if (!MarkerBit(r)) return false;
    const uint32_t resolution = r.ReadBits(16);  // vop_time_increment_resolution
    if (!MarkerBit(r)) return false;
    if (r.ReadBit()) {  // fixed_vop_rate
        // The bit length of resolution - 1 as a 16-bit number, at least 1.
        const uint32_t largest = (resolution - 1) & 0xFFFF;
        unsigned bits = 1;
        while ((largest >> bits) != 0) ++bits;
        r.SkipBits(bits);  // fixed_vop_time_increment
    }
    if (!MarkerBit(r)) return false;
    const uint32_t layerWidth = r.ReadBits(13);
    if (!MarkerBit(r)) return false;
    const uint32_t layerHeight = r.ReadBits(13);
    if (r.Failed()) return false;
    width = RoundUpTo16(layerWidth);
    height = RoundUpTo16(layerHeight);
    return width != 0 && height != 0 && width <= kMaxSize && height <= kMaxSize;
}

bool CMP4Parser::ReadShortVideoHeader(CBitReader& r, uint32_t& width, uint32_t& height) {
    static const uint32_t kFormats[][2] = {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
    r.SkipBits(22);  // short_video_start_marker
    r.SkipBits(8);   // temporal_reference
    r.SkipBits(5);   // marker_bit, zero_bit, split_screen, document_camera, full_picture_freeze_release
    uint32_t format = r.ReadBits(3);
    if (format == 7) {
        // PLUSPTYPE (ITU-T H.263 5.1.4): the format again in OPPTYPE when
        // UFEP is 1, then a custom size in CPFMT for format 6.
        if (r.ReadBits(3) != 1) return false;  // UFEP
        format = r.ReadBits(3);
        r.SkipBits(15);  // the rest of OPPTYPE
        r.SkipBits(9);   // MPPTYPE
        if (r.ReadBit()) r.SkipBits(2);  // CPM, PSBI
        if (format == 6) {
            r.SkipBits(4);  // pixel aspect ratio code
            const uint32_t widthIndication = r.ReadBits(9);
            if (!MarkerBit(r)) return false;
            const uint32_t heightIndication = r.ReadBits(9);
            if (r.Failed()) return false;
            width = RoundUpTo16((widthIndication + 1) * 4);
            height = RoundUpTo16(heightIndication * 4);
            return width != 0 && height != 0;
        }
    }
    if (r.Failed() || format < 1 || format > 5) return false;
    width = kFormats[format - 1][0];
    height = kFormats[format - 1][1];
    return true;
}

}  // namespace telvaro
