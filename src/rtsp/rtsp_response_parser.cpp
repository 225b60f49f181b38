#include "rtsp/rtsp_response_parser.h"

#include "util/base64.h"
#include "util/text.h"

namespace telvaro {

namespace {

constexpr size_t kEndMarker = std::string::npos;
// Longest token a "%s" item reads from a status, Content-Type or control
// line.
constexpr size_t kMaxToken = 254;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// The line at pos; pos moves to the next line. A line ends at CR LF, or at
// a CR or LF of its own (RFC 2326 section 4 asks receivers to take either).
// Without a terminator the rest of the text is the line, pos becomes the end
// marker and false is returned.
bool ReadLine(const std::string& text, size_t& pos, std::string& line) {
    if (pos >= text.size()) {
        line.clear();
        pos = kEndMarker;
        return false;
    }
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
        line = text.substr(pos);
        pos = kEndMarker;
        return false;
    }
    line = text.substr(pos, end - pos);
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    return true;
}

void SkipSpaces(const std::string& text, size_t& i) {
    while (i < text.size() && IsSpace(text[i])) ++i;
}

// A "%s" item: blanks skipped, then at most maxLength non-blank characters.
bool ScanToken(const std::string& text, size_t& i, size_t maxLength, std::string& token) {
    SkipSpaces(text, i);
    size_t start = i;
    while (i < text.size() && !IsSpace(text[i]) && i - start < maxLength) ++i;
    token = text.substr(start, i - start);
    return !token.empty();
}

// A "%u" item: blanks skipped, an optional "+", decimal digits. Values beyond
// 32 bits are refused.
bool ScanUnsigned(const std::string& text, size_t& i, uint32_t& value) {
    SkipSpaces(text, i);
    if (i < text.size() && text[i] == '+') ++i;
    size_t start = i;
    uint64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull) return false;
        ++i;
    }
    if (i == start) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// The value of a header line whose field name is name (lower case), or
// false for a line of another field.
bool FieldValue(const std::string& line, const char* name, std::string& value) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || ToLower(TrimBlanks(line.substr(0, colon))) != name) return false;
    value = line.substr(colon + 1);
    return true;
}

// The decimal number a value begins with; 0 when it begins otherwise.
uint32_t LeadingNumber(const std::string& text) {
    size_t i = 0;
    SkipSpaces(text, i);
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(v);
}

// Stores the decoded set unless it is longer than the limit.
void StoreParameterSet(const std::string& text, std::vector<uint8_t>& target) {
    std::vector<uint8_t> decoded = Base64Decode(text);
    if (decoded.size() <= CRTSPResponseParser::kMaxParameterSetSize) target = std::move(decoded);
}

const RTSPMediaDescription kNoMedia;

}  // namespace

CRTSPResponseParser::CRTSPResponseParser() = default;

CRTSPResponseParser::~CRTSPResponseParser() = default;

CRTSPResponseParser::ReplyExtent CRTSPResponseParser::FindReplyExtent(const std::string& text, size_t maxSize,
                                                                     size_t& length) {
    size_t pos = 0;
    uint32_t bodyLength = 0;
    std::string line;
    for (;;) {
        // A CR at the end may still be followed by its LF.
        if (!ReadLine(text, pos, line) || (pos == text.size() && text.back() == '\r')) {
            return text.size() > maxSize ? ReplyExtent::TooLarge : ReplyExtent::Incomplete;
        }
        if (line.empty()) break;
        std::string value;
        size_t i = 0;
        uint32_t number = 0;
        if (FieldValue(line, "content-length", value) && ScanUnsigned(value, i, number)) bodyLength = number;
    }
    if (pos > maxSize || bodyLength > maxSize - pos) return ReplyExtent::TooLarge;
    if (text.size() - pos < bodyLength) return ReplyExtent::Incomplete;
    length = pos + bodyLength;
    return ReplyExtent::Complete;
}

const RTSPMediaDescription& CRTSPResponseParser::GetMedia(int32_t kind) const {
    if (kind < kRtspMediaVideo || kind > kRtspMediaMetadata) return kNoMedia;
    return media_[kind - 1];
}

