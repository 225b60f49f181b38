#include "channel/jpeg_channel_rtsp.h"

#include <new>

#include "media/jpeg_media_parser.h"

namespace telvaro {

CJPEGChannelRTSP::CJPEGChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : CCommonChannelRTSP(driver, channelNumber, sink) {
    // Without a depacketizer the channel still runs, delivering no frames.
    InstallParser(new (std::nothrow) CJpegRTPMediaParser(driver, "Ombrelix"));
}

CJPEGChannelRTSP::~CJPEGChannelRTSP() { Stop(); }

}  // namespace telvaro
