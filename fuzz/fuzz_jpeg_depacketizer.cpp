// Feeds a packet sequence made from the input to the JPEG depacketizer.
#include <cstddef>
#include <cstdint>

#include "depacketizer_fuzz_harness.h"
#include "media/jpeg_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::FeedPackets<telvaro::CJpegRTPMediaParser>(data, size);
    return 0;
}
