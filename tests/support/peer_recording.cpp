#include "support/peer_recording.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

namespace fakes {

namespace {

// A picture the decoder can start from: an IDR slice, an I-VOP, any JPEG.
bool IsKeyFrame(VideoDecoder::Codec codec, const std::vector<uint8_t>& f) {
    if (codec == VideoDecoder::Codec::Jpeg) return true;
    for (size_t i = 0; i + 4 < f.size(); ++i) {
        if (f[i] != 0 || f[i + 1] != 0 || f[i + 2] != 1) continue;
        if (codec == VideoDecoder::Codec::H264 && (f[i + 3] & 0x1f) == 5) return true;
        if (codec == VideoDecoder::Codec::Mpeg4 && f[i + 3] == 0xb6 && (f[i + 4] >> 6) == 0) return true;
    }
    return false;
}

// How a frame must end: one H.264 access unit closed by its delimiter (and
// no other), one JPEG file closed by its end-of-image marker.
std::string EndingFault(VideoDecoder::Codec codec, const std::vector<uint8_t>& f) {
    const std::vector<uint8_t> end = codec == VideoDecoder::Codec::H264   ? std::vector<uint8_t>{0, 0, 1, 0x09, 0x30}
                                     : codec == VideoDecoder::Codec::Jpeg ? std::vector<uint8_t>{0xFF, 0xD9}
                                                                          : std::vector<uint8_t>{};
    if (f.size() < end.size() || !std::equal(end.begin(), end.end(), f.end() - end.size())) return "a wrong ending";
    size_t delimiters = 0;
    for (size_t i = 0; codec == VideoDecoder::Codec::H264 && i + 3 < f.size(); ++i) {
        if (f[i] == 0 && f[i + 1] == 0 && f[i + 2] == 1 && (f[i + 3] & 0x1f) == 9) ++delimiters;
    }
    return delimiters > 1 ? std::to_string(delimiters) + " delimiters" : "";
}

// What ffmpeg, stopping at the first fault it finds (-xerror), says of the
// frames written one after the other: nothing for a sound recording.
std::string StrictDecoderComplaint(VideoDecoder::Codec codec, const std::vector<ReceivedFrame>& frames, size_t start,
                                   const std::string& name) {
    const std::string path = ::testing::TempDir() + "interop-" + name + ".es";
    {
        // A delimiter opens the next access unit, and the file has none after
        // the last frame's: ffmpeg would take that one for an empty access
        // unit, so it is left out (every frame's delimiter is checked apart).
        const bool h264 = codec == VideoDecoder::Codec::H264;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (size_t i = start; i < frames.size(); ++i) {
            const size_t trailing = h264 && i + 1 == frames.size() && frames[i].data.size() >= 5 ? 5 : 0;
            out.write(reinterpret_cast<const char*>(frames[i].data.data()), frames[i].data.size() - trailing);
        }
    }
    const char* format = codec == VideoDecoder::Codec::H264 ? "h264" : codec == VideoDecoder::Codec::Jpeg ? "mjpeg" : "m4v";
    const std::string command = std::string("timeout 60 ffmpeg -nostdin -v error -xerror -f ") + format + " -i '" +
                                path + "' -f null - 2>&1";
    std::string said;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "ffmpeg not started";
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe)) said += buffer;
    const int status = pclose(pipe);
    std::remove(path.c_str());
    return status == 0 && said.empty() ? "" : "ffmpeg status " + std::to_string(status) + ": " + said;
}

}  // namespace

int64_t LongestGapMs(const std::vector<ReceivedFrame>& frames, std::chrono::steady_clock::time_point end) {
    int64_t longest = 0;
    for (size_t i = 1; i <= frames.size(); ++i) {
        const auto next = i < frames.size() ? frames[i].arrived : end;
        longest = std::max<int64_t>(
            longest, std::chrono::duration_cast<std::chrono::milliseconds>(next - frames[i - 1].arrived).count());
    }
    return longest;
}

std::string RecordingFault(VideoDecoder::Codec codec, const std::vector<ReceivedFrame>& frames, uint32_t width,
                           uint32_t height, size_t keyWithin, const std::string& name) {
    size_t start = 0;
    while (start < frames.size() && !IsKeyFrame(codec, frames[start].data)) ++start;
    if (start >= std::min(keyWithin, frames.size())) {
        return "no key frame in the first " + std::to_string(keyWithin) + " of " + std::to_string(frames.size());
    }
    VideoDecoder decoder(codec);
    for (size_t i = start; i < frames.size(); ++i) {
        const std::string at = "frame " + std::to_string(i) + ": ";
        if (!decoder.Decode(frames[i].data)) return at + decoder.LastError();
        if (frames[i].width != width || frames[i].height != height) {
            return at + std::to_string(frames[i].width) + "x" + std::to_string(frames[i].height);
        }
        const std::string ending = EndingFault(codec, frames[i].data);
        if (!ending.empty()) return at + ending;
    }
    const std::string complaint = StrictDecoderComplaint(codec, frames, start, name);
    if (!complaint.empty()) return complaint;
    decoder.Flush();
    if (decoder.Pictures().size() != frames.size() - start) {
        return std::to_string(decoder.Pictures().size()) + " pictures from " + std::to_string(frames.size() - start) +
               " frames";
    }
    for (const auto& picture : decoder.Pictures()) {
        if (static_cast<uint32_t>(picture.width) != width || static_cast<uint32_t>(picture.height) != height) {
            return "a picture of " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
        }
    }
    return "";
}

void PrintSessionLine(const char* peer, const char* codec, const char* auth, const char* transport,
                      const char* scenario, double fps, int64_t gapMs, bool failed) {
    std::printf("[ sessions ] %-9s %-6s %-6s %-11s %-6s %5.1f fps, longest gap %lld ms  %s\n", peer, codec, auth,
                transport, scenario, fps, static_cast<long long>(gapMs), failed ? "FAIL" : "pass");
}

}  // namespace fakes
