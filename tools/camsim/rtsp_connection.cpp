#include "camsim/rtsp_connection.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "camsim/rtsp_server.h"
#include "camsim/session_description.h"
#include "camsim/text_util.h"

namespace camsim {

namespace {

const size_t kMaxHead = 16384;
const size_t kMaxBody = 65536;

const char* Reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 413: return "Request Entity Too Large";
    case 454: return "Session Not Found";
    case 459: return "Aggregate Operation Not Allowed";
    case 461: return "Unsupported Transport";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 505: return "RTSP Version Not Supported";
    default: return "Error";
    }
}

std::vector<std::string> Split(const std::string& text, char delimiter) {
    std::vector<std::string> out;
    size_t pos = 0;
    for (;;) {
        size_t end = text.find(delimiter, pos);
        out.push_back(Trim(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos)));
        if (end == std::string::npos) return out;
        pos = end + 1;
    }
}

// The stream a URL names: rtsp://host:port/PSIA/Streaming/channels/<id>
// with an optional ?videoCodecType=<codec>, and whatever a client appends
// for the track ("/trackID=1"). Clients may change the case (a Content-Base
// read in lower case), so names compare in any case.
struct StreamTarget {
    bool valid = false;
    uint32_t channel = 0;
    bool hasCodec = false;
    Codec codec = Codec::H264;
};

StreamTarget ParseTarget(const std::string& url) {
    StreamTarget t;
    const std::string prefix = "/psia/streaming/channels/";
    std::string lower = ToLower(url);
    size_t p = lower.find(prefix);
    if (p == std::string::npos) return t;
    p += prefix.size();
    size_t q = p;
    while (q < lower.size() && lower[q] >= '0' && lower[q] <= '9') ++q;
    if (q == p || !ParseUint(lower.substr(p, q - p), t.channel)) return t;
    if (q < lower.size() && lower[q] != '?' && lower[q] != '/') return t;
    const std::string key = "videocodectype=";
    size_t k = lower.find(key, q);
    if (k != std::string::npos) {
        k += key.size();
        size_t end = url.find_first_of("&/;", k);
        if (!ParseCodecName(url.substr(k, end == std::string::npos ? std::string::npos : end - k), t.codec)) return t;
        t.hasCodec = true;
    }
    t.valid = true;
    return t;
}

struct TransportChoice {
    bool valid = false;
    bool interleaved = false;
    std::string profile;
    uint16_t clientRtp = 0;
    uint16_t clientRtcp = 0;
    uint8_t rtpChannel = 0;
    uint8_t rtcpChannel = 1;
};

bool ParsePair(const std::string& value, uint32_t limit, uint32_t& a, uint32_t& b) {
    std::vector<std::string> parts = Split(value, '-');
    if (parts.empty() || parts.size() > 2 || !ParseUint(parts[0], a) || a > limit) return false;
    if (parts.size() == 1) {
        b = a + 1;
    } else if (!ParseUint(parts[1], b)) {
        return false;
    }
    return b <= limit;
}

// The first acceptable alternative of a Transport header (RFC 2326 section
// 12.39). A unicast RTP/AVP request without client ports gets UDP with the
// server's ports and nowhere to send to, as GStreamer's server answers it.
TransportChoice ChooseTransport(const std::string& header) {
    for (const std::string& alternative : Split(header, ',')) {
        std::vector<std::string> params = Split(alternative, ';');
        TransportChoice c;
        c.profile = params[0];
        std::string profile = ToLower(c.profile);
        if (profile != "rtp/avp" && profile != "rtp/avp/udp" && profile != "rtp/avp/tcp") continue;
        bool multicast = false, channels = false, bad = false;
        for (size_t i = 1; i < params.size(); ++i) {
            std::string p = ToLower(params[i]);
            uint32_t a = 0, b = 0;
            if (p == "multicast") {
                multicast = true;
            } else if (p.compare(0, 12, "client_port=") == 0) {
                bad |= !ParsePair(p.substr(12), 0xFFFF, a, b) || a == 0;
                c.clientRtp = static_cast<uint16_t>(a);
                c.clientRtcp = static_cast<uint16_t>(b);
            } else if (p.compare(0, 12, "interleaved=") == 0) {
                bad |= !ParsePair(p.substr(12), 255, a, b);
                c.rtpChannel = static_cast<uint8_t>(a);
                c.rtcpChannel = static_cast<uint8_t>(b);
                channels = true;
            }
        }
        if (multicast || bad) continue;
        c.interleaved = profile == "rtp/avp/tcp" || channels;
        c.valid = true;
        return c;
    }
    return TransportChoice();
}