bool CRTSPResponseParser::Parse(const std::string& reply, RtspMethod method) {
    size_t pos = 0;
    std::string line;
    if (!ReadLine(reply, pos, line) || line.empty()) return false;
    size_t i = 0;
    std::string version;
    uint32_t status = 0;
    if (!ScanToken(line, i, kMaxToken, version) || !ScanUnsigned(line, i, status)) return false;
    protocolVersion_ = version;
    statusCode_ = status;
    statusLine_ = line;
    transport_.clear();
    digestOffered_ = false;
    basicOffered_ = false;
    contentLength_ = 0;
    if (status != 200 && status != 401) return false;

    for (;;) {
        // An unterminated last line is not a header; it ends the block.
        if (!ReadLine(reply, pos, line)) break;
        if (line.empty()) break;
        if (!HandleHeader(line)) return false;
    }
    if (contentLength_ != 0 && pos == kEndMarker) return false;
    // A body cut short by a close or a time-out is not the camera's session
    // description: its last lines (the control URL, the parameter sets)
    // would be missing or cut.
    if (contentLength_ > reply.size() - pos) return false;
    std::string body;
    if (contentLength_ != 0) body = reply.substr(pos, contentLength_);
    if (method == kRtspDescribe) return ParseSessionDescription(body);
    return true;
}

bool CRTSPResponseParser::HandleHeader(const std::string& line) {
    // A header line is known by its field name, the text before the first
    // colon: a value may name another header ("Digest realm=\"... Server\"").
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return true;
    const std::string name = ToLower(TrimBlanks(line.substr(0, colon)));
    const std::string value = line.substr(colon + 1);
    if (name == "cseq") return ReadCSeq(value);
    if (name == "content-base") return ReadContentBase(value);
    if (name == "content-type") return ReadContentType(value);
    if (name == "content-length") return ReadContentLength(value);
    if (name == "transport") {
        transport_ = TrimBlanks(value);
        return true;
    }
    if (name == "session") return ReadSession(value);
    if (name == "public") {
        public_ = value;
        return true;
    }
    if (name == "www-authenticate") return ReadChallenge(value);
    return true;
}

bool CRTSPResponseParser::OffersMethod(const std::string& name) const {
    const std::string wanted = ToLower(name);
    for (const std::string& method : SplitText(public_, ',')) {
        if (ToLower(TrimBlanks(method)) == wanted) return true;
    }
    return false;
}

bool CRTSPResponseParser::ReadCSeq(const std::string& value) {
    size_t i = 0;
    return ScanUnsigned(value, i, cseq_);
}

bool CRTSPResponseParser::ReadContentBase(const std::string& value) {
    // The URL is kept as received, since servers may tell paths apart by
    // case.
    size_t url = ToLower(value).find("rtsp://");
    if (url != std::string::npos) contentBase_ = TrimBlanks(value.substr(url));
    return true;
}

bool CRTSPResponseParser::ReadContentType(const std::string& value) {
    size_t i = 0;
    std::string token;
    if (!ScanToken(ToLower(value), i, kMaxToken, token)) return false;
    contentType_ = token;
    return true;
}

bool CRTSPResponseParser::ReadContentLength(const std::string& value) {
    size_t i = 0;
    return ScanUnsigned(value, i, contentLength_);
}

bool CRTSPResponseParser::ReadSession(const std::string& value) {
    const size_t semicolon = value.find(';');
    session_ = TrimBlanks(value.substr(0, semicolon));
    if (semicolon != std::string::npos) {
        std::string timeout = FindHeaderParam("timeout", "=", value.substr(semicolon), ";\r\n");
        if (timeout.empty()) {
            session_.clear();
        } else {
            sessionTimeout_ = LeadingNumber(timeout);
            if (sessionTimeout_ == 0) sessionTimeout_ = 30;
        }
    }
    return !session_.empty();
}

bool CRTSPResponseParser::ReadChallenge(const std::string& value) {
    // One header may hold several challenges ("Basic realm=x, Digest ...",
    // RFC 7235 section 4.1).
    bool readable = true;
    for (const Web::HttpChallenge& challenge : Web::ParseChallenges({value})) {
        readable = TakeChallenge(challenge) && readable;
    }
    return readable;
}

