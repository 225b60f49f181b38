// Reads an MPEG-4 part 2 picture size from arbitrary bytes as from a key frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/mp4_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> copy(data, data + size);
    uint32_t width = 0;
    uint32_t height = 0;
    if (telvaro::CMP4Parser().Parse(copy.data(), copy.size(), width, height)) {
        if (width == 0 || height == 0 || width % 16 || height % 16) abort();
    }
    return 0;
}
