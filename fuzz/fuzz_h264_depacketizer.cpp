// Feeds a packet sequence made from the input to the H.264 depacketizer.
#include <cstddef>
#include <cstdint>

#include "depacketizer_fuzz_harness.h"
#include "media/h264_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::FeedPackets<telvaro::CH264RTPMediaParser>(data, size);
    return 0;
}
