#include "channel/h264_channel_rtsp.h"

#include <new>

#include "media/h264_media_parser.h"

namespace telvaro {

CH264ChannelRTSP::CH264ChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : CCommonChannelRTSP(driver, channelNumber, sink) {
    // Without a depacketizer the channel still runs, delivering no frames.
    InstallParser(new (std::nothrow) CH264RTPMediaParser(driver, "Ombrelix"));
}

CH264ChannelRTSP::~CH264ChannelRTSP() { Stop(); }

}  // namespace telvaro
