#include "media/h264_sps.h"

#include "media/bit_reader.h"
#include "media/bit_writer.h"

namespace telvaro {

namespace {

constexpr uint8_t kNalTypeSps = 7;
constexpr uint8_t kSpsNalHeader = 0x67;  // nal_ref_idc 3, type 7

// scaling_list() of ITU-T H.264 7.3.2.1.1.1: only read past, the values do
// not matter here.
void SkipScalingList(CBitReader& reader, int size) {
    int64_t lastScale = 8;
    int64_t nextScale = 8;
    for (int j = 0; j < size; ++j) {
        if (nextScale != 0) {
            const int64_t delta = reader.ReadSE();
            nextScale = ((lastScale + delta) % 256 + 256) % 256;
        }
        if (nextScale != 0) lastScale = nextScale;
        if (reader.Failed()) return;
    }
}

// Crop units of ITU-T H.264 7.4.2.1.1 (Table 6-1): two luma samples per
// chroma sample horizontally for 4:2:0 and 4:2:2, vertically for 4:2:0, and
// twice that vertically when the picture is made of fields.
void CropUnits(uint32_t chromaFormatIdc, bool separateColourPlanes, uint32_t frameMbsOnly, uint64_t& unitX,
               uint64_t& unitY) {
    const uint64_t fieldFactor = 2 - frameMbsOnly;
    if (chromaFormatIdc == 0 || separateColourPlanes) {
        unitX = 1;
        unitY = fieldFactor;
        return;
    }
    const uint64_t subWidth = chromaFormatIdc == 3 ? 1 : 2;
    const uint64_t subHeight = chromaFormatIdc == 1 ? 2 : 1;
    unitX = subWidth;
    unitY = subHeight * fieldFactor;
}

}  // namespace

bool CH264Sps::FindPictureSize(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) {
    const size_t window = length < kSearchWindow ? length : kSearchWindow;
    for (size_t i = 0; i < window; ++i) {
        if (i + 3 >= length) break;
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1F) == kNalTypeSps) {
            return ReadPictureSize(data + i + 4, length - i - 4, width, height);
        }
    }
    return false;
}

bool CH264Sps::ReadPictureSize(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) {
    CBitReader r(data, length, true);
    const uint32_t profileIdc = r.ReadBits(8);
    r.SkipBits(8);  // constraint_set0..3 flags and reserved bits
    r.SkipBits(8);  // level_idc
    r.ReadUE();     // seq_parameter_set_id

    uint32_t chromaFormatIdc = 1;
    bool separateColourPlanes = false;
    if (profileIdc > 99) {
        chromaFormatIdc = r.ReadUE();
        if (chromaFormatIdc == 3) separateColourPlanes = r.ReadBit() != 0;
        r.ReadUE();   // bit_depth_luma_minus8
        r.ReadUE();   // bit_depth_chroma_minus8
        r.ReadBit();  // qpprime_y_zero_transform_bypass_flag
        if (r.ReadBit()) {  // seq_scaling_matrix_present_flag
            for (int i = 0; i < 8 && !r.Failed(); ++i) {
                if (r.ReadBit()) SkipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    r.ReadUE();  // log2_max_frame_num_minus4
    const uint32_t picOrderCntType = r.ReadUE();
    if (picOrderCntType == 0) {
        r.ReadUE();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (picOrderCntType == 1) {
        r.ReadBit();  // delta_pic_order_always_zero_flag
        r.ReadSE();   // offset_for_non_ref_pic
        r.ReadSE();   // offset_for_top_to_bottom_field
        const uint32_t cycle = r.ReadUE();
        for (uint32_t i = 0; i < cycle && !r.Failed(); ++i) r.ReadSE();
    }
    r.ReadUE();   // max_num_ref_frames
    r.ReadBit();  // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthInMbs = static_cast<uint64_t>(r.ReadUE()) + 1;
    const uint64_t heightInMapUnits = static_cast<uint64_t>(r.ReadUE()) + 1;
    const uint32_t frameMbsOnly = r.ReadBit();
    if (!frameMbsOnly) r.ReadBit();  // mb_adaptive_frame_field_flag
    r.ReadBit();                     // direct_8x8_inference_flag
    uint64_t cropX = 0;
    uint64_t cropY = 0;
    if (r.ReadBit()) {  // frame_cropping_flag
        const uint64_t left = r.ReadUE();
        const uint64_t right = r.ReadUE();
        const uint64_t top = r.ReadUE();
        const uint64_t bottom = r.ReadUE();
        uint64_t unitX = 2;
        uint64_t unitY = 2;
        CropUnits(chromaFormatIdc, separateColourPlanes, frameMbsOnly, unitX, unitY);
        cropX = unitX * (left + right);
        cropY = unitY * (top + bottom);
    }
    if (r.Failed()) return false;

    const uint64_t fullWidth = widthInMbs * 16;
    const uint64_t fullHeight = (2 - frameMbsOnly) * heightInMapUnits * 16;
    // A crop that leaves nothing, or a size beyond 32 bits, is no picture.
    if (cropX >= fullWidth || cropY >= fullHeight) return false;
    const uint64_t w = fullWidth - cropX;
    const uint64_t h = fullHeight - cropY;
    if (w > UINT32_MAX || h > UINT32_MAX) return false;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

std::vector<uint8_t> CH264Sps::Write(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return {};
    // Enough macroblocks to cover the picture; for sizes that are multiples
    // of 8 this is the integer part of (size / 16 - 0.5), plus one.
    const uint32_t widthInMbs = static_cast<uint32_t>((static_cast<uint64_t>(width) + 15) / 16);
    const uint32_t heightInMbs = static_cast<uint32_t>((static_cast<uint64_t>(height) + 15) / 16);
    const uint64_t padX = static_cast<uint64_t>(widthInMbs) * 16 - width;
    const uint64_t padY = static_cast<uint64_t>(heightInMbs) * 16 - height;

    CBitWriter w;
    w.WriteBits(kSpsNalHeader, 8);
    w.WriteBits(66, 8);          // profile_idc: baseline
    w.WriteBits(0x80, 8);        // constraint_set0_flag, the others and the reserved bits 0
    w.WriteBits(40, 8);          // level_idc 4.0
    w.WriteUE(0);                // seq_parameter_set_id
    w.WriteUE(0);                // log2_max_frame_num_minus4
    w.WriteUE(2);                // pic_order_cnt_type
    w.WriteUE(1);                // max_num_ref_frames
    w.WriteBit(false);           // gaps_in_frame_num_value_allowed_flag
    w.WriteUE(widthInMbs - 1);   // pic_width_in_mbs_minus1
    w.WriteUE(heightInMbs - 1);  // pic_height_in_map_units_minus1
    w.WriteBit(true);            // frame_mbs_only_flag
    w.WriteBit(false);           // direct_8x8_inference_flag
    const bool crop = padX != 0 || padY != 0;
    w.WriteBit(crop);
    if (crop) {
        w.WriteUE(0);
        w.WriteUE(static_cast<uint32_t>(padX / 2));
        w.WriteUE(0);
        w.WriteUE(static_cast<uint32_t>(padY / 2));
    }
    w.WriteBit(false);  // vui_parameters_present_flag
    w.WriteTrailingBits();
    return w.Bytes();
}

}  // namespace telvaro
