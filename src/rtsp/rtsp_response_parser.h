// Reads the RTSP replies (RFC 2326) of one client and keeps what they taught
// it for the client's whole life: status, CSeq, Content-Base, session and its
// time-out, the authentication challenge, and from the DESCRIBE reply's
// session description (RFC 4566) each media's control URL and transport
// profile and the decoder configuration of the media being set up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/media_config.h"
#include "psia/http_challenge.h"
#include "rtsp/rtsp_params.h"

namespace telvaro {

struct RTSPMediaDescription {
    std::string control;  // value of the media's "a=control" line
    std::string profile;  // transport profile of its "m=" line, e.g. "RTP/AVP"
};

class CRTSPResponseParser {
public:
    // Parameter sets longer than this are not stored.
    static constexpr size_t kMaxParameterSetSize = 256;

    // How much of a receive buffer the first reply takes.
    enum class ReplyExtent { Complete, Incomplete, TooLarge };

    CRTSPResponseParser();
    virtual ~CRTSPResponseParser();

    // The first reply in text runs to the empty line that ends its header
    // block, followed by as many body bytes as its Content-Length header
    // announces. Complete sets length; TooLarge when the reply would exceed
    // maxSize.
    static ReplyExtent FindReplyExtent(const std::string& text, size_t maxSize, size_t& length);

    // Reads one reply to the request method (kRtspDescribe ... kRtspGetParameter);
    // only a DESCRIBE reply's body is read as a session description. Fails
    // for a status other than 200 and 401 and for malformed lines that
    // matter. Fields the reply does not mention keep their values.
    bool Parse(const std::string& reply, RtspMethod method);

    // Format parameters are taken only from the sections of this media kind
    // (video unless set).
    void SetSelectedMedia(int32_t kind) { selectedMedia_ = kind; }

    // The request counter: a reply's CSeq is the base of the next request's.
    uint32_t NextCSeq() { return ++cseq_; }

    const std::string& GetProtocolVersion() const { return protocolVersion_; }
    uint32_t GetStatusCode() const { return statusCode_; }
    uint32_t GetCSeq() const { return cseq_; }
    // As received, letter case kept.
    const std::string& GetContentBase() const { return contentBase_; }
    const std::string& GetContentType() const { return contentType_; }
    const std::string& GetSession() const { return session_; }
    // Seconds; 0 while the server announced none.
    uint32_t GetSessionTimeout() const { return sessionTimeout_; }
    // Kinds 1 (video) to 3 (metadata); an empty record for any other kind.
    const RTSPMediaDescription& GetMedia(int32_t kind) const;
    int32_t GetChallengeScheme() const { return challengeScheme_; }
    const std::string& GetRealm() const { return realm_; }
    const std::string& GetNonce() const { return nonce_; }
    const std::string& GetOpaque() const { return opaque_; }
    // The Digest challenge offered qop "auth" (RFC 2617 section 3.2.1).
    bool GetQopAuth() const { return qopAuth_; }
    // The status line of the last reply, as received.
    const std::string& GetStatusLine() const { return statusLine_; }
    // Whether the last Public header (RFC 2326 section 12.28) listed the
    // method, in any letter case.
    bool OffersMethod(const std::string& name) const;
    // The Transport header of the last reply; empty when it had none.
    const std::string& GetTransport() const { return transport_; }
    // Stays owned by the parser and unchanged after the DESCRIBE reply.
    const MediaConfig& GetMediaConfig() const { return mediaConfig_; }

private:
    bool HandleHeader(const std::string& line);
    // Each reads the value of its header, the text after the colon.
    bool ReadCSeq(const std::string& value);
    bool ReadContentBase(const std::string& value);
    bool ReadContentType(const std::string& value);
    bool ReadContentLength(const std::string& value);
    bool ReadSession(const std::string& value);
    bool ReadChallenge(const std::string& value);
    bool TakeChallenge(const Web::HttpChallenge& challenge);
    bool ParseSessionDescription(const std::string& body);
    bool ReadMediaLine(const std::string& line, int32_t& section, int32_t& controlKind);
    bool ReadControlLine(const std::string& line, int32_t& controlKind);
    bool ReadFormatLine(const std::string& line);

    std::string protocolVersion_;
    uint32_t statusCode_ = 0;
    uint32_t cseq_ = 0;
    std::string contentBase_;
    std::string contentType_;
    uint32_t contentLength_ = 0;
    std::string session_;
    uint32_t sessionTimeout_ = 0;
    RTSPMediaDescription media_[3];  // video, audio, metadata
    int32_t challengeScheme_ = kRtspAuthNone;
    std::string realm_;
    std::string nonce_;
    std::string opaque_;
    bool qopAuth_ = false;
    // A Digest or a Basic challenge was read from the reply being parsed.
    bool digestOffered_ = false;
    bool basicOffered_ = false;
    std::string statusLine_;
    std::string transport_;
    std::string public_;
    MediaConfig mediaConfig_;
    int32_t selectedMedia_ = kRtspMediaVideo;
};

}  // namespace telvaro
