// Where a channel's frames go: a container that keeps the driver's frame
// times (Matroska or MP4, written with libavformat), or the raw elementary
// stream (H.264 Annex B, MPEG-4 part 2, concatenated JPEG files).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace host {

class MediaFile {
public:
    virtual ~MediaFile() = default;
    // One frame as the driver handed it; timeMs is its UTC time in
    // milliseconds. False, with a reason, once the file cannot be written.
    virtual bool Write(const uint8_t* data, uint32_t length, uint32_t fourcc, uint32_t width, uint32_t height,
                       int64_t timeMs, std::string& error) = 0;
    // Completes the file (container index and trailer).
    virtual bool Close(std::string& error) = 0;
};

// "mkv", "mp4" or "raw".
bool KnownMediaFormat(const std::string& format);
// Whether this build can write that format (containers need libavformat).
bool MediaFormatAvailable(const std::string& format);
// The file ending for a format and codec name (h264, mpeg4, jpeg).
std::string MediaFileEnding(const std::string& format, const std::string& codec);
// Creates the file at path; none, with a reason, when it cannot be created.
std::unique_ptr<MediaFile> OpenMediaFile(const std::string& format, const std::string& codec, const std::string& path,
                                         std::string& error);

}  // namespace host
