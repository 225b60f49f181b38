// The MJPEG codec channel of a PSIA camera.
#pragma once

#include "channel/common_channel_rtsp.h"

namespace telvaro {

class CJPEGChannelRTSP : public CCommonChannelRTSP {
public:
    CJPEGChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink);
    ~CJPEGChannelRTSP() override;
    std::string GetCodecName() override { return "MJPEG"; }
};

}  // namespace telvaro
