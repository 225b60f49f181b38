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
    // Why a part of the session beside the media ended on its own while the
    // media may go on (the RTCP side over UDP); empty when none did.
    virtual FailureReason ControlFailure();
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
    void OnSessionEnded(const std::string& reason) override;
    void OnPeerBye(uint32_t ssrc) override;

    // IMediaParserClient.
    bool OnFrame(ipcapture::IMediaSample* sample) override;
    std::pair<uint32_t, uint32_t> GetResolution() override;

    // Media that stops this long after a BYE from its source ends the
    // session; media that goes on shows the BYE was for something else.
    static constexpr uint32_t kByeGraceMs = 500;

    // Any thread: 0 between connection attempts.
    uint16_t GetRtpPort() const { return rtpPort_.load(); }
    uint32_t GetCameraAddress() const { return cameraAddress_.load(); }

protected:
    // Drops what an earlier attempt left, reads the transport mode and
    // prepares camera, reception and session.
    bool Connect();
    // Looks the camera's address up for this attempt.
    bool ResolveCamera();
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
    // dropped data of the stream, and why the control side ended. Channel
    // thread only.
    void ReportStreamFailures();
    // Waits up to ms on the stop event; returns early with the cause when the
    // camera ended the session meanwhile. True when stopping.
    bool WaitPass(uint32_t ms, std::string& ended);
    // Why the camera ended the session, or empty: after a BYE it waits the
    // grace for media from that source first. Channel thread only.
    std::string TakeSessionEnd();

    // Written by the channel thread, read from any.
    std::atomic<uint16_t> rtpPort_{0};
    std::unique_ptr<CRTPReceiver> receiver_;
    CManualEvent dataEvent_;
    CManualEvent frameEvent_;
    // The camera's IPv4 address as the current attempt resolved it; 0 while
    // unresolved. Read by the receiving thread.
    std::atomic<uint32_t> cameraAddress_{0};
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
    // The camera's word that the session is over, from the RTSP and RTCP
    // threads; endEvent_ is set while one waits to be looked at.
    std::mutex endLock_;
    CManualEvent endEvent_;
    std::string endReason_;
    bool byePending_ = false;
    uint32_t byeSsrc_ = 0;
    uint64_t packetsAtBye_ = 0;
    // Packets fed and the source of the latest, for the BYE's grace.
    std::atomic<uint64_t> packets_{0};
    std::atomic<uint32_t> lastSsrc_{0};
    // Channel thread only.
    uint64_t attemptStart_ = 0;
    FailureReason attemptFailure_;
    std::set<std::string> reportedFailures_;
};

}  // namespace telvaro
