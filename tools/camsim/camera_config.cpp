#include "camsim/camera_config.h"

#include <cctype>

namespace camsim {

const char* CodecName(Codec codec) {
    switch (codec) {
    case Codec::H264: return "H.264";
    case Codec::Mpeg4: return "MPEG4";
    case Codec::Mjpeg: return "MJPEG";
    }
    return "H.264";
}

bool ParseCodecName(const std::string& text, Codec& codec) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "h.264" || lower == "h264") {
        codec = Codec::H264;
    } else if (lower == "mpeg4" || lower == "mpeg-4") {
        codec = Codec::Mpeg4;
    } else if (lower == "mjpeg" || lower == "jpeg") {
        codec = Codec::Mjpeg;
    } else {
        return false;
    }
    return true;
}

}  // namespace camsim
