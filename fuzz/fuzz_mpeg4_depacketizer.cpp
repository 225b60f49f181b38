// Feeds a packet sequence made from the input to the MPEG-4 depacketizer.
#include <cstddef>
#include <cstdint>

#include "depacketizer_fuzz_harness.h"
#include "media/mpeg4_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::FeedPackets<telvaro::CMpeg4RTPMediaParser>(data, size);
    return 0;
}