bool CRTSPResponseParser::TakeChallenge(const Web::HttpChallenge& challenge) {
    int32_t offered = kRtspAuthNone;
    if (challenge.scheme == Web::kHttpAuthDigest) {
        offered = kRtspAuthDigest;
    } else if (challenge.scheme == Web::kHttpAuthBasic) {
        offered = kRtspAuthBasic;
    }
    // Of several challenges in one reply the strongest is answered, wherever
    // the server lists it: the password goes out in the clear only to a
    // server that offers nothing else.
    if (digestOffered_ && offered != kRtspAuthDigest) return true;
    if (basicOffered_ && offered == kRtspAuthNone) return true;
    basicOffered_ = basicOffered_ || offered == kRtspAuthBasic;
    challengeScheme_ = offered;
    realm_ = challenge.Param("realm");
    nonce_ = challenge.Param("nonce");
    opaque_ = challenge.Param("opaque");
    // qop is a list of options (RFC 2617 section 3.2.1); "auth" is the one
    // a request without a body can answer.
    qopAuth_ = challenge.QopAuth();
    if (offered == kRtspAuthDigest) {
        digestOffered_ = true;
        return !realm_.empty() && !nonce_.empty();
    }
    return true;
}

bool CRTSPResponseParser::ParseSessionDescription(const std::string& body) {
    // The kind of the media section the lines belong to, and the kind whose
    // first control line is still to come.
    int32_t section = kRtspMediaNone;
    int32_t controlKind = kRtspMediaNone;
    size_t pos = 0;
    std::string line;
    while (pos != kEndMarker && pos < body.size()) {
        // The last line counts even without its line end.
        ReadLine(body, pos, line);
        const std::string lower = ToLower(line);
        bool ok = true;
        // Each line is known by its own type and attribute name.
        if (lower.compare(0, 10, "a=control:") == 0) {
            ok = ReadControlLine(line, controlKind);
        } else if (lower.compare(0, 7, "a=fmtp:") == 0) {
            // Another media's parameters (an audio "config", say) must not
            // replace the decoder configuration of the one set up.
            if (section == selectedMedia_) ok = ReadFormatLine(line);
        } else if (lower.compare(0, 2, "m=") == 0) {
            ok = ReadMediaLine(line, section, controlKind);
        }
        if (!ok) return false;
    }
    return true;
}

bool CRTSPResponseParser::ReadMediaLine(const std::string& line, int32_t& section, int32_t& controlKind) {
    std::string value = FindHeaderParam("m", "=", line, "\r\n");
    if (value.empty()) return false;
    std::vector<std::string> pieces = SplitText(value, ' ');
    if (pieces.empty()) return false;
    const std::string type = ToLower(pieces[0]);
    if (type.empty()) return false;
    int32_t kind = kRtspMediaNone;
    if (type == "video") {
        kind = kRtspMediaVideo;
    } else if (type == "audio") {
        kind = kRtspMediaAudio;
    } else if (type == "metadata") {
        kind = kRtspMediaMetadata;
    }
    section = kind;
    controlKind = kind;
    if (kind != kRtspMediaNone && pieces.size() >= 3) media_[kind - 1].profile = pieces[2];
    return true;
}

bool CRTSPResponseParser::ReadControlLine(const std::string& line, int32_t& controlKind) {
    static const std::string kPrefix = "a=control:";
    std::string value;
    bool read = false;
    if (line.compare(0, kPrefix.size(), kPrefix) == 0) {
        size_t i = kPrefix.size();
        read = ScanToken(line, i, kMaxToken, value);
    }
    if (controlKind != kRtspMediaNone) media_[controlKind - 1].control = value;
    controlKind = kRtspMediaNone;
    return read;
}

bool CRTSPResponseParser::ReadFormatLine(const std::string& line) {
    size_t blank = line.find_first_of(" \t");
    const std::string parameters = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    const std::string sets = FindHeaderParam("sprop-parameter-sets", "=", parameters, ";\r\n");
    if (sets.empty()) {
        const std::string config = FindHeaderParam("config", "=", parameters, ";\r\n");
        // Many H.264 cameras send their parameter sets only in the stream.
        if (config.empty()) return true;
        mediaConfig_.config = HexToBytes(config);
        return !mediaConfig_.config.empty();
    }
    // The sets that are there are kept: an SPS alone gives the picture size,
    // and a missing PPS may come in the stream.
    std::vector<std::string> pieces = SplitText(sets, ',');
    pieces.resize(2);
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
    StoreParameterSet(TrimBlanks(pieces[0]), sps);
    StoreParameterSet(TrimBlanks(pieces[1]), pps);
    if (sps.empty() && pps.empty()) return false;
    mediaConfig_.sps = std::move(sps);
    mediaConfig_.pps = std::move(pps);
    return true;
}

}  // namespace telvaro
