#include "camsim/session_description.h"

#include <cstdio>

#include "camsim/text_util.h"

namespace camsim {

std::string BuildSessionDescription(const ServedClip& clip, bool parameterSets, uint32_t maxFrameRate,
                                    const std::string& address, uint32_t sessionVersion) {
    const rtpkit::Clip& c = clip.clip;
    std::string sdp;
    sdp += "v=0\r\n";
    sdp += "o=- " + std::to_string(sessionVersion) + " 1 IN IP4 " + address + "\r\n";
    sdp += "s=PSIA streaming channel\r\n";
    sdp += "c=IN IP4 0.0.0.0\r\n";
    sdp += "t=0 0\r\n";
    sdp += "a=control:*\r\n";
    sdp += "a=range:npt=0-\r\n";
    char rate[32];
    std::snprintf(rate, sizeof rate, "%u.%02u", maxFrameRate / 100, maxFrameRate % 100);
    switch (clip.codec) {
    case Codec::H264:
        sdp += "m=video 0 RTP/AVP 96\r\n";
        sdp += "a=rtpmap:96 H264/90000\r\n";
        if (parameterSets && c.sps.size() >= 4 && !c.pps.empty()) {
            sdp += "a=fmtp:96 packetization-mode=1;profile-level-id=" +
                   HexEncode(std::vector<uint8_t>(c.sps.begin() + 1, c.sps.begin() + 4), true) +
                   ";sprop-parameter-sets=" + Base64Encode(c.sps) + "," + Base64Encode(c.pps) + "\r\n";
        }
        break;
    case Codec::Mpeg4: {
        sdp += "m=video 0 RTP/AVP 96\r\n";
        sdp += "a=rtpmap:96 MP4V-ES/90000\r\n";
        // profile_and_level_indication follows the visual object sequence start code.
        unsigned level = c.config.size() > 4 && c.config[3] == 0xB0 ? c.config[4] : 1;
        if (parameterSets && !c.config.empty())
            sdp += "a=fmtp:96 profile-level-id=" + std::to_string(level) + ";config=" + HexEncode(c.config, true) + "\r\n";
        break;
    }
    case Codec::Mjpeg:
        sdp += "m=video 0 RTP/AVP 26\r\n";
        sdp += "a=rtpmap:26 JPEG/90000\r\n";
        break;
    }
    sdp += "a=framerate:" + std::string(rate) + "\r\n";
    sdp += "a=x-dimensions:" + std::to_string(clip.width) + "," + std::to_string(clip.height) + "\r\n";
    sdp += "a=control:trackID=1\r\n";
    return sdp;
}

}  // namespace camsim
