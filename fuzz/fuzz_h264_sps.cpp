// Reads a picture size from arbitrary bytes as from a frame, and checks that
// a set written for a size taken from the input reads back at that size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/h264_sps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> copy(data, data + size);
    uint32_t width = 0;
    uint32_t height = 0;
    if (telvaro::CH264Sps::FindPictureSize(copy.data(), copy.size(), width, height)) {
        if (width == 0 || height == 0) abort();
    }
    if (size >= 4) {
        // Even sizes up to 16382: what 4:2:0 can crop to exactly.
        const uint32_t w = (static_cast<uint32_t>(data[0] << 8 | data[1]) & 0x3FFE) + 2;
        const uint32_t h = (static_cast<uint32_t>(data[2] << 8 | data[3]) & 0x3FFE) + 2;
        std::vector<uint8_t> set = {0, 0, 1};
        const std::vector<uint8_t> sps = telvaro::CH264Sps::Write(w, h);
        set.insert(set.end(), sps.begin(), sps.end());
        if (!telvaro::CH264Sps::FindPictureSize(set.data(), set.size(), width, height)) abort();
        if (width != w || height != h) abort();
    }
    return 0;
}