std::string SessionIdOf(const RtspRequest& request) {
    std::string value = request.Header("Session");
    return Trim(value.substr(0, value.find(';')));
}

std::string Hex8(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

}  // namespace

RtspConnection::RtspConnection(int fd, const sockaddr_in& peer, uint64_t id, CameraContext& context,
                               RtspServer& server, Authenticator& auth)
    : fd_(fd), peer_(peer), id_(id), context_(context), server_(server), auth_(auth),
      writer_(std::make_shared<SocketWriter>(fd)) {}

RtspConnection::~RtspConnection() {
    Close();
    Join();
}

void RtspConnection::Start() { thread_ = std::thread(&RtspConnection::Run, this); }

void RtspConnection::Close() { writer_->Shutdown(); }

void RtspConnection::Join() {
    if (thread_.joinable()) thread_.join();
}

void RtspConnection::Run() {
    std::string buffer;
    char chunk[8192];
    while (!writer_->IsShutDown()) {
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, 500);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) break;
        if (r == 0) continue;
        ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer.append(chunk, static_cast<size_t>(n));
        if (!Process(buffer)) break;
    }
    writer_->Shutdown();
    server_.RemoveSessionsOf(id_);
    finished_ = true;
}

bool RtspConnection::Process(std::string& buffer) {
    while (!buffer.empty()) {
        if (buffer[0] == '\r' || buffer[0] == '\n') {
            buffer.erase(0, 1);
            continue;
        }
        if (buffer[0] == '$') {
            if (buffer.size() < 4) return true;
            size_t length = static_cast<size_t>(static_cast<uint8_t>(buffer[2])) << 8 | static_cast<uint8_t>(buffer[3]);
            if (buffer.size() < 4 + length) return true;
            if (static_cast<uint8_t>(buffer[1]) % 2 == 1) ++context_.rtcpPacketsReceived;
            buffer.erase(0, 4 + length);
            continue;
        }
        size_t end = buffer.find("\r\n\r\n");
        size_t separator = 4;
        size_t bare = buffer.find("\n\n");
        if (bare != std::string::npos && (end == std::string::npos || bare < end)) {
            end = bare;
            separator = 2;
        }
        if (end == std::string::npos) return buffer.size() <= kMaxHead;
        if (end > kMaxHead) return false;
        std::string head = buffer.substr(0, end);
        RtspRequest request;
        bool parsed = request.ParseHead(head);
        uint32_t length = 0;
        std::string lengthText = request.Header("Content-Length");
        if (parsed && !lengthText.empty() && (!ParseUint(lengthText, length) || length > kMaxBody)) {
            Reply reply;
            reply.status = ParseUint(lengthText, length) ? 413 : 400;
            Send(request, reply, std::string());
            return false;
        }
        if (buffer.size() < end + separator + length) return true;
        std::string body = buffer.substr(end + separator, length);
        buffer.erase(0, end + separator + length);

        LoggedRequest entry;
        entry.protocol = LoggedRequest::Protocol::Rtsp;
        entry.method = request.Method();
        entry.target = request.Url();
        entry.headers = request.Headers();
        entry.body = body;
        entry.text = head + (separator == 4 ? "\r\n\r\n" : "\n\n") + body;
        context_.log.Add(std::move(entry));

        if (!parsed) {
            Reply reply;
            reply.status = 400;
            Send(request, reply, std::string());
            return false;
        }
        Handle(request);
        if (writer_->IsShutDown()) return false;
    }
    return true;
}

