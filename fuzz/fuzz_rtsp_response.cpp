// Arbitrary bytes as RTSP replies: the first byte picks the request method
// (DESCRIBE most often, so that session descriptions are read), the rest is
// cut into two replies parsed by one parser, as a client reads them in turn.
// The reply reader's extent search runs on the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rtsp/rtsp_response_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto method = static_cast<telvaro::RtspMethod>(data[0] % 8 < 2 ? telvaro::kRtspDescribe : data[0] % 8);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    size_t length = 0;
    if (telvaro::CRTSPResponseParser::FindReplyExtent(text, 4096, length) ==
            telvaro::CRTSPResponseParser::ReplyExtent::Complete &&
        length > text.size()) {
        __builtin_trap();
    }

    telvaro::CRTSPResponseParser parser;
    parser.SetSelectedMedia(((data[0] >> 6) + 1) & 3);
    const size_t cut = text.find("\r\n\r\n\r\n");
    parser.Parse(text.substr(0, cut), method);
    if (cut != std::string::npos) parser.Parse(text.substr(cut + 6), telvaro::kRtspDescribe);

    const telvaro::MediaConfig& config = parser.GetMediaConfig();
    if (config.sps.size() > telvaro::CRTSPResponseParser::kMaxParameterSetSize ||
        config.pps.size() > telvaro::CRTSPResponseParser::kMaxParameterSetSize) {
        __builtin_trap();
    }
    volatile size_t touched = parser.GetMedia(telvaro::kRtspMediaVideo).control.size() +
                              parser.GetMedia(data[0]).profile.size() + parser.GetContentBase().size() +
                              parser.GetSession().size() + parser.GetRealm().size() + parser.GetNonce().size();
    (void)touched;
    return 0;
}
