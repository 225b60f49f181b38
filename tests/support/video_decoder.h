// A real decoder (libavcodec) for checking frames the driver rebuilt.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fakes {

class VideoDecoder {
public:
    enum class Codec { H264, Mpeg4, Jpeg };
    explicit VideoDecoder(Codec codec);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    struct Picture {
        int width = 0;
        int height = 0;
    };
    // Feeds one whole frame; false on a decode error. Pictures that come out
    // are appended to pictures.
    bool Decode(const std::vector<uint8_t>& frame);
    // Drains delayed pictures at the end of a stream.
    bool Flush();
    const std::vector<Picture>& Pictures() const { return pictures_; }
    const std::string& LastError() const { return error_; }

private:
    bool Receive();
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<Picture> pictures_;
    std::string error_;
};

}  // namespace fakes
