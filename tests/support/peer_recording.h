// Checks of what the host received from a peer this project did not write
// (GStreamer's and VLC's RTSP servers), shared by their interop tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/fake_host.h"
#include "support/video_decoder.h"

namespace fakes {

// The longest time between two frames the host received, or between the
// last one and the end of the recording (video that stops before the end is
// a gap too), in milliseconds.
int64_t LongestGapMs(const std::vector<ReceivedFrame>& frames, std::chrono::steady_clock::time_point end);

// What is wrong with a recording of width x height pictures, "" when
// nothing: a session may begin between key frames, but one comes within
// the first keyWithin frames; from it on every frame is one whole picture
// of that size, ends as its codec must (H.264: one access-unit delimiter,
// at its end; JPEG: the end-of-image marker) and ffmpeg, stopping at the
// first fault it finds, takes them all. name names ffmpeg's temporary file.
std::string RecordingFault(VideoDecoder::Codec codec, const std::vector<ReceivedFrame>& frames, uint32_t width,
                           uint32_t height, size_t keyWithin, const std::string& name);

// One line of the table of long recordings: peer, codec, authentication,
// transport, scenario, rate and longest gap.
void PrintSessionLine(const char* peer, const char* codec, const char* auth, const char* transport,
                      const char* scenario, double fps, int64_t gapMs, bool failed);

}  // namespace fakes