bool RtspConnection::CheckAuth(const RtspRequest& request, Reply& reply) {
    if (auth_.Check(request.Header("Authorization"), request.Method(), std::string())) return true;
    reply.status = 401;
    for (const std::string& challenge : auth_.Challenges()) reply.headers.emplace_back("WWW-Authenticate", challenge);
    return false;
}

void RtspConnection::Handle(const RtspRequest& request) {
    context_.DelayReply();
    Reply reply;
    std::string sessionId = SessionIdOf(request);
    std::shared_ptr<RtspSession> session;
    if (!sessionId.empty()) {
        session = server_.FindSession(sessionId);
        if (session) session->Touch();
    }
    const std::string& method = request.Method();
    if (request.Version() != "RTSP/1.0") {
        reply.status = 505;
    } else if (method == "OPTIONS") {
        Options(request, reply);
        if (!sessionId.empty() && !session) reply.status = 454;
    } else if (method == "DESCRIBE") {
        Describe(request, reply);
    } else if (method == "SETUP") {
        Setup(request, reply, sessionId);
    } else if (method == "PLAY") {
        Play(request, reply, sessionId);
        if (reply.status == 200) {
            Send(request, reply, sessionId);
            session->Play();
            return;
        }
    } else if (method == "PAUSE" || method == "TEARDOWN" || method == "GET_PARAMETER" ||
               method == "SET_PARAMETER") {
        bool needsSession = method == "PAUSE" || method == "TEARDOWN";
        if (!CheckAuth(request, reply)) {
        } else if ((needsSession || !sessionId.empty()) && !session) {
            reply.status = 454;
        } else if (method == "PAUSE") {
            session->Pause();
        } else if (method == "TEARDOWN") {
            server_.RemoveSession(sessionId);
            sessionId.clear();
        }
    } else {
        reply.status = 501;
    }
    if (!session && method != "SETUP") sessionId.clear();
    Send(request, reply, sessionId);
}

void RtspConnection::Send(const RtspRequest& request, Reply reply, const std::string& sessionId) {
    std::string text = "RTSP/1.0 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
    text += "CSeq: " + (request.HasHeader("CSeq") ? request.Header("CSeq") : std::string("0")) + "\r\n";
    text += "Server: camsim\r\n";
    if (!sessionId.empty() && reply.status != 401)
        text += "Session: " + sessionId + ";timeout=" + std::to_string(context_.config.sessionTimeoutSeconds) + "\r\n";
    for (const auto& h : reply.headers) text += h.first + ": " + h.second + "\r\n";
    if (!reply.body.empty()) text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    text += "\r\n" + reply.body;
    // One send: clients that read a reply up to its first short receive
    // must get it whole.
    writer_->Send(text.data(), text.size());
}

void RtspConnection::Options(const RtspRequest&, Reply& reply) {
    reply.headers.emplace_back("Public", "OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, GET_PARAMETER, SET_PARAMETER, TEARDOWN");
}

std::shared_ptr<const ServedClip> RtspConnection::StreamOf(const RtspRequest& request, ChannelConfig& channel) {
    StreamTarget target = ParseTarget(request.Url());
    if (!target.valid || !context_.channels.Get(target.channel, channel)) return nullptr;
    return context_.clips.Pick(target.hasCodec ? target.codec : channel.codec, channel.width, channel.height,
                               channel.clipFile);
}

