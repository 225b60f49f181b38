// The MPEG4 codec channel of a PSIA camera.
#pragma once

#include "channel/common_channel_rtsp.h"

namespace telvaro {

class CMPEG4ChannelRTSP : public CCommonChannelRTSP {
public:
    CMPEG4ChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink);
    ~CMPEG4ChannelRTSP() override;
    std::string GetCodecName() override { return "MPEG4"; }
};

}  // namespace telvaro
