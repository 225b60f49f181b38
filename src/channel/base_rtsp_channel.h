// The RTSP transport of a channel: the local RTP/RTCP port pair (or none
// when RTP travels inside the RTSP connection), the RTCP handler and the
// RTSP client of each connection attempt.
#pragma once

#include <cstdint>
#include <memory>

#include "channel/base_rtp_channel.h"
#include "rtp/rtcp_handler.h"
#include "rtsp/rtsp_client.h"
#include "rtsp/rtsp_params.h"

namespace telvaro {

class CBaseRTSPChannel : public CBaseRTPChannel {
public:
    static constexpr uint16_t kFirstPort = 3556;
    static constexpr uint16_t kLastPort = 4554;
    // A port whose earlier session still streams to it shows within this time.
    static constexpr uint32_t kPortProbeMs = 2000;

    CBaseRTSPChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink);
    ~CBaseRTSPChannel() override;

    bool CreateReceiver() override;
    bool OpenTransport() override;
    void CloseTransport() override;
    void DeleteReceiver() override;
    // Lets the codec channel fill the server port and the URL path.
    virtual void PrepareSession(RtspParams& params);
    FailureReason SessionFailure() override;
    FailureReason ControlFailure() override;
    // Until the camera answered PLAY, bounded by the client's set-up bound
    // (every set-up request answered just within the receive time-out).
    bool WaitForPlay() override;


protected:
    // Finds a free even port whose stream is quiet, with RTCP on the next one.
    bool FindPortPair();

    std::unique_ptr<CBaseRTSPClient> client_;
    std::unique_ptr<CRTCPHandler> rtcpHandler_;
    uint16_t rtcpPort_ = 0;
};

}  // namespace telvaro