void RtspConnection::Describe(const RtspRequest& request, Reply& reply) {
    if (!CheckAuth(request, reply)) return;
    ChannelConfig channel;
    auto clip = StreamOf(request, channel);
    if (!clip) {
        reply.status = 404;
        return;
    }
    std::string base = request.Url();
    if (base.empty() || base.back() != '/') base += '/';
    reply.headers.emplace_back("Content-Base", base);
    reply.headers.emplace_back("Content-Type", "application/sdp");
    reply.body = BuildSessionDescription(*clip, channel.parameterSetsInSdp, channel.maxFrameRate,
                                         context_.config.address, Random32() & 0x7FFFFFFF);
}

void RtspConnection::Setup(const RtspRequest& request, Reply& reply, std::string& sessionId) {
    std::string requested = sessionId;
    sessionId.clear();
    if (!CheckAuth(request, reply)) return;
    if (!requested.empty()) {
        // One medium per session: a second SETUP in it has nothing to add.
        reply.status = server_.FindSession(requested) ? 459 : 454;
        return;
    }
    ChannelConfig channel;
    auto clip = StreamOf(request, channel);
    TransportChoice transport = ChooseTransport(request.Header("Transport"));
    if (!clip) {
        reply.status = 404;
        return;
    }
    if (!transport.valid) {
        reply.status = 461;
        return;
    }
    StreamOptions options;
    options.mtu = context_.config.mtu;
    options.parameterSetsInBand = channel.parameterSetsInBand;
    options.jpegQ = channel.jpegQ;
    options.maxFrameRate = channel.maxFrameRate;
    options.paddedBitRateKbps = channel.paddedBitRateKbps;
    options.frameLimit = channel.frameLimit;
    std::string id = RandomHex(4);
    for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto session = std::make_shared<RtspSession>(id, channel.id, std::make_unique<RtpStream>(clip, options), context_);
    std::string ssrc = Hex8(session->Ssrc());
    if (transport.interleaved) {
        session->SetupInterleaved(writer_, transport.rtpChannel, transport.rtcpChannel);
        reply.headers.emplace_back("Transport", "RTP/AVP/TCP;unicast;interleaved=" +
                                                    std::to_string(transport.rtpChannel) + "-" +
                                                    std::to_string(transport.rtcpChannel) + ";ssrc=" + ssrc +
                                                    ";mode=\"PLAY\"");
    } else {
        sockaddr_in rtp = peer_, rtcp = peer_;
        rtp.sin_port = htons(transport.clientRtp);
        rtcp.sin_port = htons(transport.clientRtcp);
        uint16_t serverRtp = 0, serverRtcp = 0;
        if (!session->SetupUdp(rtp, rtcp, serverRtp, serverRtcp)) {
            reply.status = 500;
            return;
        }
        const std::string clientPorts = transport.clientRtp == 0 ? std::string()
                                                                 : ";client_port=" + std::to_string(transport.clientRtp) +
                                                                       "-" + std::to_string(transport.clientRtcp);
        reply.headers.emplace_back("Transport", transport.profile + ";unicast" + clientPorts + ";server_port=" +
                                                    std::to_string(serverRtp) + "-" + std::to_string(serverRtcp) +
                                                    ";ssrc=" + ssrc + ";mode=\"PLAY\"");
    }
    server_.AddSession(session, id_);
    sessionId = id;
}

void RtspConnection::Play(const RtspRequest& request, Reply& reply, const std::string& sessionId) {
    if (!CheckAuth(request, reply)) return;
    auto session = sessionId.empty() ? nullptr : server_.FindSession(sessionId);
    if (!session) {
        reply.status = 454;
        return;
    }
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    session->NextPosition(sequence, timestamp);
    std::string track = request.Url();
    if (ToLower(track).find("trackid=") == std::string::npos) {
        if (!track.empty() && track.back() == '/') track.pop_back();
        track += "/trackID=1";
    }
    reply.headers.emplace_back("Range", "npt=0.000-");
    reply.headers.emplace_back("RTP-Info", "url=" + track + ";seq=" + std::to_string(sequence) +
                                               ";rtptime=" + std::to_string(timestamp));
}

}  // namespace camsim
