// The H.264 sequence parameter set as far as the depacketizer needs it: the
// picture size read from a set found in a byte stream, and a baseline set
// written for a given picture size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvaro {

class CH264Sps {
public:
    // A set is looked for only at start codes that begin within this many
    // bytes of the buffer.
    static constexpr size_t kSearchWindow = 64;

    // Finds a start code followed by a sequence parameter set NAL unit near
    // the start of an Annex B buffer and reads the cropped picture size from
    // it (ITU-T H.264 7.3.2.1.1). False when there is none, when the reader
    // runs past the end or when a size is 0.
    static bool FindPictureSize(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height);

    // Reads the picture size from the bytes after a sequence parameter set's
    // NAL header, emulation-prevention bytes skipped.
    static bool ReadPictureSize(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height);

    // A baseline sequence parameter set (NAL header included, no start code)
    // for a picture of width x height: profile 66, level 4.0, one reference
    // frame, picture order count type 2, frame coding only, cropped to the
    // exact size. Empty when a size is 0.
    static std::vector<uint8_t> Write(uint32_t width, uint32_t height);
};

}  // namespace telvaro
