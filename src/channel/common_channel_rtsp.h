// A camera channel that ties a PSIA streaming channel to an RTSP session:
// before each connection attempt it brings the camera's channel settings in
// line with what the host asked for, it builds the stream URL and port from
// the channel's capability text, and it feeds RTP to the codec's
// depacketizer.
#pragma once

#include <cstdint>
#include <string>

#include "channel/base_rtsp_channel.h"
#include "psia/psia_records.h"

namespace telvaro {

class CCommonChannelRTSP : public CBaseRTSPChannel {
public:
    CCommonChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink);
    ~CCommonChannelRTSP() override;

    bool Configure() override;
    void OnVideoPacket(const RTPPacket* packet) override;
    void PrepareSession(RtspParams& params) override;
    // The picture size and the capability text's channel id and RTSP port
    // must be usable as they are: nothing is wrapped or cut to fit.
    bool AcceptsSettings(const CHANNEL_PARAMS& params) override;
    // Largest picture side asked of a camera.
    static constexpr uint32_t kMaxPictureSide = 16384;
    // The camera's name of the codec: videoCodecType and the URL's query.
    virtual std::string GetCodecName() = 0;

    // The channel's capability text (device parameter channel + 2) in a
    // fresh record.
    ChannelCapabilities ReadCapabilities();
    // What the camera's streaming channel should look like.
    StreamingChannelSettings WantedSettings(const ChannelCapabilities& capabilities);

    // The offered fixed-quality value nearest to quality (0 to 100) within
    // the offered range; 0 without offers.
    static uint32_t PickFixedQuality(const std::string& options, uint32_t quality);
    // Frames per second × 100 for a frame interval in milliseconds.
    static uint32_t MaxFrameRateFor(uint32_t frameInterval);

protected:
    // Takes the codec's depacketizer and makes this channel its client.
    void InstallParser(CRTPMediaParser* parser);
};

}  // namespace telvaro
