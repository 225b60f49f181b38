// The H.264 codec channel of a PSIA camera.
#pragma once

#include "channel/common_channel_rtsp.h"

namespace telvaro {

class CH264ChannelRTSP : public CCommonChannelRTSP {
public:
    CH264ChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink);
    ~CH264ChannelRTSP() override;
    std::string GetCodecName() override { return "H.264"; }
};

}  // namespace telvaro
