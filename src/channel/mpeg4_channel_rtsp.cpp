#include "channel/mpeg4_channel_rtsp.h"

#include <new>

#include "media/mpeg4_media_parser.h"

namespace telvaro {

CMPEG4ChannelRTSP::CMPEG4ChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : CCommonChannelRTSP(driver, channelNumber, sink) {
    // Without a depacketizer the channel still runs, delivering no frames.
    InstallParser(new (std::nothrow) CMpeg4RTPMediaParser(driver, "Ombrelix"));
}

CMPEG4ChannelRTSP::~CMPEG4ChannelRTSP() { Stop(); }

}  // namespace telvaro
