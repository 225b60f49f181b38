// The first picture of a channel: its frames decoded from a key frame on
// until one whole picture comes out (libavcodec, where the build has it),
// then written as a PNG file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace host {

class FirstPicture {
public:
    virtual ~FirstPicture() = default;
    // One frame as the driver handed it; true once the picture is there.
    virtual bool Feed(const uint8_t* data, uint32_t length) = 0;
    // At the end: a picture the decoder still holds back; true once there is one.
    virtual bool Drain() = 0;
    virtual bool Ready() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Why the frames fed so far gave no picture; empty when they gave no reason.
    virtual std::string Error() const = 0;
    virtual bool WritePng(const std::string& path, std::string& error) = 0;
};

bool PicturesAvailable();
// A decoder for h264, mpeg4 or jpeg; none, with a reason, when the build has none.
std::unique_ptr<FirstPicture> NewFirstPicture(const std::string& codec, std::string& error);

}  // namespace host
