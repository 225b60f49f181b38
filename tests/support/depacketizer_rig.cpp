#include "support/depacketizer_rig.h"

namespace fakes {

std::string CheckFramesDecode(const std::vector<ReceivedFrame>& frames, VideoDecoder::Codec codec) {
    VideoDecoder decoder(codec);
    for (size_t i = 0; i < frames.size(); ++i) {
        if (!decoder.Decode(frames[i].data)) {
            return "frame " + std::to_string(i) + " does not decode: " + decoder.LastError();
        }
    }
    if (!decoder.Flush()) return "flush: " + decoder.LastError();
    const auto& pictures = decoder.Pictures();
    if (pictures.size() != frames.size()) {
        return std::to_string(pictures.size()) + " pictures from " + std::to_string(frames.size()) + " frames";
    }
    for (size_t i = 0; i < frames.size(); ++i) {
        if (pictures[i].width != static_cast<int>(frames[i].width) ||
            pictures[i].height != static_cast<int>(frames[i].height)) {
            return "frame " + std::to_string(i) + " decodes at " + std::to_string(pictures[i].width) + "x" +
                   std::to_string(pictures[i].height) + " but the sample says " + std::to_string(frames[i].width) +
                   "x" + std::to_string(frames[i].height);
        }
    }
    return "";
}

}  // namespace fakes
