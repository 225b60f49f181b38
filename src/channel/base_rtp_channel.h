// A camera channel as a self-healing media pipeline: its thread connects
// (camera configuration, RTP reception, RTSP session), watches the time since
// the last frame, reconnects when frames stop, reports signal loss and tears
// everything down when the channel stops. Packets come in through
// IRTPReceiverUser, finished frames through IMediaParserClient, and go on to
// the host's stream sink on the receiving thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "channel/base_camera_channel.h"
#include "core/failure_reason.h"
#include "media/media_parser.h"
#include "rtp/rtp_receiver.h"
#include "rtp/rtp_receiver_user.h"
#include "thread/event.h"

namespace telvaro {

class CBaseRTPChannel : public CBaseCameraChannel, public IRTPReceiverUser, public IMediaParserClient {
public:
    CBaseRTPChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink);
    ~CBaseRTPChannel() override;

    int32_t Run() override;
    void OnThreadForced() override;

    virtual bool CreateReceiver();
    virtual bool OpenTransport();
    virtual void CloseTransport();
    virtual void DeleteReceiver();
    // Brings the camera in line with what the host asked for, before a
    // connection.
    virtual bool Configure() = 0;
    // Feeds one packet to the depacketizer.
    virtual void OnVideoPacket(const RTPPacket* packet) = 0;
    // Why the session of the current attempt failed, as far as it knows;
    // empty when it does not.
    virtual FailureReason SessionFailure();
    // Waits, after a successful Connect, until the attempt's stream has been
    // set up; false when the set-up failed, ran out of its own bound or the
    // channel is stopping. The wait for the first frame starts after it.
    // Here there is nothing to set up.
    virtual bool WaitForPlay();

    // IRTPReceiverUser.
    void OnRTPPacket(const RTPPacket* packet) override;
    void OnRTPPacketFrom(const platform::Ipv4Endpoint* sender, const RTPPacket* packet) override;
    void OnReceiveTimeout() override {}
    void OnReceiveClosed() override {}
    void SetMediaConfig(const MediaConfig& config) override;

    // IMediaParserClient.
    bool OnFrame(ipcapture::IMediaSample* sample) override;
    std::pair<uint32_t, uint32_t> GetResolution() override;

    uint16_t GetRtpPort() const { return rtpPort_; }
    uint32_t GetCameraAddress() const { return cameraAddress_; }

protected:
    // Drops what an earlier attempt left, reads the transport mode and
    // prepares camera, reception and session.
    bool Connect();
    // One connection attempt and the wait for its first frame; tells the
    // host why when none comes.
    void ConnectAndWait(uint32_t noData);
    // RTP travels inside the RTSP connection: no UDP port, no RTCP.
    bool Interleaved() const;
    // Feeds a packet to the depacketizer on the receiving thread, after any
    // session configuration handed over since the last packet.
    void FeedParser(const RTPPacket* packet);
    // Keeps the first reason the current connection attempt failed for.
    void NoteAttemptFailure(const FailureReason& reason);
    // Tells the host why an attempt failed, once per distinct reason until
    // the channel streams again. Channel thread only.
    void ReportAttemptFailure(const FailureReason& reason);
    // Tells the host, in the same way, why the depacketizer last refused or
    // dropped data of the stream. Channel thread only.
    void ReportParserFailure();

    uint16_t rtpPort_ = 0;
    std::unique_ptr<CRTPReceiver> receiver_;
    CManualEvent dataEvent_;
    CManualEvent frameEvent_;
    const uint32_t cameraAddress_;
    TransportMode transportMode_ = kRtpOverUdp;
    std::unique_ptr<CRTPMediaParser> mediaParser_;

private:
    // Sends "<where>: <device>: <reason>" unless it went out since the
    // channel last streamed.
    void ReportOnce(const char* where, const std::string& reason);

    // The RTSP thread hands the session's configuration over while a UDP
    // receive thread may already feed the depacketizer: the configuration
    // waits here and is taken over on the thread that feeds it.
    std::mutex configLock_;
    std::unique_ptr<MediaConfig> pendingConfig_;
    std::atomic<bool> configPending_{false};
    // Channel thread only.
    FailureReason attemptFailure_;
    std::set<std::string> reportedFailures_;
};

}  // namespace telvaro
