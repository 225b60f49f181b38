#include "rtsp/rtsp_client.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "core/transport_mode.h"
#include "platform/clock.h"
#include "platform/name_lookup.h"
#include "platform/thread_cancel.h"
#include "util/base64.h"
#include "util/digest_auth.h"
#include "util/text.h"
#include "rtp/rtcp_bye.h"
#include "rtsp/rtsp_stream_parser.h"

namespace telvaro {

namespace {

const char kVersion[] = "RTSP/1.0\r\n";
const char kUserAgent[] = "User-Agent: Telvaro\r\n";
const char kAccept[] = "Accept: application/sdp\r\n";
const char kRange[] = "Range: npt=0.000-\r\n";
// RFC 2326 section 12.39: RTP interleaved in the RTSP connection on channels
// 0 (RTP) and 1 (RTCP).
const char kInterleavedTransport[] = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";

// A receive that tells the connection is over: an orderly close, a reset
// or a socket that no longer works, not a receive that only had to wait.
bool ConnectionEnded(int received, platform::SocketError error) {
    return received == 0 ||
           (received < 0 && error != platform::SocketError::TimedOut && error != platform::SocketError::WouldBlock);
}

// One row per method: its name and the header lines it carries beside CSeq,
// Authorization and User-Agent, which every request has. Lines go out in the
// order CSeq, Authorization, Transport, Session, Range, User-Agent, Accept.
struct RequestRow {
    RtspMethod method;
    const char* name;
    bool transport;
    bool session;
    bool range;
    bool accept;
};

const RequestRow kRequestRows[] = {
    {kRtspDescribe, "DESCRIBE", false, false, false, true},
    {kRtspSetup, "SETUP", true, false, false, false},
    {kRtspPlay, "PLAY", false, true, true, false},
    {kRtspTeardown, "TEARDOWN", false, true, false, false},
    {kRtspOptions, "OPTIONS", false, true, false, false},
    {kRtspPause, "PAUSE", false, true, true, false},
    {kRtspGetParameter, "GET_PARAMETER", false, true, false, false},
};

const RequestRow* FindRequestRow(RtspMethod method) {
    for (const RequestRow& row : kRequestRows) {
        if (row.method == method) return &row;
    }
    return nullptr;
}

const char* MethodName(RtspMethod method) {
    const RequestRow* row = FindRequestRow(method);
    return row ? row->name : nullptr;
}

}  // namespace

CBaseRTSPClient::CBaseRTSPClient() = default;

CBaseRTSPClient::~CBaseRTSPClient() { Close(); }

bool CBaseRTSPClient::Open(const RtspParams& params, IRTPReceiverUser* user, TransportMode transportMode) {
    if (IsRunning() || rtspSocket_ != platform::kInvalidSocket) return false;
    params_ = params;
    user_ = user;
    transportMode_ = transportMode;
    parser_.SetSelectedMedia(params_.mediaKind);
    pending_.clear();
    const bool knownMode =
        transportMode == kRtpOverUdp || transportMode == kRtpOverTcp || transportMode == kRtpOverRtsp;
    cnonce_ = MakeClientNonce();
    const std::string credentialFault = CredentialFault(params.userName, params.password);
    if (!knownMode) {
        NoteFailure(kFailureBadSetting, FormatText("transport mode %d is none of 0 (UDP), 1 (TCP) and 2 (RTSP)",
                                                   static_cast<int>(transportMode)));
    } else if (!credentialFault.empty()) {
        NoteFailure(kFailureBadSetting, credentialFault);
    } else if (!ConnectSocket()) {
        // ConnectSocket said why.
    } else if (Start()) {
        return true;
    }
    Close();
    return false;
}

void CBaseRTSPClient::Close() {
    stopEvent_.Set();
    // A receive in progress returns at once; the TEARDOWN can still be sent.
    platform::ShutdownReceive(rtspSocket_);
    Stop();
    // A thread that could not be ended may still use the socket, the user and
    // the rest; closing the socket would let its number go to another one.
    if (IsRunning()) return;
    platform::CloseSocket(rtspSocket_);
    rtspSocket_ = platform::kInvalidSocket;
    user_ = nullptr;
    lastKeepAlive_ = 0;
    pending_.clear();
}

bool CBaseRTSPClient::ConnectSocket() {
    const std::string where = FormatText("RTSP %s:%u", params_.host.c_str(), static_cast<unsigned>(params_.serverPort));
    platform::SocketHandle s = platform::OpenTcpSocket();
    rtspSocket_ = platform::kInvalidSocket;
    auto fail = [&](FailureKind kind, const char* why) {
        if (s != platform::kInvalidSocket) platform::CloseSocket(s);
        NoteFailure(kind, where + ": " + why);
        return false;
    };
    if (s == platform::kInvalidSocket) return fail(kFailureNoAnswer, "no socket for the connection");
    if (!platform::SetReceiveBufferSize(s, params_.receiveBufferSize) ||
        !platform::SetReceiveTimeout(s, params_.receiveTimeoutMs)) {
        return fail(kFailureNoAnswer, "the socket cannot be set up");
    }
    const uint32_t address =
        params_.hostAddress ? params_.hostAddress : platform::ResolveIpv4Within(params_.host, params_.connectTimeoutMs);
    if (address == 0) return fail(kFailureNotResolved, "the host name is not known");
    if (!platform::SetNonBlocking(s, true)) return fail(kFailureNoAnswer, "the socket cannot be set up");
    platform::Ipv4Endpoint remote;
    remote.address = address;
    remote.port = params_.serverPort;
    platform::SocketError error = platform::ConnectSocket(s, remote);
    if (error == platform::SocketError::WouldBlock) {
        // At least one poll: a time-out below one poll must not wait forever.
        // Each poll ends as soon as the connection is made or refused; a
        // refusal fails the connect at once instead of after the time-out.
        uint32_t polls = std::max<uint32_t>(1, params_.connectTimeoutMs / kConnectPollMs);
        int state = 0;
        while (state == 0 && polls > 0) {
            state = platform::WaitConnected(s, kConnectPollMs, &error);
            --polls;
        }
        if (state == 0) {
            const std::string why =
                FormatText("no connection within %u ms", static_cast<unsigned>(params_.connectTimeoutMs));
            return fail(kFailureNoAnswer, why.c_str());
        }
        if (state == 1) error = platform::SocketError::None;
    }
    if (error == platform::SocketError::ConnectionRefused) return fail(kFailureRefused, "the connection was refused");
    if (error != platform::SocketError::None && error != platform::SocketError::WouldBlock) {
        return fail(kFailureNoAnswer, "no connection (the network or the host cannot be reached)");
    }
    if (!platform::SetNonBlocking(s, false)) return fail(kFailureNoAnswer, "the socket cannot be set up");
    rtspSocket_ = s;
    return true;
}

bool CBaseRTSPClient::IsStopRequested() const { return stopEvent_.IsSet(); }

std::string CBaseRTSPClient::BaseUrl() const {
    if (HasContentBase()) return parser_.GetContentBase();
    std::string url = FormatText("rtsp://%s:%u/", params_.host.c_str(), static_cast<unsigned>(params_.serverPort));
    size_t first = params_.urlPath.find_first_not_of('/');
    if (first != std::string::npos) url += params_.urlPath.substr(first);
    return url;
}

std::string CBaseRTSPClient::ControlUrl() const {
    const std::string& control = parser_.GetMedia(params_.mediaKind).control;
    if (control.find("://") != std::string::npos) return control;
    std::string url = BaseUrl();
    if (control.empty()) return url;
    // Without a Content-Base the base is the request URL, whose query
    // belongs after the path the control extends (as GStreamer's client
    // joins them); a Content-Base is extended as it stands.
    std::string query;
    if (!HasContentBase()) {
        const size_t mark = url.find('?');
        if (mark != std::string::npos) {
            if (control.find('?') == std::string::npos) query = url.substr(mark);
            url.erase(mark);
        }
    }
    if (!url.empty() && url.back() == '/') url.pop_back();
    if (control[0] != '/') url += '/';
    return url + control + query;
}

bool CBaseRTSPClient::HasContentBase() const {
    return ToLower(parser_.GetContentBase()).find("rtsp://") != std::string::npos;
}

std::string CBaseRTSPClient::TransportHeader() const {
    // Both interleaved modes say so: a Transport without interleaved= or
    // client_port= gets UDP from some servers and 461 from others.
    if (transportMode_ != kRtpOverUdp) return kInterleavedTransport;
    std::string profile = parser_.GetMedia(params_.mediaKind).profile;
    if (profile.empty()) profile = "RTP/AVP/UDP";
    return FormatText("Transport: %s;unicast;client_port=%u-%u\r\n", profile.c_str(),
                      static_cast<unsigned>(params_.clientRtpPort), static_cast<unsigned>(params_.clientRtcpPort));
}

bool CBaseRTSPClient::AcceptTransport() {
    // A server that names no transport is taken to deliver as asked.
    const std::string reply = ToLower(parser_.GetTransport());
    if (reply.empty()) return true;
    const std::string params = ";" + reply + ";";
    auto value = [&params](const char* name) {
        return FindHeaderParam(name, "=", params, ";");
    };
    auto refuse = [this, &reply](const char* why) {
        NoteFailure(kFailureRefused,
                    FormatText("SETUP %s: %s (Transport: %s)", ControlUrl().c_str(), why, reply.c_str()));
        return false;
    };
    if (params.find(";multicast;") != std::string::npos) return refuse("the server answered multicast, not unicast");
    const std::string interleaved = value("interleaved");
    if (transportMode_ == kRtpOverUdp) {
        if (!interleaved.empty() || reply.find("/tcp") != std::string::npos) {
            return refuse("the server answered interleaved TCP, not UDP");
        }
        const std::string client = value("client_port");
        if (client.empty() && value("server_port").empty()) return refuse("the server answered no ports");
        int32_t port = 0;
        if (!client.empty() &&
            (!ParseDecimal(TrimBlanks(SplitText(client, '-')[0]), port) || port != params_.clientRtpPort)) {
            return refuse("the server answered other client ports");
        }
        return true;
    }
    if (interleaved.empty()) return refuse("the server answered UDP, not interleaved delivery");
    const std::vector<std::string> channels = SplitText(interleaved, '-');
    int32_t rtp = 0;
    int32_t rtcp = 0;
    if (!ParseDecimal(TrimBlanks(channels[0]), rtp) || rtp < 0 || rtp > 255) {
        return refuse("the server answered an unusable interleaved channel");
    }
    if (channels.size() < 2 || !ParseDecimal(TrimBlanks(channels[1]), rtcp) || rtcp < 0 || rtcp > 255) rtcp = rtp + 1;
    rtpChannel_ = static_cast<uint8_t>(rtp);
    rtcpChannel_ = static_cast<uint8_t>(rtcp & 0xFF);
    return true;
}

std::string CBaseRTSPClient::AuthorizationHeader(const char* methodName, const std::string& uri) const {
    if (params_.currentScheme == kRtspAuthBasic) {
        std::string credential;
        if (!MakeBasicCredential(params_.userName, params_.password, credential)) return std::string();
        return FormatText("Authorization: Basic %s\r\n", credential.c_str());
    }
    if (params_.currentScheme != kRtspAuthDigest) return std::string();
    const std::string& realm = parser_.GetRealm();
    const std::string& nonce = parser_.GetNonce();
    // The reply parser cuts realm and nonce at CR and LF already; a NUL
    // would still leave the header with less than went into the digest.
    if (parser_.GetChallengeScheme() != kRtspAuthDigest || realm.empty() || nonce.empty() ||
        params_.userName.empty() || params_.password.empty() || uri.empty() || !FitsInHeader(realm) ||
        !FitsInHeader(nonce) || !FitsInHeader(uri)) {
        return std::string();
    }
    // RFC 2617 section 3.2.2; the uri is the request's own URL. With qop
    // "auth" offered, the answer carries it with a nonce count and a client
    // nonce (RFC 7616 section 3.4); without, the RFC 2069 form.
    if (nonce != signedNonce_) {
        signedNonce_ = nonce;
        nonceCount_ = 0;
    }
    DigestChallenge challenge;
    challenge.realm = realm;
    challenge.nonce = nonce;
    challenge.qopAuth = parser_.GetQopAuth();
    if (FitsInHeader(parser_.GetOpaque())) challenge.opaque = parser_.GetOpaque();
    if (challenge.qopAuth) ++nonceCount_;
    return "Authorization: " +
           DigestCredentials(params_.userName, params_.password, methodName, uri, challenge, nonceCount_, cnonce_) +
           "\r\n";
}

std::string CBaseRTSPClient::BuildRequest(RtspMethod method) {
    const RequestRow* row = FindRequestRow(method);
    if (!row) return std::string();
    const std::string url = RequestUrl(method);
    std::string text = FormatText("%s %s %s", row->name, url.c_str(), kVersion);
    text += FormatText("CSeq: %u\r\n", parser_.NextCSeq());
    text += AuthorizationHeader(row->name, url);
    if (row->transport) text += TransportHeader();
    const std::string& session = parser_.GetSession();
    if (row->session && !session.empty()) text += FormatText("Session: %s\r\n", session.c_str());
    if (row->range) text += kRange;
    text += kUserAgent;
    if (row->accept) text += kAccept;
    return text + "\r\n";
}

bool CBaseRTSPClient::SendRequest(RtspMethod method) {
    if (rtspSocket_ == platform::kInvalidSocket) return false;
    const std::string text = BuildRequest(method);
    if (text.empty()) return false;
    return platform::SendBytes(rtspSocket_, text.data(), text.size()) == static_cast<int>(text.size());
}

bool CBaseRTSPClient::Request(RtspMethod method) {
    if (!SendRequest(method)) {
        NoteFailure(kFailureNoAnswer, FormatText("%s %s: the request could not be sent", MethodName(method),
                                                 RequestUrl(method).c_str()));
        return false;
    }
    // In the interleaved modes the media follows the PLAY reply on the same
    // connection; a camera that sends media first plays, and its reply is
    // passed over inside the stream.
    const bool interleavedPlay = method == kRtspPlay && transportMode_ != kRtpOverUdp;
    std::string reply;
    bool tooLarge = false;
    bool mediaFirst = false;
    if (!ReadReply(reply, tooLarge, interleavedPlay ? &mediaFirst : nullptr)) {
        const std::string url = RequestUrl(method);
        if (tooLarge) {
            NoteFailure(kFailureTooLarge, FormatText("%s %s: a reply longer than %u bytes", MethodName(method),
                                                     url.c_str(), static_cast<unsigned>(kMaxReplySize)));
        } else {
            NoteFailure(kFailureNoAnswer, FormatText("%s %s: no reply", MethodName(method), url.c_str()));
        }
        return false;
    }
    if (mediaFirst) {
        MarkPlaying();
        playReplyInStream_ = true;
        return ReceiveInterleaved();
    }
    if (parser_.Parse(reply, method)) {
        if (method != kRtspPlay || parser_.GetStatusCode() != 200) return true;
        MarkPlaying();
        return interleavedPlay ? ReceiveInterleaved() : true;
    }
    const bool unreadable = parser_.GetStatusCode() == 200 || parser_.GetStatusCode() == 401;
    // A refused SETUP (461 Unsupported Transport, say) is about the
    // configured mode: the reason names it.
    const std::string mode = method == kRtspSetup && !unreadable
                                 ? FormatText(" (transport asked for: %s)", TransportModeName(transportMode_))
                                 : std::string();
    NoteFailure(unreadable ? kFailureMalformed : kFailureRefused,
                FormatText("%s %s answered \"%s\"%s%s", MethodName(method), RequestUrl(method).c_str(),
                           parser_.GetStatusLine().c_str(), unreadable ? " with a reply that could not be read" : "",
                           mode.c_str()));
    return false;
}

bool CBaseRTSPClient::RequestWithRetry(RtspMethod method) {
    if (!Request(method)) return false;
    if (parser_.GetStatusCode() != 401) return true;
    // One more try when the challenge asks for another scheme, or for
    // Digest with a fresh nonce (a stale one, RFC 2617 section 3.2.1).
    const int32_t offered = parser_.GetChallengeScheme();
    const bool freshNonce = offered == kRtspAuthDigest && parser_.GetNonce() != signedNonce_;
    if (offered != kRtspAuthNone && (offered != params_.currentScheme || freshNonce)) {
        params_.currentScheme = offered;
        if (!Request(method)) return false;
        if (parser_.GetStatusCode() != 401) return true;
    }
    // Credentials that do not work end the attempt; going on would only
    // wait for media that cannot come.
    NoteFailure(kFailureRefused, FormatText("%s %s answered \"%s\"", MethodName(method), RequestUrl(method).c_str(),
                                            parser_.GetStatusLine().c_str()));
    return false;
}

std::string CBaseRTSPClient::RequestUrl(RtspMethod method) const {
    return method == kRtspSetup ? ControlUrl() : BaseUrl();
}

void CBaseRTSPClient::NoteFailure(FailureKind kind, const std::string& text) {
    std::lock_guard<std::mutex> guard(failureLock_);
    if (lastFailure_.Empty()) lastFailure_ = {kind, text};
}

FailureReason CBaseRTSPClient::LastFailure() const {
    std::lock_guard<std::mutex> guard(failureLock_);
    return lastFailure_;
}

void CBaseRTSPClient::MarkPlaying() {
    playing_ = true;
    setupEnded_.Set();
}

uint32_t CBaseRTSPClient::SetupBoundMs() const {
    const uint64_t perReply = params_.receiveTimeoutMs != 0 ? params_.receiveTimeoutMs : RtspParams().receiveTimeoutMs;
    return static_cast<uint32_t>(std::min<uint64_t>(kSetupRequests * perReply, kWaitForever - 1));
}

bool CBaseRTSPClient::ReadReply(std::string& reply, bool& tooLarge, bool* mediaFirst) {
    reply.clear();
    tooLarge = false;
    const uint32_t timeoutMs = params_.receiveTimeoutMs;
    const uint64_t start = platform::MonotonicMilliseconds();
    char buffer[4096];
    for (;;) {
        // Empty lines between replies are not a reply.
        size_t lead = pending_.find_first_not_of("\r\n");
        pending_.erase(0, lead == std::string::npos ? pending_.size() : lead);
        if (mediaFirst && !pending_.empty() && pending_[0] == '$') {
            *mediaFirst = true;
            return true;
        }
        size_t length = 0;
        switch (CRTSPResponseParser::FindReplyExtent(pending_, kMaxReplySize, length)) {
            case CRTSPResponseParser::ReplyExtent::Complete:
                reply = pending_.substr(0, length);
                pending_.erase(0, length);
                return true;
            case CRTSPResponseParser::ReplyExtent::TooLarge:
                pending_.clear();
                tooLarge = true;
                return false;
            case CRTSPResponseParser::ReplyExtent::Incomplete:
                break;
        }
        platform::SocketError error = platform::SocketError::None;
        if (timeoutMs != 0) {
            // The whole reply, not each piece of it, is bounded by the
            // receive time-out.
            const uint64_t elapsed = platform::MonotonicMilliseconds() - start;
            if (elapsed >= timeoutMs) break;
            if (platform::WaitReadable(rtspSocket_, static_cast<uint32_t>(timeoutMs - elapsed), &error) != 1) break;
        }
        const int n = platform::ReceiveBytes(rtspSocket_, buffer, sizeof(buffer), &error);
        if (n <= 0) break;
        pending_.append(buffer, static_cast<size_t>(n));
    }
    // Cut short by a close or the time-out: the parser judges what came.
    reply.swap(pending_);
    pending_.clear();
    return !reply.empty();
}

bool CBaseRTSPClient::ReceiveInterleaved() {
    CRTSPStreamParser stream(user_, rtpChannel_, rtcpChannel_);
    // Requests whose replies are still to come in the stream, oldest first.
    std::deque<RtspMethod> unanswered;
    if (playReplyInStream_) unanswered.push_back(kRtspPlay);
    // Keep-alives sent again at once after the last periodic one: a server
    // that answers each with a new challenge is not flooded.
    uint32_t resent = 0;
    auto sendKeepAlive = [this, &unanswered] {
        const RtspMethod method = KeepAliveMethod();
        if (SendRequest(method)) unanswered.push_back(method);
    };
    stream.SetReplyHandler([this, &unanswered, &resent, &sendKeepAlive](const std::string& reply) {
        // A reply nothing asked for tells nothing.
        if (unanswered.empty()) return;
        const RtspMethod method = unanswered.front();
        unanswered.pop_front();
        parser_.Parse(reply, method);
        if (method != kRtspPlay && HandleKeepAliveReply(method) && resent < 2) {
            ++resent;
            sendKeepAlive();
        }
    });
    stream.SetRtcpHandler([this](const uint8_t* data, size_t length) {
        if (!user_) return;
        for (uint32_t ssrc : RtcpByeSources(data, length)) user_->OnPeerBye(ssrc);
    });
    std::vector<uint8_t> buffer(kInterleavedBufferSize);
    // The PLAY has just renewed the session.
    lastKeepAlive_ = platform::MonotonicMilliseconds();
    // Media may have come in the same segment as the last reply.
    if (!pending_.empty()) {
        if (IsStopRequested()) return false;
        stream.Feed(reinterpret_cast<const uint8_t*>(pending_.data()), pending_.size());
        pending_.clear();
    }
    const uint32_t silenceLimitMs = params_.receiveTimeoutMs;
    uint64_t lastData = platform::MonotonicMilliseconds();
    for (;;) {
        if (IsStopRequested()) return false;
        if (sessionOver_) return true;
        // Cameras that enforce their session time-out count RTSP requests,
        // not the media they send. At most two a second, whatever time-out
        // was set.
        const uint64_t interval = std::max<uint64_t>(KeepAliveIntervalMs(), kKeepAliveCheckMs / 2);
        uint64_t sinceKeepAlive = platform::MonotonicMilliseconds() - lastKeepAlive_;
        if (sinceKeepAlive > interval) {
            resent = 0;
            sendKeepAlive();
            lastKeepAlive_ = platform::MonotonicMilliseconds();
            sinceKeepAlive = 0;
        }
        // A quiet stream still gets its keep-alive in time.
        uint64_t waitMs = std::min<uint64_t>(interval - sinceKeepAlive + 1, kKeepAliveCheckMs);
        if (silenceLimitMs != 0) {
            const uint64_t silentMs = platform::MonotonicMilliseconds() - lastData;
            if (silentMs >= silenceLimitMs) return true;
            waitMs = std::min<uint64_t>(waitMs, silenceLimitMs - silentMs);
        }
        platform::SocketError error = platform::SocketError::None;
        const int ready = platform::WaitReadable(rtspSocket_, static_cast<uint32_t>(waitMs), &error);
        if (ready == 0) continue;
        const int n = ready < 0 ? -1 : platform::ReceiveBytes(rtspSocket_, buffer.data(), buffer.size(), &error);
        if (IsStopRequested()) return false;
        if (n <= 0) {
            if (ConnectionEnded(n, error)) EndSession("the camera closed the RTSP connection");
            return true;
        }
        stream.Feed(buffer.data(), static_cast<size_t>(n));
        lastData = platform::MonotonicMilliseconds();
    }
}

uint64_t CBaseRTSPClient::KeepAliveIntervalMs() const {
    const uint64_t timeout =
        parser_.GetSessionTimeout() != 0 ? parser_.GetSessionTimeout() : params_.defaultSessionTimeout;
    return timeout * 1000 / 2;
}

// Until the next keep-alive is due, and no longer than a check period (the
// first check comes one period after PLAY): a server that counts its
// time-out from the last request it counts gets one every half time-out
// also when that is not a whole number of check periods.
uint64_t CBaseRTSPClient::KeepAliveWaitMs() const {
    if (lastKeepAlive_ == 0) return kKeepAliveCheckMs;
    const uint64_t since = platform::MonotonicMilliseconds() - lastKeepAlive_;
    const uint64_t interval = KeepAliveIntervalMs();
    return since > interval ? 0 : std::min<uint64_t>(interval - since + 1, kKeepAliveCheckMs);
}

RtspMethod CBaseRTSPClient::KeepAliveMethod() const {
    return parser_.OffersMethod("GET_PARAMETER") && !getParameterRefused_ ? kRtspGetParameter : kRtspOptions;
}

bool CBaseRTSPClient::HandleKeepAliveReply(RtspMethod method) {
    const uint32_t status = parser_.GetStatusCode();
    if (status == 200) return false;
    // RFC 2326 section 11.3.7: 454 Session Not Found; 404 from servers that
    // dropped the stream with the session.
    if (status == 454 || status == 404) {
        EndSession(FormatText("%s %s answered \"%s\"", MethodName(method), RequestUrl(method).c_str(),
                              parser_.GetStatusLine().c_str()));
        return false;
    }
    if (status == 401) {
        const int32_t offered = parser_.GetChallengeScheme();
        const bool freshNonce = offered == kRtspAuthDigest && parser_.GetNonce() != signedNonce_;
        if (offered == kRtspAuthNone || (offered == params_.currentScheme && !freshNonce)) return false;
        params_.currentScheme = offered;
        return true;
    }
    if (method != kRtspGetParameter) return false;
    getParameterRefused_ = true;
    return true;
}

void CBaseRTSPClient::EndSession(const std::string& reason) {
    if (sessionOver_) return;
    sessionOver_ = true;
    if (user_) user_->OnSessionEnded(reason);
}

void CBaseRTSPClient::KeepAlive() {
    if (lastKeepAlive_ != 0 && platform::MonotonicMilliseconds() - lastKeepAlive_ <= KeepAliveIntervalMs()) return;
    // A reply that does not come is ignored: the next keep-alive goes on time.
    for (int tries = 0; tries < 3 && !sessionOver_ && !IsStopRequested(); ++tries) {
        const RtspMethod method = KeepAliveMethod();
        std::string reply;
        bool tooLarge = false;
        if (!SendRequest(method) || !ReadReply(reply, tooLarge)) break;
        parser_.Parse(reply, method);
        // A server whose Public header lists GET_PARAMETER may count only
        // that (VLC's does): the OPTIONS that learnt it is followed by one.
        const bool learnt = method == kRtspOptions && KeepAliveMethod() == kRtspGetParameter;
        if (!HandleKeepAliveReply(method) && !learnt) break;
    }
    lastKeepAlive_ = platform::MonotonicMilliseconds();
}

void CBaseRTSPClient::WatchSession() {
    char buffer[4096];
    while (!sessionOver_) {
        platform::SocketError error = platform::SocketError::None;
        const int ready = platform::WaitReadable(rtspSocket_, KeepAliveWaitMs(), &error);
        if (IsStopRequested()) return;
        if (ready != 0) {
            // Nothing is asked now: what comes unasked (a reply given up on,
            // a request of the server's) is passed over.
            const int n = ready < 0 ? -1 : platform::ReceiveBytes(rtspSocket_, buffer, sizeof(buffer), &error);
            if (IsStopRequested()) return;
            if (ConnectionEnded(n, error)) {
                EndSession("the camera closed the RTSP connection");
                return;
            }
        }
        KeepAlive();
    }
}

void CBaseRTSPClient::Run() {
    try {
        if (RequestWithRetry(kRtspDescribe) && !IsStopRequested()) {
            if (user_) user_->SetMediaConfig(parser_.GetMediaConfig());
            if (RequestWithRetry(kRtspSetup) && AcceptTransport() && !IsStopRequested() &&
                RequestWithRetry(kRtspPlay) && !IsStopRequested()) {
                WatchSession();
            }
        }
        // A set-up that failed ends the channel's wait for it too.
        setupEnded_.Set();
        RequestWithRetry(kRtspTeardown);
    } catch (...) {
        setupEnded_.Set();
        platform::SwallowUnlessCancelled();
    }
}

}  // namespace telvaro
