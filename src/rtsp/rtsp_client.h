// One RTSP session (RFC 2326) with a camera, run on a thread of its own:
// DESCRIBE, SETUP and PLAY, keep-alive with GET_PARAMETER where the server
// offers it (else OPTIONS) until stopped or until the camera ends the
// session, then TEARDOWN, with Basic or Digest authentication. In the interleaved transport
// modes it also receives the RTP packets on the same connection, hands them
// to the user and keeps the session alive from inside that stream.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/failure_reason.h"
#include "core/transport_mode.h"
#include "platform/socket.h"
#include "rtp/rtp_receiver_user.h"
#include "rtsp/rtsp_params.h"
#include "rtsp/rtsp_response_parser.h"
#include "thread/base_thread.h"
#include "thread/event.h"

namespace telvaro {

class CBaseRTSPClient : public CBaseThread {
public:
    static constexpr uint32_t kConnectPollMs = 100;
    static constexpr uint32_t kKeepAliveCheckMs = 1000;
    // Interleaved media is read in pieces of this size: a frame of a stream
    // of several Mbit/s in one or two receives.
    static constexpr size_t kInterleavedBufferSize = 64 * 1024;
    // Header block and body of one reply together. A reply that would grow
    // beyond it fails its request at once, so a peer that never ends its
    // reply holds at most this much (and one receive more) of the client's
    // memory.
    static constexpr size_t kMaxReplySize = 64 * 1024;
    // Requests a set-up may need: DESCRIBE, SETUP and PLAY, each once more
    // after a 401.
    static constexpr uint32_t kSetupRequests = 6;

    CBaseRTSPClient();
    ~CBaseRTSPClient() override;

    // Copies the parameters, connects and starts the session thread; blocks
    // for at most the connect time-out. A client is opened once. A user name
    // or password with CR, LF or NUL is refused: it would break the headers.
    bool Open(const RtspParams& params, IRTPReceiverUser* user, TransportMode transportMode);
    // Ends the session (the thread sends TEARDOWN) and closes the socket;
    // returns within about 2500 ms even when the server stopped answering.
    // A thread that could not be ended (a user blocking in its callback)
    // leaves Abandoned() true: the socket stays open and the user stays set
    // for it, and the client must not be deleted while IsRunning() is true.
    // A later Close (the destructor's too) finishes once the thread is gone.
    void Close();

    void Run() override;
    // The complete request text of a method; each call takes the next CSeq.
    // Empty for an unknown method.
    virtual std::string BuildRequest(RtspMethod method);
    // Sends one request and reads and parses its reply; in the interleaved
    // modes a PLAY goes on receiving media until the stream ends or a stop.
    bool Request(RtspMethod method);
    // Request, and once more with the offered scheme after a 401 whose
    // scheme differs from the one in use.
    bool RequestWithRetry(RtspMethod method);
    // Receives interleaved media until the connection ends or stays silent
    // for the receive time-out (true) or the stop event is set (false).
    // Sends the keep-alive every half session time-out meanwhile; its reply
    // is read where it comes, inside the stream.
    virtual bool ReceiveInterleaved();
    // The keep-alive when half the session time-out has passed since the
    // last one.
    void KeepAlive();
    // GET_PARAMETER once a Public header listed it and the server has not
    // refused it; OPTIONS otherwise.
    RtspMethod KeepAliveMethod() const;
    // Why the session failed, for a log ("DESCRIBE rtsp://... answered
    // \"RTSP/1.0 404 Not Found\"", a refused transport, no connection);
    // empty while nothing failed. Any thread may ask.
    FailureReason LastFailure() const;
    // Set when the set-up has ended, either way: the camera answered PLAY
    // (Playing() is then true) or a step of it failed.
    CEvent& SetupEnded() { return setupEnded_; }
    // The camera answered PLAY with 200; in the interleaved modes also when
    // its media came before the reply.
    bool Playing() const { return playing_.load(); }
    // The longest a set-up can take while the camera answers every request
    // just within the receive time-out (the default one when none is set).
    uint32_t SetupBoundMs() const;

protected:
    bool ConnectSocket();
    // Builds and sends one request; its reply is left to the caller.
    bool SendRequest(RtspMethod method);
    // Half the session time-out (the announced one or the default).
    uint64_t KeepAliveIntervalMs() const;
    uint64_t KeepAliveWaitMs() const;
    std::string BaseUrl() const;
    // The selected media's control resolved against the base URL.
    std::string ControlUrl() const;
    bool HasContentBase() const;
    std::string TransportHeader() const;
    std::string AuthorizationHeader(const char* methodName, const std::string& uri) const;
    // The URL a request goes to: the control URL for SETUP, else the base.
    std::string RequestUrl(RtspMethod method) const;
    // Checks the Transport of the SETUP reply against what was asked and
    // takes the interleaved channels the server confirmed.
    bool AcceptTransport();
    // Keeps the first failure of the session.
    void NoteFailure(FailureKind kind, const std::string& text);
    // One reply: its header block up to the empty line and exactly
    // Content-Length body bytes; bytes after it stay buffered for the next
    // read. False when nothing arrived or the reply is too large
    // (tooLarge set). With mediaFirst given, a stream that begins with an
    // interleaved frame instead sets it and returns true with no reply.
    bool ReadReply(std::string& reply, bool& tooLarge, bool* mediaFirst = nullptr);
    void MarkPlaying();
    bool IsStopRequested() const;
    // Between keep-alives, watches the connection until the stop event, the
    // camera closing it or an answer that the session is gone.
    void WatchSession();
    // Acts on the parsed reply to a keep-alive: a session the camera no
    // longer knows ends here; true when the keep-alive should go again at
    // once (with the scheme a 401 asked for, or as OPTIONS after a refused
    // GET_PARAMETER).
    bool HandleKeepAliveReply(RtspMethod method);
    // Tells the user once that the camera ended the session.
    void EndSession(const std::string& reason);

    RtspParams params_;
    CRTSPResponseParser parser_;
    platform::SocketHandle rtspSocket_ = platform::kInvalidSocket;
    // Monotonic milliseconds of the last OPTIONS, 0 before the first: a step
    // of the wall clock must neither flood the camera nor let the session lapse.
    uint64_t lastKeepAlive_ = 0;
    TransportMode transportMode_ = kRtpOverUdp;
    IRTPReceiverUser* user_ = nullptr;
    // Received bytes not yet consumed by a reply.
    std::string pending_;
    // Interleaved channels of RTP and RTCP, as the server confirmed them.
    uint8_t rtpChannel_ = 0;
    uint8_t rtcpChannel_ = 1;
    // Digest state: the nonce last signed, its count and the client nonce.
    mutable std::string signedNonce_;
    mutable uint32_t nonceCount_ = 0;
    std::string cnonce_;
    mutable std::mutex failureLock_;
    FailureReason lastFailure_;
    bool getParameterRefused_ = false;
    bool sessionOver_ = false;
    // The PLAY reply is still to come, inside the interleaved stream.
    bool playReplyInStream_ = false;
    CManualEvent setupEnded_;
    std::atomic<bool> playing_{false};
};

}  // namespace telvaro
